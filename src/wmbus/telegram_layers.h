#pragma once

#include "receiver_frame.h"
#include "transport_layer.h"

#include <cstdint>

namespace palvero {

namespace ci {
constexpr uint8_t ExtendedLinkEncrypted = 0x8D;      // CC, ACC, SN, payload CRC
constexpr uint8_t ExtendedLinkEncryptedSecond = 0x8F; // the same with a second address
constexpr uint8_t AuthenticationFragmentation = 0x90;
constexpr uint8_t CompactNoHeader = 0x79;
constexpr uint8_t CompactShortHeader = 0x7B;
constexpr uint8_t CompactLongHeader = 0x73;
} // namespace ci

// The extended link layer between the link layer and the rest (CI 0x8C to 0x8F). Offsets
// are frame offsets, -1 where the layer has no such field.
struct ExtendedLinkLayer {
    int at = -1; // its CI field; -1: the telegram has none
    uint8_t ci = 0;
    int communicationControl = -1;
    int accessNumber = -1;
    int secondAddress = -1; // M (2), A (6) of CI 0x8E and 0x8F
    int sessionNumber = -1; // 4 bytes, least significant first
    int payloadCrc = -1;    // 2 bytes, least significant first; what follows is the payload
    int encryption = 0;     // bits 29-31 of the session number: 0 none, 1 AES-128 in counter mode
    int end = -1;           // first byte after the layer

    bool present() const { return at >= 0; }
    bool hasPayloadCrc() const { return payloadCrc >= 0; }
};

// The authentication and fragmentation layer (CI 0x90).
struct AuthenticationLayer {
    int at = -1;
    int length = 0;         // AFLL: bytes after the length byte
    uint16_t control = 0;   // FCL
    int messageControl = -1;
    int keyInformation = -1;
    int messageCounter = -1; // 4 bytes, least significant first
    int mac = -1;
    int macLength = 0;
    int messageLength = -1;
    int end = -1;            // first byte after the layer: the transport layer's CI

    bool present() const { return at >= 0; }
    // More fragments of this message follow: the transport layer is not whole here.
    bool fragmented() const { return (control & 0x4000) != 0; }
};

// Every layer of one telegram as its bytes stand, read once: the link layer's CI, the
// extended link layer, the authentication layer, the transport header and the compact
// frame fields. Decryption, the record walk, the listing and the JSON report all read
// their offsets from here. The layers after an encrypted extended link layer are read
// only once its payload is readable; until then `readable` is false.
struct TelegramLayers {
    ExtendedLinkLayer link;   // the extended link layer
    AuthenticationLayer auth; // the authentication and fragmentation layer
    // The transport header and the payload. Its `ci` is the link layer's CI field and
    // `innerCi` the one after an extended link layer, as the table has always read them.
    TransportLayout transport;
    uint8_t applicationCi = 0;  // the CI that tells the layout of the application data
    int applicationCiAt = -1;
    int configurationExtension = -1; // mode 7: one byte after the configuration word
    int dataEnd = -1;                // last byte of telegram data
    bool readable = true;            // false while an extended link layer hides the rest

    // Compact frame: the format signature and the data check, least significant first.
    bool compact() const
    {
        return applicationCi == ci::CompactNoHeader || applicationCi == ci::CompactShortHeader
            || applicationCi == ci::CompactLongHeader;
    }
    // Read through a layer that the older decoding rules did not know: an extended link
    // layer with a session number, an authentication layer, a compact frame or mode 7.
    bool hasFurtherLayers() const
    {
        return link.hasPayloadCrc() || auth.present() || compact() || configurationExtension >= 0;
    }
    // Bytes of the payload through the end of telegram data.
    int payloadLength() const { return dataEnd >= transport.payload ? dataEnd - transport.payload + 1 : 0; }
};

// Reads the layers of `f` whose telegram data end at `dataEnd` (inclusive; bounded to the
// frame here). No offset is read past the data: a field cut off stays where it would
// be, and byteAt() gives 0 for it.
TelegramLayers readTelegramLayers(const ReceiverFrame& f, int dataEnd);
TelegramLayers readTelegramLayers(const ReceiverFrame& f, const DecodeOptions& s);

// After the payload of an extended link layer was decrypted in place and its payload CRC
// matched: marks the telegram readable and reads the layers behind it.
void rereadAfterLinkDecryption(const ReceiverFrame& f, TelegramLayers& layers);

// The payload CRC of an extended link layer matches the bytes after it.
bool linkPayloadCrcMatches(const ReceiverFrame& f, const ExtendedLinkLayer& ell, int dataEnd);

// The configuration word of the transport header (both bytes 0 where there is none).
ConfigurationWord configurationWord(const ReceiverFrame& f, const TelegramLayers& layers);

// MAC length in bytes of the authentication type in the message control byte's low bits.
int authenticationMacLength(uint8_t messageControl);

} // namespace palvero

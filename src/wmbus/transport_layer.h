#pragma once

#include "receiver_frame.h"

#include <cstdint>

namespace palvero {

namespace ci {
constexpr uint8_t Alarm = 0x71;
constexpr uint8_t LongHeader = 0x72;
constexpr uint8_t NoHeader = 0x78;
constexpr uint8_t ShortHeader = 0x7A;
constexpr uint8_t ExtendedLinkShort = 0x8C;
constexpr uint8_t ExtendedLinkSecondAddress = 0x8E;
} // namespace ci

// Where the fields of the transport header sit in a frame, by CI field (and inner CI
// after an extended link layer and an authentication layer). Offsets are -1 where the
// telegram has no such field.
struct TransportLayout {
    uint8_t ci = 0;
    uint8_t innerCi = 0;
    int communicationControl = -1; // extended link layer CC
    int accessNumber = -1;
    int status = -1;
    int configuration = -1;        // configuration word, low byte; the high byte follows
    int longHeader = -1;           // meter address of a long header: ID (4), M (2), version, type
    int payload = frame::kCi + 1;  // first byte of application data

    // The meter's own device type: from the long header where there is one.
    int deviceTypeOffset() const { return longHeader >= 0 ? longHeader + 7 : frame::kDeviceType; }
};

// The transport part of readTelegramLayers() for a frame taken whole as telegram data.
// Without the receiver settings the payload CRC of an extended link layer cannot be
// checked: the reading pipeline reads the layers with its settings instead.
TransportLayout transportLayout(const ReceiverFrame& f);

// The transport header's configuration word (both bytes 0 where there is none).
struct ConfigurationWord {
    uint8_t low = 0;
    uint8_t high = 0;

    // Bits 0-4 of the high byte: 0 none, 4, 5 and 7 AES-128 CBC, the others not read here.
    int securityMode() const { return high & 0x1F; }
    // Bits 4-7 of the low byte: how many 16-byte blocks the meter encrypted.
    int encryptedBlocks() const { return low >> 4; }
    // The header says the payload is encrypted.
    bool encrypted() const { return (low != 0 || high != 0) && securityMode() != 0; }
};
ConfigurationWord configurationWord(const ReceiverFrame& f, const TransportLayout& t);

// The byte at `offset`, or 0 for an offset outside the frame.
inline uint8_t byteAt(const ReceiverFrame& f, int offset)
{
    return offset >= 0 && static_cast<size_t>(offset) < f.size() ? f[static_cast<size_t>(offset)] : 0;
}

} // namespace palvero

#include "telegram_layers.h"

#include "crc16.h"

#include <algorithm>

namespace palvero {

namespace {

// A layer's field byte: 0 past the end of telegram data, as past the frame.
uint8_t fieldByte(const ReceiverFrame& f, const TelegramLayers& l, int offset)
{
    return offset <= l.dataEnd ? byteAt(f, offset) : 0;
}

void readExtendedLink(const ReceiverFrame& f, int at, TelegramLayers& l)
{
    ExtendedLinkLayer& e = l.link;
    e.at = at;
    e.ci = fieldByte(f, l, at);
    e.communicationControl = at + 1;
    e.accessNumber = at + 2;
    int next = at + 3;
    if (e.ci == ci::ExtendedLinkSecondAddress || e.ci == ci::ExtendedLinkEncryptedSecond) {
        e.secondAddress = next;
        next += 8;
    }
    if (e.ci == ci::ExtendedLinkEncrypted || e.ci == ci::ExtendedLinkEncryptedSecond) {
        e.sessionNumber = next;
        e.encryption = fieldByte(f, l, next + 3) >> 5;
        next += 4;
        e.payloadCrc = next;
        next += 2;
    }
    e.end = next;
    l.transport.communicationControl = e.communicationControl;
}

void readAuthentication(const ReceiverFrame& f, int at, TelegramLayers& l)
{
    AuthenticationLayer& a = l.auth;
    a.at = at;
    a.length = fieldByte(f, l, at + 1);
    a.end = at + 2 + a.length;
    a.control = static_cast<uint16_t>(fieldByte(f, l, at + 2) | fieldByte(f, l, at + 3) << 8);
    int next = at + 4;
    if (a.control & 0x2000)
        a.messageControl = next++;
    if (a.control & 0x0200) {
        a.keyInformation = next;
        next += 2;
    }
    if (a.control & 0x0800) {
        a.messageCounter = next;
        next += 4;
    }
    if (a.control & 0x0400) {
        a.mac = next;
        a.macLength = a.messageControl >= 0 ? authenticationMacLength(fieldByte(f, l, a.messageControl)) : 0;
        next += a.macLength;
    }
    if (a.control & 0x1000)
        a.messageLength = next;
    // A field the control word names but the layer's length leaves out is not there: its
    // bytes belong to the layer behind.
    auto within = [&a](int& at, int size) {
        if (at >= 0 && at + size > a.end)
            at = -1;
    };
    within(a.messageControl, 1);
    within(a.keyInformation, 2);
    within(a.messageCounter, 4);
    within(a.mac, a.macLength);
    if (a.mac < 0)
        a.macLength = 0;
    within(a.messageLength, 2);
}

// The transport header starting with its CI at `at`.
void readTransport(const ReceiverFrame& f, int at, TelegramLayers& l)
{
    TransportLayout& t = l.transport;
    const uint8_t c = fieldByte(f, l, at);
    l.applicationCi = c;
    l.applicationCiAt = at;
    const int h = at + 1;
    switch (c) {
    case ci::ShortHeader:
    case ci::CompactShortHeader:
        t.accessNumber = h;
        t.status = h + 1;
        t.configuration = h + 2;
        t.payload = h + 4;
        break;
    case ci::LongHeader:
    case ci::CompactLongHeader:
        t.longHeader = h;
        t.accessNumber = h + 8;
        t.status = h + 9;
        t.configuration = h + 10;
        t.payload = h + 12;
        break;
    default:
        t.payload = h;
        break;
    }
    // Security mode 7 keeps one configuration extension byte before the payload.
    if (t.configuration >= 0 && configurationWord(f, t).securityMode() == 7) {
        l.configurationExtension = t.payload;
        t.payload += 1;
    }
}

// Everything after the extended link layer (or after the link layer when there is none).
void readInner(const ReceiverFrame& f, int at, TelegramLayers& l)
{
    if (fieldByte(f, l, at) == ci::AuthenticationFragmentation && at <= l.dataEnd) {
        readAuthentication(f, at, l);
        at = l.auth.end;
    }
    if (l.link.present())
        l.transport.innerCi = fieldByte(f, l, at);
    readTransport(f, at, l);
}

} // namespace

int authenticationMacLength(uint8_t messageControl)
{
    switch (messageControl & 0x0F) {
    case 4:
        return 4;
    case 5:
        return 8;
    case 6:
    case 8:
        return 12;
    case 7:
        return 16;
    default:
        return 0;
    }
}

bool linkPayloadCrcMatches(const ReceiverFrame& f, const ExtendedLinkLayer& e, int dataEnd)
{
    if (!e.hasPayloadCrc() || e.payloadCrc + 1 > dataEnd)
        return false;
    const int from = e.payloadCrc + 2;
    const size_t n = dataEnd >= from ? static_cast<size_t>(dataEnd - from + 1) : 0;
    const uint16_t stated = static_cast<uint16_t>(byteAt(f, e.payloadCrc) | byteAt(f, e.payloadCrc + 1) << 8);
    return crc16En13757(f.data() + from, n) == stated;
}

TelegramLayers readTelegramLayers(const ReceiverFrame& f, int dataEnd)
{
    TelegramLayers l;
    l.dataEnd = std::min(dataEnd, static_cast<int>(f.size()) - 1);
    l.transport.ci = fieldByte(f, l, frame::kCi);
    switch (l.transport.ci) {
    case ci::ExtendedLinkShort:
    case ci::ExtendedLinkEncrypted:
    case ci::ExtendedLinkSecondAddress:
    case ci::ExtendedLinkEncryptedSecond:
        readExtendedLink(f, frame::kCi, l);
        if (l.link.hasPayloadCrc() && !linkPayloadCrcMatches(f, l.link, l.dataEnd)) {
            // Ciphertext (or a damaged payload): nothing behind the layer can be read yet.
            l.readable = false;
            l.transport.payload = l.link.end;
            return l;
        }
        readInner(f, l.link.end, l);
        break;
    default:
        readInner(f, frame::kCi, l);
        break;
    }
    return l;
}

TelegramLayers readTelegramLayers(const ReceiverFrame& f, const DecodeOptions& s)
{
    return readTelegramLayers(f, telegramDataEnd(f.size(), s));
}

void rereadAfterLinkDecryption(const ReceiverFrame& f, TelegramLayers& l)
{
    l.readable = true;
    readInner(f, l.link.end, l);
}

ConfigurationWord configurationWord(const ReceiverFrame& f, const TelegramLayers& l)
{
    return configurationWord(f, l.transport);
}

} // namespace palvero

#include "transport_layer.h"

namespace palvero {

namespace {

// A short (0x7A) or long (0x72) transport header starting right after its CI at `at`.
void readTransportHeader(TransportLayout& t, uint8_t headerCi, int at)
{
    if (headerCi == ci::ShortHeader) {
        t.accessNumber = at;
        t.status = at + 1;
        t.configuration = at + 2;
        t.payload = at + 4;
    } else if (headerCi == ci::LongHeader) {
        t.longHeader = at;
        t.accessNumber = at + 8;
        t.status = at + 9;
        t.configuration = at + 10;
        t.payload = at + 12;
    } else {
        t.payload = at;
    }
}

} // namespace

TransportLayout transportLayout(const ReceiverFrame& f)
{
    TransportLayout t;
    t.ci = byteAt(f, frame::kCi);
    switch (t.ci) {
    case ci::ShortHeader:
    case ci::LongHeader:
        readTransportHeader(t, t.ci, frame::kCi + 1);
        break;
    case ci::ExtendedLinkShort: // CC, ACC, inner CI
        t.communicationControl = 12;
        t.innerCi = byteAt(f, 14);
        readTransportHeader(t, t.innerCi, 15);
        break;
    case ci::ExtendedLinkSecondAddress: // CC, ACC, second address (8), inner CI
        t.communicationControl = 12;
        t.innerCi = byteAt(f, 22);
        readTransportHeader(t, t.innerCi, 23);
        break;
    default:
        break;
    }
    return t;
}

ConfigurationWord configurationWord(const ReceiverFrame& f, const TransportLayout& t)
{
    if (t.configuration < 0)
        return {};
    return {byteAt(f, t.configuration), byteAt(f, t.configuration + 1)};
}

} // namespace palvero

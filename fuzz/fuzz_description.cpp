// An arbitrary frame into the telegram's description, before and after decryption with a
// fixed key: every offset the description gives lies inside the frame (or, for a frame
// that ends before its headers do, nowhere before the frame), and every record's bytes lie
// inside the data the records were read from.
#include "payload_decryption.h"
#include "telegram_description.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace {

// Says which rule a frame broke before it stops the run.
#define check(ok) \
    do { \
        if (!(ok)) { \
            std::fprintf(stderr, "description rule broken: %s (line %d)\n", #ok, __LINE__); \
            __builtin_trap(); \
        } \
    } while (false)

// A field's first byte: absent, or inside the frame (anywhere from the frame's start on
// when the headers are cut).
void field(int at, const palvero::TelegramDescription& d, size_t size)
{
    check(at >= -1);
    if (!d.headersCut)
        check(at < static_cast<int>(size));
}

// The first byte after a layer: at most one past the telegram data.
void layerEnd(int at, const palvero::TelegramDescription& d)
{
    check(at >= -1);
    if (!d.headersCut)
        check(at <= d.layers.dataEnd + 1);
}

void checkDescription(const palvero::ReceiverFrame& f, const palvero::TelegramDescription& d)
{
    const palvero::TelegramLayers& l = d.layers;
    check(l.dataEnd < static_cast<int>(f.size()));
    for (int at : {l.link.at, l.link.communicationControl, l.link.accessNumber, l.link.secondAddress,
                   l.link.sessionNumber, l.link.payloadCrc, l.auth.at, l.auth.messageControl, l.auth.keyInformation,
                   l.auth.messageCounter, l.auth.mac, l.auth.messageLength, l.transport.communicationControl,
                   l.transport.accessNumber, l.transport.status, l.transport.configuration, l.transport.longHeader,
                   l.applicationCiAt, l.configurationExtension})
        field(at, d, f.size());
    layerEnd(l.link.end, d);
    layerEnd(l.auth.end, d);
    layerEnd(l.transport.payload, d);

    const int dataSize = static_cast<int>(d.data.size());
    if (d.compactSignature < 0)
        check(d.data.size() <= f.size());
    check(d.recordCount() >= 0 && static_cast<size_t>(d.recordCount()) <= d.records.size());
    for (int r = 0; r < d.recordCount(); ++r) {
        const palvero::RecordDescription& rec = d.record(r);
        switch (rec.kind) {
        case palvero::RecordDescription::Kind::Record:
            check(0 <= rec.dif && rec.dif < rec.vif && rec.vif < dataSize);
            check(rec.vif < rec.data && rec.data <= rec.end && rec.end <= dataSize);
            check(d.data[static_cast<size_t>(rec.dif)] == rec.difByte && d.data[static_cast<size_t>(rec.vif)] == rec.vifByte);
            break;
        case palvero::RecordDescription::Kind::ManufacturerBlock:
            check(0 <= rec.dif && rec.data == rec.dif + 1 && rec.end == dataSize);
            break;
        case palvero::RecordDescription::Kind::FormatReading:
            check(rec.dif == -1 && rec.data == -1 && d.formatFirstRecord >= 0 && r >= d.formatFirstRecord);
            break;
        }
    }
    check(d.mainRecord >= -1 && d.mainRecord < d.recordCount());
    check(d.formatFirstRecord >= -1 && d.formatFirstRecord <= d.recordCount());
    std::string value;
    for (int r = 0; r < d.recordCount(); ++r) {
        palvero::renderRecordValue(d, r, ',', value);
        palvero::recordNumber(d, r);
    }
}

struct FixedKey : palvero::PayloadKey {
    std::optional<palvero::AesKey> key() override { return palvero::AesKey{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                                                           0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F}; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t options = data[0];
    palvero::ReceiverFrame f(data + 1, data + size);
    palvero::DecodeOptions o;
    o.V1 = options & 0x01;
    o.Protocol = options & 0x02 ? "MORVANE with CRC" : "MORVANE";
    o.RSSI = options & 0x04;
    o.RSSI_v2 = options & 0x04;
    o.DecodeQundis = options & 0x08;

    static const palvero::CompactFormats compact;
    static const palvero::MeterFormats formats(palvero::knownMeterFormats());
    static palvero::TelegramDescription d; // kept, as the reading keeps it, across inputs
    palvero::describeTelegram(f, o, &compact, &formats, d);
    checkDescription(f, d);

    static palvero::PayloadDecryption decryption;
    FixedKey key;
    decryption.decrypt(f, d.layers, key);
    palvero::readApplication(f, o, &compact, &formats, d);
    checkDescription(f, d);
    return 0;
}

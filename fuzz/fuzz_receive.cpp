// Arbitrary bytes from the air, in arbitrary receive events, through frame assembly and
// the telegram processor with decryption on and keys at hand.
#include "reception.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace {

struct Keys : palvero::MeterKeySource {
    palvero::MeterKeyLookup findMeterKey(const std::string& id) override
    {
        if (id.size() == 8 && id[7] == '1')
            return {3, true, "000102030405060708090A0B0C0D0E0F"};
        if (id.size() == 8 && id[7] == '2')
            return {4, true, "not a key at all"};
        return {};
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes choose the settings and the size of the receive events.
    const uint8_t options = data[0];
    const size_t chunk = 1 + data[1] % 97;
    data += 2;
    size -= 2;

    palvero::ReadingSettings s;
    s.AES128_5 = true;
    s.UseMaster = options & 0x01;
    s.MasterKey = "2B7E151628AED2A6ABF7158809CF4F3C";
    s.UseDBMeters = options & 0x02;
    s.V1 = options & 0x04;
    s.V2 = !s.V1;
    s.Protocol = options & 0x08 ? "MORVANE with CRC" : "MORVANE";
    s.RSSI = options & 0x10;
    s.RSSI_v2 = options & 0x10;
    s.DiscardCI = options & 0x20;
    s.ReadOnce = options & 0x40;
    s.UseNotes = options & 0x80;
    s.DecodeQundis = options & 0x40;
    s.Count = options % 17;

    palvero::FixedFormats formats;
    palvero::MeterTable table(s.Count);
    table.fullDecodeMode = options & 0x02;
    Keys keys;
    palvero::Reception reception(table, s, formats, &keys);
    for (size_t at = 0; at < size; at += chunk)
        reception.receive(data + at, std::min(chunk, size - at));
    return 0;
}

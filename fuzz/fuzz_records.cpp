// An arbitrary frame straight into the record decoder and the value picks.
#include "device_types.h"
#include "record_parser.h"
#include "transport_layer.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t options = data[0];
    palvero::ReceiverFrame f(data + 1, data + size);
    palvero::ReadingSettings s;
    s.V1 = options & 0x01;
    s.V2 = !s.V1;
    s.Protocol = options & 0x02 ? "MORVANE with CRC" : "MORVANE";
    s.RSSI = options & 0x04;
    s.RSSI_v2 = options & 0x04;
    s.DecodeQundis = options & 0x08;

    palvero::DecodedRecords records;
    palvero::decodeTelegram(f, s, options & 0x10 ? ',' : '.', records);
    const uint8_t type = palvero::byteAt(f, palvero::transportLayout(f).deviceTypeOffset());
    const int main = palvero::pickMainRow(records, palvero::mainUnitText(type));
    palvero::pickAdditionalValues(records, main, options % 17, options & 0x20);
    palvero::fullDecodeLines(records, "12345678");
    const palvero::ApplicationData content = palvero::applicationData(f, s);
    if (content != palvero::ApplicationData::Records)
        palvero::undecodedListingLines(content, f, s, "12345678");
    return 0;
}

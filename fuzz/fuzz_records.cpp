// An arbitrary frame straight into the layers, the record decoder and the value picks.
// Full frames teach their formats to a store that later inputs' compact frames use.
#include "compact_formats.h"
#include "device_types.h"
#include "meter_format.h"
#include "meter_format_search.h"
#include "record_parser.h"
#include "telegram_decryption.h"
#include "telegram_layers.h"
#include "telegram_processor.h"
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

    static palvero::CompactFormats formats;
    palvero::DecodedRecords records;
    palvero::decodeTelegram(f, s, options & 0x10 ? ',' : '.', records);

    palvero::TelegramLayers layers = palvero::readTelegramLayers(f, s);
    if (layers.link.hasPayloadCrc()) {
        palvero::linkCounterBlock(f, layers.link);
        palvero::rereadAfterLinkDecryption(f, layers);
    }
    palvero::keyDerivationInput(f, layers);
    palvero::ApplicationData content = palvero::applicationData(f, layers);
    if (content == palvero::ApplicationData::Records)
        content = palvero::decodeTelegram(f, layers, s, options & 0x10 ? ',' : '.', records, &formats);
    if (content == palvero::ApplicationData::Records && records.formatComplete && formats.size() < 4096)
        formats.learn(records.formatHeaders);
    const uint8_t type = palvero::byteAt(f, layers.transport.deviceTypeOffset());
    int main = palvero::pickMainRow(records, palvero::mainUnitText(type));
    if (main < 0)
        main = palvero::pickFallbackMainRow(records, palvero::mainUnitText(type), layers.hasFurtherLayers());
    palvero::pickAdditionalValues(records, main, options % 17, options & 0x20);
    palvero::fullDecodeLines(records, "12345678");
    if (content != palvero::ApplicationData::Records)
        palvero::undecodedListingLines(content, f, layers, "12345678");

    // The meter formats: the compiled-in ones on the frame, the input as a formats file (on
    // the frame, and written back as it was read), and the search over short data.
    const palvero::FormatTelegram view = palvero::formatTelegramOf(f, layers);
    static const palvero::MeterFormats known(palvero::knownMeterFormats());
    if (const palvero::MeterFormat* format = known.find(view))
        palvero::MeterFormats::read(*format, view, '.');
    const auto text = palvero::parseMeterFormats(std::string(reinterpret_cast<const char*>(data), size));
    for (const auto& format : text) {
        if (format.matches(view))
            palvero::MeterFormats::read(format, view, ',');
    }
    const std::string written = palvero::meterFormatsText(text);
    if (palvero::meterFormatsText(palvero::parseMeterFormats(written)) != written)
        __builtin_trap();
    if (view.size <= 48) {
        palvero::TeachSample sample;
        sample.header = view;
        sample.data.assign(view.data, view.data + view.size);
        sample.reading = std::to_string(options * 37) + (options & 0x40 ? ".5" : "");
        palvero::searchMeterFormat({sample}, "m3", "fuzz");
    }

    // The format rebuilder on its own: the input's tail as a format, its head as data.
    if (f.size() > 4) {
        const size_t split = f[0] % f.size();
        std::vector<uint8_t> headers(f.begin() + static_cast<long>(split), f.end()), out;
        palvero::rebuildCompactRecords(headers, f.data(), split, out);
    }
    return 0;
}

#include "full_decode.h"

#include "meter_table.h"
#include "telegram_processor.h"

#include <exception>

namespace palvero {

namespace {

// The settings as they stand but for the filters that drop a telegram: a telegram asked
// for is decoded.
ReadingSettings askedSettings(const ReadingSettings& settings)
{
    ReadingSettings asked = settings;
    asked.DiscardCI = false;
    asked.DiscardRepeated = false;
    asked.ReadOnce = false;
    asked.Count = 0;
    return asked;
}

} // namespace

std::vector<std::string> fullDecodeOfFrame(ReceiverFrame frame, const ReadingSettings& settings,
                                           const Formats& formats, MeterKeySource* keys, const std::string& rowKey,
                                           const MeterFormats* meterFormats)
{
    const ReadingSettings asked = askedSettings(settings);

    MeterTable scratch(0);
    // The first meter takes the empty first row, so its key is there before decryption.
    scratch.setCell(1, col::EncryptionKey, rowKey);
    scratch.fullDecodeMode = true;
    TelegramProcessor processor(scratch, asked, formats, keys);
    if (meterFormats)
        processor.meterFormats() = *meterFormats;
    try {
        processor.process(frame);
    } catch (const std::exception& e) {
        scratch.addReaderLogLine(e.what());
    }
    std::vector<std::string> lines = std::move(scratch.fullDecodeListing);
    for (auto& line : scratch.readerLog)
        lines.push_back(std::move(line));
    return lines;
}

std::optional<TeachSample> teachSampleOfFrame(ReceiverFrame frame, const ReadingSettings& settings,
                                              const Formats& formats, MeterKeySource* keys,
                                              const std::string& rowKey, std::string& why)
{
    const ReadingSettings asked = askedSettings(settings);
    MeterTable scratch(0);
    scratch.setCell(1, col::EncryptionKey, rowKey);
    TelegramProcessor processor(scratch, asked, formats, keys);
    std::optional<TeachSample> sample;
    processor.telegramRead = [&](int, const ReceiverFrame& f) {
        const ApplicationData content = processor.lastContent();
        if (content == ApplicationData::Encrypted) {
            why = "still encrypted: enter the meter's key first";
            return;
        }
        if (!meterFormatMayRead(content)) {
            why = "one fragment of a longer message";
            return;
        }
        sample = teachSampleOf(f, processor.lastLayers());
        const DecodedRecords& records = processor.decodedRecords();
        for (int r = 0; r < records.recordCount(); ++r)
            sample->recordUnits.push_back(records.cell(r, DecodedRecords::Unit));
    };
    try {
        processor.process(frame);
    } catch (const std::exception& e) {
        why = e.what();
        return std::nullopt;
    }
    if (!sample && why.empty())
        why = "not read";
    return sample;
}

} // namespace palvero

#include "telegram_processor.h"

#include "device_types.h"
#include "transport_layer.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace palvero {

namespace {

// The "No." after a cell's number: anything that is not a whole number counts as 0. An
// imported number too large for the type stops at the largest one instead of wrapping.
int64_t nextRowNumber(const std::string& text)
{
    constexpr int64_t kLargest = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    if (res.ptr != text.data() + text.size())
        return 1;
    if (res.ec == std::errc::result_out_of_range)
        return text[0] == '-' ? std::numeric_limits<int64_t>::min() + 1 : kLargest;
    if (res.ec != std::errc())
        return 1;
    return value == kLargest ? kLargest : value + 1;
}

bool isRepeated(const ReceiverFrame& f, const TransportLayout& t)
{
    if (t.communicationControl >= 0)
        return (byteAt(f, t.communicationControl) & 0x10) != 0;
    // Only the short and long transport headers carry a configuration word here.
    if (t.ci == ci::ShortHeader || t.ci == ci::LongHeader)
        return (byteAt(f, t.configuration) & 0x01) != 0;
    return false;
}

} // namespace

std::string meterIdText(const ReceiverFrame& f)
{
    std::string id;
    for (int i = frame::kId + 3; i >= frame::kId; --i)
        id += hexByte(byteAt(f, i));
    return id;
}

std::string manufacturerText(uint8_t low, uint8_t high)
{
    const unsigned m = low | (static_cast<unsigned>(high) << 8);
    return {static_cast<char>(64 + ((m >> 10) & 0x1F)), static_cast<char>(64 + ((m >> 5) & 0x1F)),
            static_cast<char>(64 + (m & 0x1F))};
}

bool isKnownCi(uint8_t c)
{
    switch (c) {
    case 0x71:
    case 0x72:
    case 0x78:
    case 0x7A:
    case 0x8C:
    case 0x8D:
    case 0x8E:
    case 0xA0:
    case 0xA2:
        return true;
    default:
        return false;
    }
}

TelegramProcessor::TelegramProcessor(MeterTable& table, const ReadingSettings& settings, const Formats& formats,
                                     MeterKeySource* keys)
    : m_table(table)
    , m_settings(settings)
    , m_formats(formats)
    , m_decryption(table, settings, keys)
{
}

void TelegramProcessor::process(ReceiverFrame& f)
{
    if (f.size() < frame::kMinimumLength)
        throw FrameTooShort(f.size());

    const uint8_t ciField = f[frame::kCi];
    if (m_settings.DiscardCI && !isKnownCi(ciField)) {
        const DateTime now = m_formats.now();
        m_table.addReaderLogLine("Wrong CI-field - " + hexByte(ciField) + ", full frame below, at "
                                 + m_formats.timeText(now) + ", " + m_formats.dateText(now));
        m_table.addReaderLogLine(hexBytesSpaced(f.data(), f.size()));
        m_table.notifyStatusText(0, "Wrong CI-field - " + hexByte(ciField));
        return;
    }

    const TransportLayout t = transportLayout(f);
    const uint8_t status = t.status >= 0 ? byteAt(f, t.status) : 0;
    const bool repeated = isRepeated(f, t);
    if (m_settings.DiscardRepeated && repeated)
        return;

    const std::string meterId = meterIdText(f);
    int row = m_table.findMeterRow(meterId);
    const bool known = row > 0;
    if (!known) {
        if (m_table.doNotAddNew)
            return;
        row = m_table.isFresh() ? 1 : m_table.appendRow();
    }

    if (m_settings.AES128_5)
        m_decryption.decrypt(row, meterId, f);
    m_table.setFlag(RowFlag::Repeated, row, repeated);
    m_table.setFlag(RowFlag::LowBattery, row, (status & 0x04) != 0);

    if (m_settings.ReadOnce && known) {
        const bool fullyRead = !m_table.cell(row, col::ControlFields).empty() && !m_table.cell(row, col::Mfr).empty()
            && !m_table.cell(row, col::Medium).empty() && !m_table.cell(row, col::MainValue).empty()
            && !m_table.cell(row, col::Units).empty();
        if (fullyRead)
            return;
    }

    try {
        updateRow(row, meterId, f, t, status);
    } catch (const std::exception& e) {
        m_table.lastReadRow = 0;
        m_table.addReaderLogLine(m_formats.dateText(m_formats.now()) + ": " + e.what());
    }
}

void TelegramProcessor::updateRow(int row, const std::string& meterId, const ReceiverFrame& f,
                                  const TransportLayout& layout, uint8_t status)
{
    MeterTable& t = m_table;

    char number[24];
    auto end = std::to_chars(number, number + sizeof number, nextRowNumber(t.cell(row - 1, col::No))).ptr;
    t.setCell(row, col::No, std::string_view(number, static_cast<size_t>(end - number)));
    t.setCell(row, col::MeterId, meterId);
    end = std::to_chars(number, number + sizeof number, f[frame::kVersion]).ptr;
    t.setCell(row, col::FirmwareVersion, std::string_view(number, static_cast<size_t>(end - number)));
    static const char hex[] = "0123456789ABCDEF";
    char control[] = "L=0x.., C=0x.., Status=0x..";
    const uint8_t shown[3] = {f[1], f[frame::kC], status};
    const int at[3] = {4, 12, 25};
    for (int i = 0; i < 3; ++i) {
        control[at[i]] = hex[shown[i] >> 4];
        control[at[i] + 1] = hex[shown[i] & 0x0F];
    }
    t.setCell(row, col::ControlFields, control);
    t.setCell(row, col::Mfr, manufacturerText(f[frame::kManufacturer], f[frame::kManufacturer + 1]));
    const uint8_t deviceType = byteAt(f, layout.deviceTypeOffset());
    t.setCell(row, col::Medium, mediumText(deviceType));
    // The meter's own identification number from a long header: behind a radio converter
    // (an extended link layer) the link address is the converter's.
    std::string auxiliary;
    if (layout.longHeader >= 0)
        for (int i = layout.longHeader + 3; i >= layout.longHeader; --i)
            auxiliary += hexByte(byteAt(f, i));
    t.setCell(row, col::AuxiliaryId, auxiliary);
    t.setCell(row, col::Rssi, rssiText(f, m_settings));
    t.setCell(row, col::FullTelegram, "N/A");
    const DateTime now = m_formats.now();
    t.setCell(row, col::Time, m_formats.timeText(now));
    t.setCell(row, col::Date, m_formats.dateText(now));

    if (m_settings.UseNotes) {
        if (layout.ci == ci::ShortHeader)
            t.setCell(row, col::Notes, encryptionDescription(byteAt(f, 14), byteAt(f, 15)));
        else if (layout.ci == ci::LongHeader)
            t.setCell(row, col::Notes, encryptionDescription(byteAt(f, 22), byteAt(f, 23)));
        else if (layout.ci == ci::NoHeader) {
            t.setCell(row, col::Notes, "Not encrypted (no header)");
            t.setFlag(RowFlag::Decrypted, row, true);
        } else if (layout.ci == ci::Alarm)
            t.setCell(row, col::Notes, "Alarm request by the meter");
    }

    t.recountMediumCounters();
    const ApplicationData content = applicationData(f, m_settings);
    if (content == ApplicationData::Records) {
        decodeTelegram(f, m_settings, m_formats.decimalSeparator(), m_records);
        const std::string mainUnit = mainUnitText(deviceType);
        const int mainRow = pickMainRow(m_records, mainUnit);
        if (mainRow >= 0) {
            t.setCell(row, col::MainValue, m_records.cell(mainRow, DecodedRecords::Value));
            t.setCell(row, col::Units, mainUnit);
        }
        const int slots = std::clamp(m_settings.Count, 0, kMaxAdditionalValues);
        auto values = pickAdditionalValues(m_records, mainRow, slots, m_settings.RemoveUnit);
        for (int k = 0; k < slots; ++k)
            t.setCell(row, col::FirstAdditional + k, values[static_cast<size_t>(k)]);
    } else {
        // Nothing readable: the values the row holds stay, and so does a later key's chance.
        m_records.clear();
    }

    if (t.fullDecodeMode) {
        auto lines = content == ApplicationData::Records ? fullDecodeLines(m_records, meterId)
                                                         : undecodedListingLines(content, f, m_settings, meterId);
        for (auto& line : lines)
            t.fullDecodeListing.push_back(std::move(line));
    }

    t.lastReadRow = row;
    t.notifyStatusText(0, "Last read device: " + meterId);
    t.notifyRowUpdated(row);
}

} // namespace palvero

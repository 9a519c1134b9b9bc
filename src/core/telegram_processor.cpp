#include "telegram_processor.h"

#include "device_types.h"
#include "transport_layer.h"
#include "value_format.h"

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
    case 0x8F:
    case 0x90:
    case 0x73:
    case 0x79:
    case 0x7B:
    case 0xA0:
    case 0xA2:
        return true;
    default:
        return false;
    }
}

FormatTelegram formatTelegramOf(const ReceiverFrame& f, const TelegramLayers& layers)
{
    FormatTelegram t;
    t.manufacturer = static_cast<uint16_t>(byteAt(f, frame::kManufacturer) | byteAt(f, frame::kManufacturer + 1) << 8);
    t.version = byteAt(f, frame::kVersion);
    t.deviceType = byteAt(f, frame::kDeviceType);
    t.linkCi = byteAt(f, frame::kCi);
    t.applicationCi = layers.applicationCi;
    const int from = layers.transport.payload;
    const int to = std::min(layers.dataEnd, static_cast<int>(f.size()) - 1);
    if (from >= 0 && from <= to) {
        t.data = f.data() + from;
        t.size = static_cast<size_t>(to - from + 1);
    }
    return t;
}

TeachSample teachSampleOf(const ReceiverFrame& f, const TelegramLayers& layers)
{
    TeachSample s;
    s.header = formatTelegramOf(f, layers);
    s.data.assign(s.header.data, s.header.data + s.header.size);
    s.header.data = nullptr;
    s.header.size = 0;
    if (layers.compact()) {
        const int at = compactSignatureOffset(f, layers) - layers.transport.payload;
        if (at >= 0 && static_cast<size_t>(at) + 2 <= s.data.size())
            s.layout.push_back({at, {s.data[static_cast<size_t>(at)], s.data[static_cast<size_t>(at) + 1]}});
    }
    return s;
}

bool meterFormatMayRead(ApplicationData content)
{
    return content != ApplicationData::Encrypted && content != ApplicationData::Fragment;
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
        const DateTime now = this->now();
        m_table.addReaderLogLine("Wrong CI-field - " + hexByte(ciField) + ", full frame below, at "
                                 + m_formats.timeText(now) + ", " + m_formats.dateText(now));
        m_table.addReaderLogLine(hexBytesSpaced(f.data(), f.size()));
        m_table.notifyStatusText(0, "Wrong CI-field - " + hexByte(ciField));
        return;
    }

    m_layers = readTelegramLayers(f, m_settings);
    const bool repeated = isRepeated(f, m_layers.transport);
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
        m_decryption.decrypt(row, meterId, f, m_layers);
    // Read after decryption: behind an extended link layer the header was ciphertext.
    const TransportLayout& t = m_layers.transport;
    const uint8_t status = t.status >= 0 ? byteAt(f, t.status) : 0;
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
        updateRow(row, meterId, f, m_layers, status);
    } catch (const std::exception& e) {
        m_table.lastReadRow = 0;
        m_table.addReaderLogLine(m_formats.dateText(now()) + ": " + e.what());
    }
}

void TelegramProcessor::updateRow(int row, const std::string& meterId, const ReceiverFrame& f,
                                  const TelegramLayers& layers, uint8_t status)
{
    MeterTable& t = m_table;
    const TransportLayout& layout = layers.transport;

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
    const DateTime heard = now();
    t.setCell(row, col::Time, m_formats.timeText(heard));
    t.setCell(row, col::Date, m_formats.dateText(heard));

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
    ApplicationData content = applicationData(f, layers);
    if (content == ApplicationData::Records)
        content = decodeTelegram(f, layers, m_settings, m_formats.decimalSeparator(), m_records, &m_compactFormats);
    m_content = content;
    m_mainValue.clear();
    m_mainUnit.clear();
    m_formatName.clear();
    m_formatFirstRow = -1;
    const std::string deviceMainUnit = mainUnitText(deviceType);
    int mainRow = -1;
    bool ownUnit = false;
    if (content == ApplicationData::Records) {
        learnFormat();
        // Behind the further layers a meter may send a billing-date value of the main
        // quantity before its current one: only a current value is the meter's total.
        mainRow = layers.hasFurtherLayers() ? pickCurrentMainRow(m_records, deviceMainUnit)
                                            : pickMainRow(m_records, deviceMainUnit);
        // Another scale of the main quantity (or, without a main unit, the meter's volume
        // or energy) is shown in the record's own unit. A device type without a main unit
        // shows none in the telegram layouts the table has always read.
        ownUnit = mainRow < 0;
        if (ownUnit)
            mainRow = pickFallbackMainRow(m_records, deviceMainUnit, layers.hasFurtherLayers());
    } else {
        // Nothing readable: the values the row holds stay, and so does a later key's chance.
        m_records.clear();
        tellCompactProblem(content, meterId);
    }
    // A meter format reads what no standard record gives, never in place of one.
    if (mainRow < 0 && meterFormatMayRead(content)) {
        mainRow = readByMeterFormat(f, layers);
        ownUnit = true;
    }
    m_mainRow = mainRow;
    if (mainRow >= 0) {
        m_mainValue = m_records.cell(mainRow, DecodedRecords::Value);
        m_mainUnit = ownUnit ? m_records.cell(mainRow, DecodedRecords::Unit) : deviceMainUnit;
        t.setCell(row, col::MainValue, m_mainValue);
        t.setCell(row, col::Units, m_mainUnit);
    }
    if (content == ApplicationData::Records || m_formatFirstRow >= 0) {
        const int slots = std::clamp(m_settings.Count, 0, kMaxAdditionalValues);
        auto values = pickAdditionalValues(m_records, mainRow, slots, m_settings.RemoveUnit);
        for (int k = 0; k < slots; ++k)
            t.setCell(row, col::FirstAdditional + k, values[static_cast<size_t>(k)]);
    }

    if (t.fullDecodeMode) {
        auto lines = content == ApplicationData::Records ? fullDecodeLines(m_records, meterId)
                                                         : undecodedListingLines(content, f, layers, meterId);
        if (content != ApplicationData::Records && m_formatFirstRow >= 0) {
            // The meter format's readings after the line that says why no record was read.
            auto read = fullDecodeLines(m_records, meterId);
            lines.insert(lines.end() - 1, std::make_move_iterator(read.begin() + 1),
                         std::make_move_iterator(read.end() - 1));
        }
        for (auto& line : lines)
            t.fullDecodeListing.push_back(std::move(line));
    }

    t.lastReadRow = row;
    t.notifyStatusText(0, "Last read device: " + meterId);
    t.notifyRowUpdated(row);
    if (telegramRead)
        telegramRead(row, f);
}

int TelegramProcessor::readByMeterFormat(const ReceiverFrame& f, const TelegramLayers& layers)
{
    if (m_meterFormats.empty())
        return -1;
    const FormatTelegram telegram = formatTelegramOf(f, layers);
    const MeterFormat* format = m_meterFormats.find(telegram);
    if (!format)
        return -1;
    // Records that carry the quantity read it: which of them is the main value is theirs to
    // say (a device type without a main unit shows none), not the format's.
    const std::string& unit = format->mainReading()->unit;
    for (int r = 0; r < m_records.recordCount(); ++r)
        if (m_records.cell(r, DecodedRecords::Unit) == unit)
            return -1;
    m_formatName = format->name;
    m_formatFirstRow = m_records.recordCount();
    int mainRow = -1;
    const FormatReading* main = format->mainReading();
    // Written into the rows' own buffers, as the record walk does: nothing is allocated
    // per telegram once the rows have grown.
    for (const FormatReading& reading : format->readings) {
        const auto raw = readFieldValue(reading.field, telegram.data, telegram.size);
        if (!raw)
            continue;
        auto& r = m_records.addRow();
        char number[12];
        const auto end = std::to_chars(number, number + sizeof number, m_records.recordCount()).ptr;
        r[DecodedRecords::Number].assign(number, end);
        renderScaledTo(r[DecodedRecords::Value], *raw, reading.field.scale, 19, m_formats.decimalSeparator());
        r[DecodedRecords::Unit].assign(reading.unit);
        r[DecodedRecords::Description].assign("Meter format ").append(format->name);
        if (&reading == main)
            mainRow = m_records.recordCount() - 1;
    }
    return mainRow;
}

void TelegramProcessor::learnFormat()
{
    // Meters of one kind repeat one format: the last one heard needs no new signature.
    if (!m_records.formatComplete || m_records.formatHeaders == m_lastFormat)
        return;
    m_lastFormat = m_records.formatHeaders;
    if (m_compactFormats.learn(m_records.formatHeaders) == CompactFormats::Learned::NewNotSaved && !m_toldFormatsFile) {
        m_toldFormatsFile = true;
        m_table.addReaderLogLine("Compact frame formats cannot be saved to " + m_compactFormats.file().string());
    }
}

void TelegramProcessor::tellCompactProblem(ApplicationData content, const std::string& meterId)
{
    if (content != ApplicationData::UnknownFormat && content != ApplicationData::FormatMismatch)
        return;
    if (!m_toldCompact.insert(meterId).second)
        return;
    const uint16_t signature = static_cast<uint16_t>(m_records.compactSignature);
    const std::string format = hexByte(static_cast<uint8_t>(signature >> 8)) + hexByte(static_cast<uint8_t>(signature));
    m_table.addReaderLogLine("Compact frame from meter " + meterId
                             + (content == ApplicationData::UnknownFormat
                                    ? ": format " + format + " is unknown until a full frame of it is heard"
                                    : ": data check fails for format " + format)
                             + ", not decoded");
}

} // namespace palvero

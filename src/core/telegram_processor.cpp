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

} // namespace

TelegramProcessor::TelegramProcessor(MeterTable& table, const ReadingSettings& settings, const Formats& formats,
                                     MeterKeySource* keys)
    : m_table(table)
    , m_settings(settings)
    , m_formats(formats)
    , m_decryption(table, settings, keys)
{
}

const DecodedRecords& TelegramProcessor::decodedRecords() const
{
    if (!m_recordsFilled) {
        fillDecodedRecords(m_description, m_formats.decimalSeparator(), m_records);
        m_recordsFilled = true;
    }
    return m_records;
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

    TelegramDescription& d = m_description;
    readTelegramHeader(f, m_settings, d);
    if (m_settings.DiscardRepeated && d.repeated)
        return;

    d.meterIdTo(m_meterId);
    int row = m_table.findMeterRow(d.identification);
    const bool known = row > 0;
    if (!known) {
        if (m_table.doNotAddNew)
            return;
        row = m_table.isFresh() ? 1 : m_table.appendRow();
    }

    if (m_settings.AES128_5)
        m_decryption.decrypt(row, m_meterId, f, d.layers);
    // Read after decryption: behind an extended link layer the header was ciphertext.
    const TransportLayout& t = d.layers.transport;
    const uint8_t status = t.status >= 0 ? byteAt(f, t.status) : 0;
    m_table.setFlag(RowFlag::Repeated, row, d.repeated);
    m_table.setFlag(RowFlag::LowBattery, row, (status & 0x04) != 0);

    if (m_settings.ReadOnce && known) {
        const bool fullyRead = !m_table.cell(row, col::ControlFields).empty() && !m_table.cell(row, col::Mfr).empty()
            && !m_table.cell(row, col::Medium).empty() && !m_table.cell(row, col::MainValue).empty()
            && !m_table.cell(row, col::Units).empty();
        if (fullyRead)
            return;
    }

    try {
        updateRow(row, f, status);
    } catch (const std::exception& e) {
        m_table.lastReadRow = 0;
        m_table.addReaderLogLine(m_formats.dateText(now()) + ": " + e.what());
    }
}

void TelegramProcessor::updateRow(int row, const ReceiverFrame& f, uint8_t status)
{
    MeterTable& t = m_table;
    TelegramDescription& d = m_description;
    const TransportLayout& layout = d.layers.transport;
    const std::string& meterId = m_meterId;
    const char separator = m_formats.decimalSeparator();

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
    const unsigned m = d.manufacturer;
    const char mfr[3] = {static_cast<char>(64 + ((m >> 10) & 0x1F)), static_cast<char>(64 + ((m >> 5) & 0x1F)),
                         static_cast<char>(64 + (m & 0x1F))};
    t.setCell(row, col::Mfr, std::string_view(mfr, 3));
    const uint8_t deviceType = byteAt(f, layout.deviceTypeOffset());
    t.setCell(row, col::Medium, mediumText(deviceType));
    // The meter's own identification number from a long header: behind a radio converter
    // (an extended link layer) the link address is the converter's.
    m_text.clear();
    if (layout.longHeader >= 0)
        for (int i = layout.longHeader + 3; i >= layout.longHeader; --i) {
            const uint8_t b = byteAt(f, i);
            m_text += hex[b >> 4];
            m_text += hex[b & 0x0F];
        }
    t.setCell(row, col::AuxiliaryId, m_text);
    const int rssiAt = rssiOffset(f.size(), m_settings);
    m_text.clear();
    if (rssiAt >= 0) {
        end = std::to_chars(number, number + sizeof number, f[static_cast<size_t>(rssiAt)] >> 1).ptr;
        m_text.assign("-").append(number, end);
    }
    t.setCell(row, col::Rssi, m_text);
    t.setCell(row, col::FullTelegram, "N/A");
    const DateTime heard = now();
    t.setCell(row, col::Time, m_formats.timeText(heard));
    t.setCell(row, col::Date, m_formats.dateText(heard));

    if (m_settings.UseNotes) {
        if (layout.ci == ci::ShortHeader) {
            encryptionDescriptionTo(m_text, byteAt(f, 14), byteAt(f, 15));
            t.setCell(row, col::Notes, m_text);
        } else if (layout.ci == ci::LongHeader) {
            encryptionDescriptionTo(m_text, byteAt(f, 22), byteAt(f, 23));
            t.setCell(row, col::Notes, m_text);
        } else if (layout.ci == ci::NoHeader) {
            t.setCell(row, col::Notes, "Not encrypted (no header)");
            t.setFlag(RowFlag::Decrypted, row, true);
        } else if (layout.ci == ci::Alarm)
            t.setCell(row, col::Notes, "Alarm request by the meter");
    }

    t.recountMediumCounters();
    // The application data, read once; the row is written from what they gave.
    readApplication(f, m_settings, &m_compactFormats, &m_meterFormats, d);
    m_recordsFilled = false;
    const ApplicationData content = d.content;
    if (content == ApplicationData::Records)
        learnFormat();
    else
        tellCompactProblem(content, meterId);
    m_mainValue.clear();
    m_mainUnit.clear();
    if (d.mainRecord >= 0) {
        renderRecordValue(d, d.mainRecord, separator, m_mainValue);
        if (d.mainInOwnUnit)
            m_mainUnit.assign(d.record(d.mainRecord).unit());
        else
            m_mainUnit.assign(d.mainUnit);
        t.setCell(row, col::MainValue, m_mainValue);
        t.setCell(row, col::Units, m_mainUnit);
    }
    if (content == ApplicationData::Records || d.formatFirstRecord >= 0) {
        const int slots = std::clamp(m_settings.Count, 0, kMaxAdditionalValues);
        additionalValueRecords(d.recordCount(), d.mainRecord, slots, m_slots);
        for (int k = 0; k < slots; ++k) {
            const int record = m_slots[static_cast<size_t>(k)];
            if (record == -2)
                m_text.clear();
            else
                renderAdditionalValue(d, record, separator, m_settings.RemoveUnit, m_text);
            t.setCell(row, col::FirstAdditional + k, m_text);
        }
    }

    if (t.fullDecodeMode)
        appendListingLines(d, f, meterId, separator, t.fullDecodeListing);

    t.lastReadRow = row;
    m_text.assign("Last read device: ").append(meterId);
    t.notifyStatusText(0, m_text);
    t.notifyRowUpdated(row);
    if (telegramRead)
        telegramRead(row, f);
}

void TelegramProcessor::learnFormat()
{
    // Meters of one kind repeat one format: the last one heard needs no new signature.
    const TelegramDescription& d = m_description;
    if (!d.formatComplete || d.formatHeaders == m_lastFormat)
        return;
    m_lastFormat = d.formatHeaders;
    if (m_compactFormats.learn(d.formatHeaders) == CompactFormats::Learned::NewNotSaved && !m_toldFormatsFile) {
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
    const uint16_t signature = static_cast<uint16_t>(m_description.compactSignature);
    const std::string format = hexByte(static_cast<uint8_t>(signature >> 8)) + hexByte(static_cast<uint8_t>(signature));
    m_table.addReaderLogLine("Compact frame from meter " + meterId
                             + (content == ApplicationData::UnknownFormat
                                    ? ": format " + format + " is unknown until a full frame of it is heard"
                                    : ": data check fails for format " + format)
                             + ", not decoded");
}

} // namespace palvero

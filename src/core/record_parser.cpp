#include "record_parser.h"

#include "transport_layer.h"
#include "value_format.h"
#include "vif_tables.h"

#include <charconv>

namespace palvero {

namespace {

const std::string kEmpty;
const DecodedRecords::Row kEmptyRow{};

constexpr uint8_t kFillByte = 0x2F;

// Appends bytes from..to (inclusive) as hex, every byte followed by a space.
void appendSpaced(std::string& out, const ReceiverFrame& f, int from, int to)
{
    static const char hex[] = "0123456789ABCDEF";
    if (to < from)
        return;
    const size_t at = out.size();
    out.resize(at + 3 * static_cast<size_t>(to - from + 1));
    char* p = &out[at];
    for (int i = from; i <= to; ++i) {
        const uint8_t b = f[static_cast<size_t>(i)];
        *p++ = hex[b >> 4];
        *p++ = hex[b & 0x0F];
        *p++ = ' ';
    }
}

void setNumber(std::string& out, int number)
{
    char buf[12];
    auto res = std::to_chars(buf, buf + sizeof buf, number);
    out.assign(buf, res.ptr);
}

// Position after a byte chain that continues while the byte before has bit 7 set,
// starting with the byte at `at`; chain bytes are only taken up to `end`.
int chainEnd(const ReceiverFrame& f, int at, int end)
{
    int next = at + 1;
    while (next <= end && (f[static_cast<size_t>(next - 1)] & 0x80))
        ++next;
    return next;
}

// The record walk over telegram data `f` (cut after its last data byte) from offset `p`.
void walkRecords(const ReceiverFrame& f, int p, char decimalSeparator, DecodedRecords& records);

} // namespace

const std::string& DecodedRecords::cell(int row, int column) const
{
    if (row < 0 || row > m_count || column < 0 || column >= kColumns)
        return kEmpty;
    return m_rows[static_cast<size_t>(row)][static_cast<size_t>(column)];
}

const DecodedRecords::Row& DecodedRecords::row(int r) const
{
    return r >= 0 && r <= m_count ? m_rows[static_cast<size_t>(r)] : kEmptyRow;
}

void DecodedRecords::ensure(int rows)
{
    if (static_cast<size_t>(rows) >= m_rows.size())
        m_rows.resize(static_cast<size_t>(rows) + 1);
}

void DecodedRecords::clearRow(int r)
{
    for (auto& c : m_rows[static_cast<size_t>(r)])
        c.clear();
}

DecodedRecords::Row& DecodedRecords::addRow()
{
    ensure(m_count + 1);
    ++m_count;
    clearRow(m_count);
    return m_rows[static_cast<size_t>(m_count - 1)];
}

int firstRecordOffset(const ReceiverFrame& f)
{
    return transportLayout(f).payload;
}

bool skipsRecordDecoding(const ReceiverFrame& f, const ReadingSettings& s)
{
    const uint8_t m0 = byteAt(f, frame::kManufacturer), m1 = byteAt(f, frame::kManufacturer + 1);
    const uint8_t ciField = byteAt(f, frame::kCi);
    if (m0 == 0x68 && m1 == 0x50 && (ciField == 0xA0 || ciField == 0xA2))
        return true; // TCH private format
    if (m0 == 0x2D && m1 == 0x2C && ciField == 0x8D)
        return true; // KAM private format
    if (m0 == 0x93 && m1 == 0x44 && ciField == ci::NoHeader && s.DecodeQundis)
        return true; // QDS private format, not decoded here
    return false;
}

void decodeTelegram(const ReceiverFrame& f, const ReadingSettings& s, char decimalSeparator,
                    DecodedRecords& records)
{
    records.clear();
    if (skipsRecordDecoding(f, s))
        return;

    // Every data field, VIFE chain and text is read from the telegram data alone: the RSSI,
    // CRC and stop bytes behind them are no record's bytes.
    const int end = std::min(telegramDataEnd(f.size(), s), static_cast<int>(f.size()) - 1);
    int p = firstRecordOffset(f);
    if (end < p)
        return;
    ReceiverFrame& data = records.telegramData;
    data.assign(f.begin(), f.begin() + end + 1);
    walkRecords(data, p, decimalSeparator, records);
}

namespace {

void walkRecords(const ReceiverFrame& f, int p, char decimalSeparator, DecodedRecords& records)
{
    const int end = static_cast<int>(f.size()) - 1;
    int number = 1;
    VifInfo info;
    while (p <= end) {
        const uint8_t dif = f[static_cast<size_t>(p)];
        if (dif == kFillByte) {
            ++p;
            continue;
        }
        if ((dif & 0x0F) == 0x0F) {
            auto& row = records.addRow();
            setNumber(row[DecodedRecords::Number], number);
            appendSpaced(row[DecodedRecords::Value], f, p + 1, end);
            row[DecodedRecords::Description].assign("Manf. secific");
            return;
        }
        const int v = chainEnd(f, p, end);
        if (v > end)
            return;
        int d = chainEnd(f, v, end);
        if (d > end)
            return;
        const uint8_t vif = f[static_cast<size_t>(v)];
        decodeVif(f, v, d, info);
        const int textLength = plainTextUnitLengthOffset(vif, v, d);
        if (textLength >= 0)
            d += 1 + byteAt(f, textLength);

        auto& row = records.addRow();
        const FieldExtent field = decodeDataField(row[DecodedRecords::Value], f, d, dif, vif, info, decimalSeparator);
        setNumber(row[DecodedRecords::Number], number++);
        // Swapping hands the row's spare buffers to the next record: no copy, no allocation.
        row[DecodedRecords::Unit].swap(info.unit);
        row[DecodedRecords::Description].swap(info.description);
        appendSpaced(row[DecodedRecords::DifBytes], f, p, v - 1);
        appendSpaced(row[DecodedRecords::Vif], f, v, v);
        row[DecodedRecords::Vif].pop_back();
        appendSpaced(row[DecodedRecords::VifeBytes], f, v + 1, std::min(d, static_cast<int>(f.size())) - 1);
        if (field.overrun)
            return;
        p = d + field.length;
    }
}

} // namespace

int pickMainRow(const DecodedRecords& records, const std::string& mainUnit)
{
    for (int r = 0; r < records.recordCount(); ++r)
        if (records.cell(r, DecodedRecords::Unit) == mainUnit)
            return r;
    return -1;
}

std::vector<std::string> pickAdditionalValues(const DecodedRecords& records, int mainRow, int count,
                                              bool removeUnit)
{
    std::vector<std::string> slots(static_cast<size_t>(std::max(count, 0)));
    int start = 0;
    for (auto& slot : slots) {
        int r = start;
        while (r < records.rowCount() && r == mainRow)
            ++r;
        if (r >= records.rowCount())
            continue;
        const std::string& value = records.cell(r, DecodedRecords::Value);
        slot = removeUnit ? value : value + " " + records.cell(r, DecodedRecords::Unit);
        if (slot.size() > 32)
            slot.resize(32);
        const std::string& number = records.cell(r, DecodedRecords::Number);
        int next = r;
        if (!number.empty())
            std::from_chars(number.data(), number.data() + number.size(), next);
        start = next;
    }
    return slots;
}

ApplicationData applicationData(const ReceiverFrame& f, const ReadingSettings& s)
{
    if (isManufacturerCi(byteAt(f, frame::kCi)))
        return ApplicationData::ManufacturerDefined;
    const TransportLayout t = transportLayout(f);
    if (!configurationWord(f, t).encrypted())
        return ApplicationData::Records;
    const int end = std::min(telegramDataEnd(f.size(), s), static_cast<int>(f.size()) - 1);
    const bool plain = t.payload <= end && f[static_cast<size_t>(t.payload)] == kFillByte;
    return plain ? ApplicationData::Records : ApplicationData::Encrypted;
}

std::vector<std::string> undecodedListingLines(ApplicationData what, const ReceiverFrame& f,
                                               const ReadingSettings& s, const std::string& meterId)
{
    std::vector<std::string> lines;
    lines.push_back("Decode of telegram for device " + meterId);
    if (what == ApplicationData::Encrypted) {
        const int mode = configurationWord(f, transportLayout(f)).securityMode();
        lines.push_back("Payload is encrypted (security mode " + std::to_string(mode) + ") and was not decoded");
    } else if (what == ApplicationData::ManufacturerDefined) {
        const int from = frame::kCi + 1;
        const int end = std::min(telegramDataEnd(f.size(), s), static_cast<int>(f.size()) - 1);
        std::string line = "Manufacturer data (CI " + hexByte(byteAt(f, frame::kCi)) + "), not decoded: ";
        appendSpaced(line, f, from, end);
        lines.push_back(std::move(line));
    }
    lines.emplace_back();
    return lines;
}

std::vector<std::string> fullDecodeLines(const DecodedRecords& records, const std::string& meterId)
{
    std::vector<std::string> lines;
    lines.push_back("Decode of telegram for device " + meterId);
    for (int r = 0; r < records.recordCount(); ++r)
        lines.push_back(std::to_string(r + 1) + ". " + records.cell(r, DecodedRecords::Value) + " "
                        + records.cell(r, DecodedRecords::Unit) + ", " + records.cell(r, DecodedRecords::Description));
    lines.emplace_back();
    return lines;
}

} // namespace palvero

#include "record_parser.h"

#include "compact_formats.h"
#include "crc16.h"
#include "transport_layer.h"
#include "value_format.h"
#include "vif_tables.h"

#include <charconv>

namespace palvero {

namespace {

const std::string kEmpty;
const DecodedRecords::Row kEmptyRow{};
const RecordPlace kNoPlace{};

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
void walkRecords(const ReceiverFrame& f, int p, char decimalSeparator, DecodedRecords& records,
                 bool wideIntegers = false);

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

const RecordPlace& DecodedRecords::place(int r) const
{
    return r >= 0 && r <= m_count ? m_places[static_cast<size_t>(r)] : kNoPlace;
}

void DecodedRecords::ensure(int rows)
{
    if (static_cast<size_t>(rows) >= m_rows.size()) {
        m_rows.resize(static_cast<size_t>(rows) + 1);
        m_places.resize(static_cast<size_t>(rows) + 1);
    }
}

void DecodedRecords::clearRow(int r)
{
    for (auto& c : m_rows[static_cast<size_t>(r)])
        c.clear();
    m_places[static_cast<size_t>(r)] = {};
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
    return skipsRecordDecoding(f, readTelegramLayers(f, s), s);
}

bool skipsRecordDecoding(const ReceiverFrame& f, const TelegramLayers& layers, const ReadingSettings& s)
{
    const uint8_t m0 = byteAt(f, frame::kManufacturer), m1 = byteAt(f, frame::kManufacturer + 1);
    const uint8_t ciField = byteAt(f, frame::kCi);
    if (m0 == 0x68 && m1 == 0x50 && (ciField == 0xA0 || ciField == 0xA2))
        return true; // TCH private format
    if (m0 == 0x2D && m1 == 0x2C && ciField == 0x8D && !layers.readable)
        return true; // KAM private format: an extended link layer that could not be read
    if (m0 == 0x93 && m1 == 0x44 && ciField == ci::NoHeader && s.DecodeQundis)
        return true; // QDS private format, not decoded here
    return false;
}

int compactSignatureOffset(const ReceiverFrame& f, const TelegramLayers& layers)
{
    int at = layers.transport.payload;
    if (configurationWord(f, layers).encrypted() && byteAt(f, at) == kFillByte && byteAt(f, at + 1) == kFillByte)
        at += 2;
    return at;
}

void decodeTelegram(const ReceiverFrame& f, const ReadingSettings& s, char decimalSeparator,
                    DecodedRecords& records)
{
    decodeTelegram(f, readTelegramLayers(f, s), s, decimalSeparator, records, nullptr);
}

ApplicationData decodeTelegram(const ReceiverFrame& f, const TelegramLayers& layers, const ReadingSettings& s,
                               char decimalSeparator, DecodedRecords& records, const CompactFormats* formats)
{
    records.clear();
    records.formatHeaders.clear();
    records.formatComplete = false;
    records.compactSignature = -1;
    if (skipsRecordDecoding(f, layers, s))
        return ApplicationData::Records;

    // Every data field, VIFE chain and text is read from the telegram data alone: the RSSI,
    // CRC and stop bytes behind them are no record's bytes.
    const int end = layers.dataEnd;
    int p = layers.transport.payload;
    if (end < p)
        return ApplicationData::Records;
    ReceiverFrame& data = records.telegramData;
    if (!layers.compact()) {
        data.assign(f.begin(), f.begin() + end + 1);
        walkRecords(data, p, decimalSeparator, records, layers.hasFurtherLayers());
        return ApplicationData::Records;
    }

    // A compact frame: its records rebuilt behind the headers from the format's DIF/VIF
    // bytes and its data fields, checked against the data check.
    const int at = compactSignatureOffset(f, layers);
    if (at + 3 > end)
        return ApplicationData::FormatMismatch;
    const uint16_t signature = static_cast<uint16_t>(f[static_cast<size_t>(at)] | f[static_cast<size_t>(at + 1)] << 8);
    const uint16_t check = static_cast<uint16_t>(f[static_cast<size_t>(at + 2)] | f[static_cast<size_t>(at + 3)] << 8);
    records.compactSignature = signature;
    const std::vector<uint8_t>* headers = formats ? formats->find(signature) : nullptr;
    if (!headers)
        return ApplicationData::UnknownFormat;
    std::vector<uint8_t>& rebuilt = records.formatHeaders; // its buffer serves as scratch here
    const size_t n = static_cast<size_t>(end - (at + 4) + 1);
    if (!rebuildCompactRecords(*headers, f.data() + at + 4, n, rebuilt)
        || crc16En13757(rebuilt.data(), rebuilt.size()) != check) {
        rebuilt.clear();
        return ApplicationData::FormatMismatch;
    }
    data.assign(f.begin(), f.begin() + p);
    data.insert(data.end(), rebuilt.begin(), rebuilt.end());
    rebuilt.clear();
    walkRecords(data, p, decimalSeparator, records, true);
    records.formatComplete = false; // a format is learned from full frames only
    return ApplicationData::Records;
}

namespace {

// Storage, tariff, subunit and function of the record whose DIF is at `p` and whose
// VIF is at `v`.
RecordPlace recordPlace(const ReceiverFrame& f, int p, int v)
{
    RecordPlace place;
    const uint8_t dif = f[static_cast<size_t>(p)];
    place.storage = (dif >> 6) & 0x01;
    place.function = (dif >> 4) & 0x03;
    int i = 0;
    for (int at = p + 1; at < v && i < 10; ++at, ++i) {
        const uint8_t dife = f[static_cast<size_t>(at)];
        place.storage |= static_cast<int64_t>(dife & 0x0F) << (1 + 4 * i);
        place.tariff |= ((dife >> 4) & 0x03) << (2 * i);
        place.subunit |= ((dife >> 6) & 0x01) << i;
    }
    return place;
}

void walkRecords(const ReceiverFrame& f, int p, char decimalSeparator, DecodedRecords& records, bool wideIntegers)
{
    const int end = static_cast<int>(f.size()) - 1;
    int number = 1;
    VifInfo info;
    records.formatHeaders.clear();
    records.formatComplete = false;
    bool whole = true;
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
        records.formatHeaders.insert(records.formatHeaders.end(), f.begin() + p, f.begin() + d);
        const int textLength = plainTextUnitLengthOffset(vif, v, d);
        if (textLength >= 0) {
            d += 1 + byteAt(f, textLength);
            whole = false; // a unit text is no part of a compact format
        }

        auto& row = records.addRow();
        const FieldExtent field = decodeDataField(row[DecodedRecords::Value], f, d, dif, vif, info, decimalSeparator);
        if (wideIntegers && (dif & 0x0F) == 0x07 && !field.overrun && vif != 0x78) {
            // A 64-bit integer as the number it is (current meters send their energy so).
            uint64_t value = 0;
            for (int i = 7; i >= 0; --i)
                value = value << 8 | f[static_cast<size_t>(d + i)];
            renderScaledTo(row[DecodedRecords::Value], static_cast<int64_t>(value), info.exponent, 19,
                           decimalSeparator);
        }
        setNumber(row[DecodedRecords::Number], number++);
        // Swapping hands the row's spare buffers to the next record: no copy, no allocation.
        row[DecodedRecords::Unit].swap(info.unit);
        row[DecodedRecords::Description].swap(info.description);
        appendSpaced(row[DecodedRecords::DifBytes], f, p, v - 1);
        appendSpaced(row[DecodedRecords::Vif], f, v, v);
        row[DecodedRecords::Vif].pop_back();
        appendSpaced(row[DecodedRecords::VifeBytes], f, v + 1, std::min(d, static_cast<int>(f.size())) - 1);
        records.placeOf(records.recordCount() - 1) = recordPlace(f, p, v);
        if (field.overrun)
            return;
        p = d + field.length;
    }
    records.formatComplete = whole && p == end + 1 && records.recordCount() > 0;
}

} // namespace

int pickMainRow(const DecodedRecords& records, const std::string& mainUnit)
{
    for (int r = 0; r < records.recordCount(); ++r)
        if (records.cell(r, DecodedRecords::Unit) == mainUnit)
            return r;
    return -1;
}

namespace {

bool isOtherEnergyUnit(const std::string& unit)
{
    return unit == "Wh" || unit == "MWh" || unit == "J" || unit == "kJ" || unit == "MJ" || unit == "GJ";
}

template <typename Wanted>
int firstCurrent(const DecodedRecords& records, Wanted wanted)
{
    for (int r = 0; r < records.recordCount(); ++r) {
        const RecordPlace& place = records.place(r);
        if (place.storage == 0 && place.tariff == 0 && place.function == 0
            && wanted(records.cell(r, DecodedRecords::Unit)))
            return r;
    }
    return -1;
}

} // namespace

int pickCurrentMainRow(const DecodedRecords& records, const std::string& mainUnit)
{
    return firstCurrent(records, [&mainUnit](const std::string& unit) { return unit == mainUnit; });
}

int pickFallbackMainRow(const DecodedRecords& records, const std::string& mainUnit, bool withoutMainUnit)
{
    if (mainUnit == "kWh")
        return firstCurrent(records, isOtherEnergyUnit);
    if (mainUnit != "N/A" || !withoutMainUnit)
        return -1;
    const int volume = firstCurrent(records, [](const std::string& unit) { return unit == "m3"; });
    if (volume >= 0)
        return volume;
    return firstCurrent(records, [](const std::string& unit) { return unit == "kWh" || isOtherEnergyUnit(unit); });
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
    return applicationData(f, readTelegramLayers(f, s));
}

ApplicationData applicationData(const ReceiverFrame& f, const TelegramLayers& layers)
{
    if (isManufacturerCi(byteAt(f, frame::kCi)))
        return ApplicationData::ManufacturerDefined;
    if (!layers.readable)
        return ApplicationData::Encrypted;
    if (isManufacturerCi(layers.applicationCi))
        return ApplicationData::ManufacturerDefined;
    if (layers.auth.present() && layers.auth.fragmented())
        return ApplicationData::Fragment;
    if (!configurationWord(f, layers).encrypted())
        return ApplicationData::Records;
    const int payload = layers.transport.payload;
    const bool plain = payload <= layers.dataEnd && f[static_cast<size_t>(payload)] == kFillByte;
    return plain ? ApplicationData::Records : ApplicationData::Encrypted;
}

std::vector<std::string> undecodedListingLines(ApplicationData what, const ReceiverFrame& f,
                                               const ReadingSettings& s, const std::string& meterId)
{
    return undecodedListingLines(what, f, readTelegramLayers(f, s), meterId);
}

std::vector<std::string> undecodedListingLines(ApplicationData what, const ReceiverFrame& f,
                                               const TelegramLayers& layers, const std::string& meterId)
{
    std::vector<std::string> lines;
    lines.push_back("Decode of telegram for device " + meterId);
    const int at = compactSignatureOffset(f, layers);
    const std::string signature = hexByte(byteAt(f, at + 1)) + hexByte(byteAt(f, at));
    switch (what) {
    case ApplicationData::Encrypted:
        if (!layers.readable && layers.link.encryption == 1)
            lines.push_back("Payload is encrypted (extended link layer, AES-128 counter mode) and was not decoded");
        else if (!layers.readable)
            lines.push_back("Payload CRC of the extended link layer does not match; not decoded");
        else
            lines.push_back("Payload is encrypted (security mode "
                            + std::to_string(configurationWord(f, layers).securityMode()) + ") and was not decoded");
        break;
    case ApplicationData::ManufacturerDefined: {
        const bool link = isManufacturerCi(byteAt(f, frame::kCi));
        const int ciAt = link ? frame::kCi : layers.applicationCiAt;
        std::string line = "Manufacturer data (CI " + hexByte(byteAt(f, ciAt)) + "), not decoded: ";
        appendSpaced(line, f, ciAt + 1, layers.dataEnd);
        lines.push_back(std::move(line));
        break;
    }
    case ApplicationData::Fragment:
        lines.push_back("Fragment of a longer message (authentication layer), not decoded");
        break;
    case ApplicationData::UnknownFormat:
        lines.push_back("Compact frame of unknown format " + signature + ", not decoded");
        break;
    case ApplicationData::FormatMismatch:
        lines.push_back("Compact frame whose data check fails for format " + signature + ", not decoded");
        break;
    case ApplicationData::Records:
        break;
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

#include "record_parser.h"

#include "main_value_pick.h"
#include "telegram_description.h"
#include "transport_layer.h"

#include <charconv>

namespace palvero {

namespace {

const std::string kEmpty;
const DecodedRecords::Row kEmptyRow{};
const RecordPlace kNoPlace{};

constexpr uint8_t kFillByte = 0x2F;

struct GridRecords {
    const DecodedRecords& records;
};
std::string_view unitOf(const GridRecords& g, int r) { return g.records.cell(r, DecodedRecords::Unit); }
const RecordPlace& placeOf(const GridRecords& g, int r) { return g.records.place(r); }

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

bool skipsRecordDecoding(const ReceiverFrame& f, const DecodeOptions& s)
{
    return skipsRecordDecoding(f, readTelegramLayers(f, s), s);
}

bool skipsRecordDecoding(const ReceiverFrame& f, const TelegramLayers& layers, const DecodeOptions& s)
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

void decodeTelegram(const ReceiverFrame& f, const DecodeOptions& s, char decimalSeparator,
                    DecodedRecords& records)
{
    decodeTelegram(f, readTelegramLayers(f, s), s, decimalSeparator, records, nullptr);
}

ApplicationData decodeTelegram(const ReceiverFrame& f, const TelegramLayers& layers, const DecodeOptions& s,
                               char decimalSeparator, DecodedRecords& records, const CompactFormats* formats)
{
    TelegramDescription d;
    d.layers = layers;
    const ApplicationData content = readRecords(f, s, formats, d);
    fillDecodedRecords(d, decimalSeparator, records);
    return content;
}

int pickMainRow(const DecodedRecords& records, const std::string& mainUnit)
{
    return pick::mainRow(GridRecords{records}, records.recordCount(), mainUnit);
}

int pickCurrentMainRow(const DecodedRecords& records, const std::string& mainUnit)
{
    return pick::currentMainRow(GridRecords{records}, records.recordCount(), mainUnit);
}

int pickFallbackMainRow(const DecodedRecords& records, const std::string& mainUnit, bool withoutMainUnit)
{
    return pick::fallbackMainRow(GridRecords{records}, records.recordCount(), mainUnit, withoutMainUnit);
}

std::vector<std::string> pickAdditionalValues(const DecodedRecords& records, int mainRow, int count,
                                              bool removeUnit)
{
    std::vector<int> rows;
    additionalValueRecords(records.recordCount(), mainRow, count, rows);
    std::vector<std::string> slots(rows.size());
    for (size_t k = 0; k < rows.size(); ++k) {
        if (rows[k] == -2)
            continue;
        const int r = rows[k] >= 0 ? rows[k] : records.recordCount();
        const std::string& value = records.cell(r, DecodedRecords::Value);
        slots[k] = removeUnit ? value : value + " " + records.cell(r, DecodedRecords::Unit);
        if (slots[k].size() > 32)
            slots[k].resize(32);
    }
    return slots;
}

ApplicationData applicationData(const ReceiverFrame& f, const DecodeOptions& s)
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
                                               const DecodeOptions& s, const std::string& meterId)
{
    return undecodedListingLines(what, f, readTelegramLayers(f, s), meterId);
}

std::vector<std::string> undecodedListingLines(ApplicationData what, const ReceiverFrame& f,
                                               const TelegramLayers& layers, const std::string& meterId)
{
    TelegramDescription d;
    d.layers = layers;
    d.content = what;
    std::vector<std::string> lines;
    appendListingLines(d, f, meterId, '.', lines);
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

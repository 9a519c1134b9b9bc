#include "measurement_file.h"

#include "fixed_text.h"
#include "meter_table.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <unordered_map>

namespace palvero {

namespace fs = std::filesystem;

namespace {

// A run of decimal digits as a number; anything else counts as 0.
int digitsValue(std::string_view text)
{
    if (text.empty())
        return 0;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

std::array<std::uint8_t, MeasurementRecord::kSize> MeasurementRecord::encode() const
{
    std::array<std::uint8_t, kSize> bytes{};
    for (std::size_t k = 0; k < kFieldCount; ++k)
        writeFixedText(bytes.data() + k * kFieldSize, kFieldCapacity, fields[k]);
    return bytes;
}

MeasurementRecord MeasurementRecord::decode(const std::uint8_t* record)
{
    MeasurementRecord r;
    for (std::size_t k = 0; k < kFieldCount; ++k)
        r.fields[k] = std::string(field(record, k));
    return r;
}

std::string_view MeasurementRecord::field(const std::uint8_t* record, std::size_t k)
{
    return readFixedText(record + k * kFieldSize, kFieldCapacity);
}

int measurementColumnOfField(std::size_t field)
{
    if (field >= MeasurementRecord::kFieldCount)
        return -1;
    const int k = static_cast<int>(field);
    return k < col::FullTelegram ? k : k + 1;
}

std::string FormatStoredDate(const DateTime& date)
{
    const int year = date.year <= 98 ? date.year + 2000 : date.year;
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, date.month, date.day);
    return text;
}

StoredDate ParseStoredDate(std::string_view text)
{
    StoredDate out;
    if (text.size() < 10)
        return out;
    const int year = digitsValue(text.substr(0, 4));
    const int month = digitsValue(text.substr(5, 2));
    const int day = digitsValue(text.substr(8, 2));
    if (year == 0 || month == 0 || day == 0)
        return out;
    out.date = DateTime{year, month, day, 0, 0, 0};
    out.kind = isValidDate(year, month, day) ? StoredDate::Valid : StoredDate::Impossible;
    return out;
}

MeasurementFile::MeasurementFile(fs::path dataFolder, ErrorLogger& log, const Formats& formats)
    : m_path(dataFolder / kMeasurementFileName)
    , m_log(log)
    , m_formats(formats)
{
}

namespace {

// The date and time fields of a meter's last stored record, as stored.
struct StoredReading {
    std::string date;
    std::string time;
    bool operator==(const StoredReading& o) const { return date == o.date && time == o.time; }
};

// The last stored reading of each of `wanted` (stored IDs), read from the end of the file
// backwards a block at a time, so that a file of years of readings is read only as far back
// as the meters of the table go. False when the file cannot be read.
bool lastStoredReadings(const fs::path& path, std::unordered_map<std::string, std::optional<StoredReading>>& wanted)
{
    constexpr std::size_t kBlockRecords = 1024;
    constexpr auto kSize = static_cast<std::streamoff>(MeasurementRecord::kSize);
    std::ifstream in(path, std::ios::binary);
    if (!in || !in.seekg(0, std::ios::end))
        return false;
    const std::streamoff size = in.tellg();
    if (size < 0)
        return false;
    std::size_t missing = wanted.size();
    std::vector<std::uint8_t> block;
    for (std::streamoff end = size / kSize; end > 0 && missing > 0;) {
        const std::streamoff first = std::max<std::streamoff>(0, end - static_cast<std::streamoff>(kBlockRecords));
        block.resize(static_cast<std::size_t>((end - first) * kSize));
        if (!in.seekg(first * kSize) || !in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size())))
            return false;
        for (std::streamoff i = end - first; i-- > 0 && missing > 0;) {
            const std::uint8_t* record = block.data() + i * kSize;
            auto it = wanted.find(std::string(MeasurementRecord::field(record, 1)));
            if (it == wanted.end() || it->second)
                continue;
            it->second = StoredReading{std::string(MeasurementRecord::field(record, MeasurementRecord::kDateField)),
                                       std::string(MeasurementRecord::field(record, 9))};
            --missing;
        }
        end = first;
    }
    return true;
}

std::string stored(std::string_view text)
{
    return std::string(text.substr(0, MeasurementRecord::kFieldCapacity));
}

} // namespace

MeasurementSave MeasurementFile::saveReadings(const TextGrid& table)
{
    MeasurementSave result;
    int dated = 0;
    for (int row = 1; row < table.rowCount(); ++row)
        if (!table.cell(row, col::MeterId).empty() && !table.cell(row, col::Date).empty())
            ++dated;

    std::error_code ec;
    const fs::file_status status = fs::status(m_path, ec);
    if (status.type() == fs::file_type::not_found) {
        m_log.LogErrorCode(logcode::DbMissingAtSave);
        result.status = FileStatus::Missing;
        result.notSaved = dated;
        result.error = "File " + m_path.string() + " does not exist";
        return result;
    }
    if (table.rowCount() < 2 || (table.rowCount() == 2 && table.cell(1, col::MeterId).empty())) {
        result.noMeters = true;
        return result;
    }

    auto fail = [&](const FileOutcome& outcome) {
        m_log.LogErrorCode(logcode::DbSave);
        m_log.LogErrorText(outcome.error);
        result.status = FileStatus::IoError;
        result.cause = outcome.cause;
        result.error = outcome.error;
    };
    if (ec || !fs::is_regular_file(status)) {
        fail({FileStatus::IoError, "Cannot reach " + m_path.string(), WriteFailure::Other});
        result.notSaved = dated;
        return result;
    }

    // The readings to store, with their stored date.
    struct Reading {
        int row;
        std::string date;
    };
    std::vector<Reading> readings;
    std::unordered_map<std::string, std::optional<StoredReading>> last;
    for (int row = 1; row < table.rowCount(); ++row) {
        const std::string& id = table.cell(row, col::MeterId);
        const std::string& dateText = table.cell(row, col::Date);
        if (id.empty() || dateText.empty())
            continue;
        const std::optional<DateTime> date = m_formats.readDate(dateText);
        if (!date) {
            m_log.LogErrorCode(logcode::DbSave);
            m_log.LogErrorText("Date \"" + dateText + "\" of meter " + id + " is not a date");
            ++result.undated;
            continue;
        }
        readings.push_back({row, FormatStoredDate(*date)});
        last.emplace(stored(id), std::nullopt);
    }
    if (!lastStoredReadings(m_path, last)) {
        fail({FileStatus::IoError, "Cannot read " + m_path.string(), WriteFailure::Other});
        result.notSaved = static_cast<int>(readings.size());
        return result;
    }

    const RecordFile file(m_path, MeasurementRecord::kSize);
    // Written a block at a time: a long table never needs a second copy of itself in memory.
    constexpr std::size_t kBlockRecords = 1024;
    std::vector<std::uint8_t> block;
    bool failed = false;
    auto flush = [&]() {
        if (block.empty() || failed)
            return;
        std::size_t appended = 0;
        const FileOutcome outcome = file.appendMany(block.data(), block.size() / MeasurementRecord::kSize, &appended);
        result.saved += static_cast<int>(appended);
        block.clear();
        if (!outcome.ok()) {
            failed = true;
            fail(outcome);
        }
    };
    std::array<std::uint8_t, MeasurementRecord::kSize> record{};
    for (const Reading& reading : readings) {
        const StoredReading now{reading.date, stored(table.cell(reading.row, col::Time))};
        std::optional<StoredReading>& previous = last[stored(table.cell(reading.row, col::MeterId))];
        if (previous && *previous == now) {
            ++result.alreadyStored;
            continue;
        }
        previous = now;
        if (failed)
            continue; // counted as not saved below
        for (std::size_t k = 0; k < MeasurementRecord::kFieldCount; ++k) {
            std::uint8_t* field = record.data() + k * MeasurementRecord::kFieldSize;
            writeFixedText(field, MeasurementRecord::kFieldCapacity,
                           k == MeasurementRecord::kDateField
                               ? std::string_view(reading.date)
                               : std::string_view(table.cell(reading.row, measurementColumnOfField(k))));
        }
        block.insert(block.end(), record.begin(), record.end());
        if (block.size() >= kBlockRecords * MeasurementRecord::kSize)
            flush();
    }
    flush();
    result.notSaved = static_cast<int>(readings.size()) - result.saved - result.alreadyStored;
    return result;
}

FileOutcome MeasurementFile::Truncate()
{
    return RecordFile(m_path, MeasurementRecord::kSize).truncate();
}

std::vector<MeasurementRecord> MeasurementFile::ReadAll(FileOutcome* outcome)
{
    std::vector<std::uint8_t> bytes;
    const FileOutcome read = RecordFile(m_path, MeasurementRecord::kSize).readAll(bytes);
    if (outcome)
        *outcome = read;
    std::vector<MeasurementRecord> records;
    records.reserve(bytes.size() / MeasurementRecord::kSize);
    for (std::size_t at = 0; at + MeasurementRecord::kSize <= bytes.size(); at += MeasurementRecord::kSize)
        records.push_back(MeasurementRecord::decode(bytes.data() + at));
    return records;
}

} // namespace palvero

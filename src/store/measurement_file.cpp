#include "measurement_file.h"

#include "fixed_text.h"
#include "meter_table.h"

#include <cstdio>
#include <fstream>
#include <optional>

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

bool MeasurementFile::SaveMeasurements(const TextGrid& table)
{
    std::error_code ec;
    const fs::file_status status = fs::status(m_path, ec);
    if (status.type() == fs::file_type::not_found) {
        m_log.LogErrorCode(logcode::DbMissingAtSave);
        return false;
    }
    if (table.rowCount() < 2 || (table.rowCount() == 2 && table.cell(1, col::MeterId).empty()))
        return false;

    auto fail = [this](const std::string& text) {
        m_log.LogErrorCode(logcode::DbSave);
        m_log.LogErrorText(text);
        return false;
    };
    if (ec || !fs::is_regular_file(status))
        return fail("Cannot reach " + m_path.string());

    bool allSaved = true;
    {
        // in|out opens the existing file for update and never creates one.
        std::fstream io(m_path, std::ios::in | std::ios::out | std::ios::binary);
        if (!io || !io.seekg(0, std::ios::end))
            return fail("Cannot open " + m_path.string() + " for writing");
        const std::streamoff size = io.tellg();
        const std::streamoff whole = size / static_cast<std::streamoff>(MeasurementRecord::kSize);
        if (size < 0 || !io.seekp(whole * static_cast<std::streamoff>(MeasurementRecord::kSize)))
            return fail("Cannot read " + m_path.string());

        std::array<std::uint8_t, MeasurementRecord::kSize> record;
        for (int row = 1; row < table.rowCount() && io; ++row) {
            const std::string& id = table.cell(row, col::MeterId);
            const std::string& dateText = table.cell(row, col::Date);
            if (id.empty() || dateText.empty())
                continue;
            const std::optional<DateTime> date = m_formats.readDate(dateText);
            if (!date) {
                allSaved = fail("Date \"" + dateText + "\" of meter " + id + " is not a date");
                continue;
            }
            for (std::size_t k = 0; k < MeasurementRecord::kFieldCount; ++k) {
                std::uint8_t* field = record.data() + k * MeasurementRecord::kFieldSize;
                if (k == MeasurementRecord::kDateField)
                    writeFixedText(field, MeasurementRecord::kFieldCapacity, FormatStoredDate(*date));
                else
                    writeFixedText(field, MeasurementRecord::kFieldCapacity, table.cell(row, measurementColumnOfField(k)));
            }
            io.write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
        }
        io.flush();
        if (io)
            return allSaved;
    }

    // A record cut short by the failed write is dropped, so the file ends with whole records.
    const std::uintmax_t size = fs::file_size(m_path, ec);
    if (!ec)
        fs::resize_file(m_path, size / MeasurementRecord::kSize * MeasurementRecord::kSize, ec);
    return fail("Cannot write " + m_path.string());
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

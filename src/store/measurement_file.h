#pragma once

#include "error_logger.h"
#include "formats.h"
#include "record_file.h"
#include "text_grid.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace palvero {

inline constexpr char kMeasurementFileName[] = "db.mrv";

// One saved reading of db.mrv: 32 text fields, each a length byte and 32 characters, copying
// the meter table's columns in order without "Full telegram". The date field holds the
// reading date as YYYY-MM-DD whatever the locale, so that the file reads the same anywhere.
struct MeasurementRecord {
    static constexpr std::size_t kFieldCount = 32;
    static constexpr std::size_t kFieldCapacity = 32;
    static constexpr std::size_t kFieldSize = 1 + kFieldCapacity;
    static constexpr std::size_t kSize = kFieldCount * kFieldSize; // 1056
    static constexpr std::size_t kDateField = 10;

    std::array<std::string, kFieldCount> fields;

    // Texts cut to 32 characters, unused bytes zero.
    std::array<std::uint8_t, kSize> encode() const;
    // Reads exactly kSize untrusted bytes; a length byte above 32 is taken as 32.
    static MeasurementRecord decode(const std::uint8_t* record);
    // Field k of an encoded record, without copying.
    static std::string_view field(const std::uint8_t* record, std::size_t k);

    bool operator==(const MeasurementRecord& o) const { return fields == o.fields; }
};

// The meter-table column that field k copies (-1 for none): columns 0..11 as they are, then
// the columns after "Full telegram" one field further down.
int measurementColumnOfField(std::size_t field);

// The stored form of a date: YYYY-MM-DD, the year always with four digits (0999); a year of
// 98 or less counts as 20YY, as two-digit years of a short date do.
std::string FormatStoredDate(const DateTime& date);

// A stored date read back. None: too short, or a year, month or day of 0 (text that is no
// number counts as 0) - such a record has no date and is passed over. Impossible: a month or
// a day out of range, which no save writes and which makes the file suspect.
struct StoredDate {
    enum Kind { Valid, None, Impossible };
    Kind kind = None;
    DateTime date;
};
StoredDate ParseStoredDate(std::string_view text);

// What one save of the table's readings did, for the exit box and the tests.
struct MeasurementSave {
    FileStatus status = FileStatus::Ok; // Missing, or IoError with `cause`
    WriteFailure cause = WriteFailure::None;
    bool noMeters = false; // the table holds no meter: the file was not touched
    int saved = 0;         // records appended
    int alreadyStored = 0; // readings that are the last stored of their meter already
    int notSaved = 0;      // dated readings that did not reach the file
    int undated = 0;       // rows whose date cannot be read (each logged, code 22)
    std::string error;

    bool allSaved() const { return status == FileStatus::Ok && !noMeters && undated == 0; }
};

// The measurement file db.mrv in the data folder. Each operation opens the file, works and
// closes it; the file and its folder are never created. Failures go to the error log and the
// detailed log; nothing is shown to the operator.
class MeasurementFile {
public:
    MeasurementFile(std::filesystem::path dataFolder, ErrorLogger& log, const Formats& formats);

    const std::filesystem::path& path() const { return m_path; }

    // Appends one record per table row (rows 1 .. last) that has both a "Meter ID" and a
    // "Date", the date read in the short date format, unless the meter's last stored record
    // holds the same date and time already (the same reading saved a second time, say by a
    // save and then the exit save). Records go after the last whole record, so a partial
    // record left by an interrupted save is overwritten, and they are on the disk when this
    // returns. A date that cannot be read skips its row (code 22 and the text are logged) and
    // the other rows are still saved; a failed write keeps the whole records written before
    // it and logs code 22 and the reason. A missing file logs code 21; a table without meters
    // leaves the file untouched.
    MeasurementSave saveReadings(const TextGrid& table);
    // The same; true when every dated row is stored.
    bool SaveMeasurements(const TextGrid& table) { return saveReadings(table).allSaved(); }

    // Cuts the file to zero records; nothing is logged, the caller reports.
    FileOutcome Truncate();

    // Every whole record in file order; empty on a missing file or a read error.
    std::vector<MeasurementRecord> ReadAll(FileOutcome* outcome = nullptr);

private:
    std::filesystem::path m_path;
    ErrorLogger& m_log;
    const Formats& m_formats;
};

} // namespace palvero

#pragma once

#include <filesystem>
#include <string>

namespace palvero {

class Formats;
class Operator;

// Codes of the error log, one per kind of failure.
namespace logcode {
constexpr int CsvExport = 10;             // table, meters or report CSV cannot be written
constexpr int CsvImport = 11;             // CSV chosen for import cannot be read
constexpr int ReaderLogSave = 13;         // the reader log cannot be saved
constexpr int DbMissingAtSave = 21;       // db.mrv missing when saving measurements
constexpr int DbSave = 22;                // error while saving measurements
constexpr int DbReport = 31;              // error while reading db.mrv for a report
constexpr int DbMissingAtDeleteAll = 33;  // db.mrv missing at "Delete All"
constexpr int DbTruncate = 34;            // db.mrv cannot be truncated
constexpr int CsvTemplateExport = 40;     // CSV cannot be written through the template choice
constexpr int MetersMissing = 41;         // meters.mrv missing at a key lookup, table save or delete
constexpr int MetersGrid = 51;            // meters.mrv missing for the meters grid; append at exit failed
constexpr int MetersMissingAtExit = 52;   // meters.mrv missing when appending new meters at exit
constexpr int MetersMissingAtSave = 61;   // meters.mrv missing when saving from the meters window
constexpr int MetersGridRead = 62;        // error while filling the meters grid
constexpr int MetersMissingAtLookup = 63; // meters.mrv missing at a window lookup or "Delete All"
constexpr int MetersDeleteAll = 64;       // error in the meters window's "Delete all"
constexpr int MetersTruncate = 70;        // meters.mrv cannot be truncated
constexpr int SortById = 231;             // sorting the meter table by Meter ID failed
constexpr int GroupByMedium = 232;        // grouping the meter table by medium failed
constexpr int GroupByManufacturer = 233;  // grouping the meter table by manufacturer failed
} // namespace logcode

inline constexpr char kErrorLogName[] = "glog.txt";
inline constexpr char kDetailedLogName[] = "gloge.txt";

inline constexpr char kFileErrorCaption[] = "File Error";
inline constexpr char kCannotCreateErrorLogText[] =
    "Cannot create log file, no write permission!\nContact administrator!";
inline constexpr char kCannotCreateDetailedLogText[] =
    "Cannot create detailed log file, no write permission!\nContact administrator!";

// Fixed detailed-log texts written by the data-file operations.
inline constexpr char kCantTruncateMetersText[] = "Cant truncate meters.mrv file";
inline constexpr char kCantTruncateDbText[] = "Cant truncate db.mrv file";
inline constexpr char kMetersFileMissingText[] = "File meters.mrv does not exists!";

// The error log (glog.txt: a code per failure) and the detailed log (gloge.txt: a text per
// failure) in the data folder. Each entry is one CR LF line stamped with the current time and
// date from `Formats`. A log file is created on its first entry; the data folder never is.
// When a log cannot be created or written, the operator sees one "File Error" box for that
// entry and the entry is dropped; callers always go on as if it was written.
class ErrorLog {
public:
    ErrorLog(std::filesystem::path dataFolder, const Formats& formats, Operator& op);

    void LogErrorCode(int code);
    void LogErrorText(const std::string& text);

    const std::filesystem::path& dataFolder() const { return m_dataFolder; }
    std::filesystem::path errorLogPath() const { return m_dataFolder / kErrorLogName; }
    std::filesystem::path detailedLogPath() const { return m_dataFolder / kDetailedLogName; }

private:
    void append(const std::filesystem::path& file, const std::string& entry, const char* failureText);

    std::filesystem::path m_dataFolder;
    const Formats& m_formats;
    Operator& m_operator;
};

} // namespace palvero

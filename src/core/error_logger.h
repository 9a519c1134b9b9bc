#pragma once

#include <functional>
#include <string>

namespace palvero {

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

// The error log and the detailed log as the operations that fail see them: a numbered
// line, and a line with the error's text. Writing never fails for the caller.
class ErrorLogger {
public:
    virtual ~ErrorLogger() = default;
    virtual void LogErrorCode(int code) = 0;
    virtual void LogErrorText(const std::string& text) = 0;

    // From Start to Stop a log that cannot be written is reported to the operator once, not
    // per telegram, and each entry that could not be written goes to `readerLog` instead.
    virtual void beginReading(std::function<void(const std::string&)> /*readerLog*/) {}
    virtual void endReading() {}
};

} // namespace palvero

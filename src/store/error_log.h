#pragma once

#include "error_logger.h"

#include <filesystem>
#include <string>

namespace palvero {

class Formats;
class Operator;


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
// entry and the entry is dropped; callers always go on as if it was written. While a
// reading runs the box is shown only once, and unwritten entries go to the reader log.
class ErrorLog : public ErrorLogger {
public:
    ErrorLog(std::filesystem::path dataFolder, const Formats& formats, Operator& op);

    void LogErrorCode(int code) override;
    void LogErrorText(const std::string& text) override;
    void beginReading(std::function<void(const std::string&)> readerLog) override;
    void endReading() override;

    const std::filesystem::path& dataFolder() const { return m_dataFolder; }
    std::filesystem::path errorLogPath() const { return m_dataFolder / kErrorLogName; }
    std::filesystem::path detailedLogPath() const { return m_dataFolder / kDetailedLogName; }

private:
    void append(const std::filesystem::path& file, const std::string& entry, const char* failureText);

    std::filesystem::path m_dataFolder;
    const Formats& m_formats;
    Operator& m_operator;
    std::function<void(const std::string&)> m_readerLog; // set while a reading runs
    bool m_reportedThisReading = false;
};

} // namespace palvero

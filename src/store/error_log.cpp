#include "error_log.h"

#include "formats.h"
#include "operator.h"

#include <fstream>

namespace palvero {

namespace fs = std::filesystem;

namespace {

// Appends one line so that the file reads as if all its lines had been rewritten with CR LF:
// a last line left without its break gets one first.
bool appendLine(const fs::path& file, const std::string& line)
{
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    std::string text;
    if (status.type() != fs::file_type::not_found) {
        if (!fs::is_regular_file(status))
            return false;
        std::ifstream in(file, std::ios::binary);
        if (!in.seekg(0, std::ios::end))
            return false;
        if (in.tellg() > 0) {
            char last = 0;
            if (!in.seekg(-1, std::ios::end) || !in.get(last))
                return false;
            if (last == '\r')
                text = "\n";
            else if (last != '\n')
                text = "\r\n";
        }
    }
    text += line;
    text += "\r\n";

    std::ofstream out(file, std::ios::binary | std::ios::app);
    if (!out)
        return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    return static_cast<bool>(out);
}

} // namespace

ErrorLog::ErrorLog(fs::path dataFolder, const Formats& formats, Operator& op)
    : m_dataFolder(std::move(dataFolder))
    , m_formats(formats)
    , m_operator(op)
{
}

void ErrorLog::LogErrorCode(int code)
{
    append(errorLogPath(), "Error " + std::to_string(code), kCannotCreateErrorLogText);
}

void ErrorLog::LogErrorText(const std::string& text)
{
    append(detailedLogPath(), text, kCannotCreateDetailedLogText);
}

void ErrorLog::append(const fs::path& file, const std::string& entry, const char* failureText)
{
    const DateTime now = m_formats.now();
    const std::string line = entry + ", encountered at " + m_formats.timeText(now) + ",  " + m_formats.dateText(now);
    if (appendLine(file, line))
        return;
    if (!m_readerLog) {
        m_operator.showMessage(kFileErrorCaption, failureText, MessageIcon::Warning);
        return;
    }
    m_readerLog("Cannot write " + file.filename().string() + ": " + line);
    if (!m_reportedThisReading) {
        m_reportedThisReading = true;
        m_operator.showMessage(kFileErrorCaption, failureText, MessageIcon::Warning);
    }
}

void ErrorLog::beginReading(std::function<void(const std::string&)> readerLog)
{
    if (m_readerLog)
        return; // the same reading
    m_readerLog = std::move(readerLog);
    m_reportedThisReading = false;
}

void ErrorLog::endReading()
{
    m_readerLog = nullptr;
}

} // namespace palvero

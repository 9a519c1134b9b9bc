#include "reader_log.h"

#include "error_log.h"
#include "operator.h"


namespace palvero {

namespace fs = std::filesystem;

WriteOutcome writeTextLines(const fs::path& file, const std::vector<std::string>& lines)
{
    SafeFileWriter out(file);
    std::string line;
    for (std::size_t i = 0; i < lines.size() && out.outcome().ok(); ++i) {
        line.assign(lines[i]).append("\r\n");
        out.write(line);
    }
    return out.commit();
}

bool saveReaderLog(const std::vector<std::string>& lines, const fs::path& dataFolder, Operator& op, ErrorLogger& log)
{
    FileDialogSpec dialog;
    dialog.title = kSaveLogTitle;
    dialog.filter = kSaveLogFilter;
    dialog.defaultExtension = kSaveLogExtension;
    dialog.folder = dataFolder.string();
    dialog.fileName = kReaderLogFileName;

    const std::optional<std::string> chosen = op.askSaveFile(dialog);
    if (!chosen || chosen->empty())
        return false;

    fs::path file(*chosen);
    if (file.is_relative())
        file = dataFolder / file;
    const WriteOutcome written = writeTextLines(file, lines);
    if (written)
        return true;

    op.showMessage(kFileErrorCaption, writeFailureText(written, "Error saving log file", kSaveLogFailedText),
                   MessageIcon::Warning);
    log.LogErrorCode(logcode::ReaderLogSave);
    log.LogErrorText(written.error);
    return false;
}

} // namespace palvero

#include "reader_log.h"

#include "error_log.h"
#include "operator.h"

#include <fstream>

namespace palvero {

namespace fs = std::filesystem;

bool writeTextLines(const fs::path& file, const std::vector<std::string>& lines)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) {
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
        out.write("\r\n", 2);
    }
    out.flush();
    return static_cast<bool>(out);
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
    if (writeTextLines(file, lines))
        return true;

    op.showMessage(kFileErrorCaption, kSaveLogFailedText, MessageIcon::Warning);
    log.LogErrorCode(logcode::ReaderLogSave);
    log.LogErrorText("Cannot write " + file.string());
    return false;
}

} // namespace palvero

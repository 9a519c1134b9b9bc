#pragma once

#include "safe_file.h"

#include <filesystem>
#include <string>
#include <vector>

namespace palvero {

class ErrorLogger;
class Operator;

inline constexpr char kSaveLogTitle[] = "Save log data";
inline constexpr char kSaveLogFilter[] = "CSV|*.csv|TXT|*.txt";
inline constexpr char kSaveLogExtension[] = "csv";
inline constexpr char kReaderLogFileName[] = "general_log.txt";
inline constexpr char kSaveLogFailedText[] = "Error saving log file!\nContact administrator!";

// Writes `lines` into `file`, each ended by CR LF, replacing what it held as a whole once
// everything is on the disk. Not ok when the file cannot be written; it is then as it was.
WriteOutcome writeTextLines(const std::filesystem::path& file, const std::vector<std::string>& lines);

// File "Save log file": asks the operator for a file, preset to general_log.txt in the data
// folder, and writes the reader log lines to it, each ended by CR LF. A bare or relative name
// is taken inside the data folder. A failed write shows the "File Error" box and logs code 13
// and the reason (the box names a full disk as such). True only when the file was written;
// cancelling writes nothing.
bool saveReaderLog(const std::vector<std::string>& lines, const std::filesystem::path& dataFolder, Operator& op,
                   ErrorLogger& log);

} // namespace palvero

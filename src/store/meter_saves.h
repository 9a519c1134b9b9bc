#pragma once

#include "error_logger.h"
#include "meters_file.h"
#include "text_grid.h"

#include <string>

namespace palvero {

// The meter table's ways into meters.mrv.

// "Save/update meter in database": overwrites the meter's record with the key, or adds it
// after the last one. An ID longer than 8 characters is not saved (the caller says so). A
// missing file logs code 41; an I/O error logs its text. Gives success.
bool SaveMeterFromTable(MetersFile& meters, ErrorLogger& log, const std::string& meterId, const std::string& key);

// At exit: appends every meter of the table (rows 1 .. last, "Meter ID" and "Encryption key")
// that the file lacks; meters already stored keep their stored keys, a meter listed twice
// is added once, and an ID longer than 8 characters is not stored. A missing file logs code 52 and its text; an I/O error logs 51 and the text
// and ends the appending.
void SaveNewMeters(MetersFile& meters, ErrorLogger& log, const TextGrid& table);

} // namespace palvero

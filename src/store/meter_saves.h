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

// What the exit's save of new meters did, for the exit box.
struct NewMetersSave {
    FileStatus status = FileStatus::Ok; // Missing, or IoError with `cause`
    WriteFailure cause = WriteFailure::None;
    int added = 0;
    int notSaved = 0; // new meters of the table that did not reach the file
    std::string error;
};

// At exit: appends every meter of the table (rows 1 .. last, "Meter ID" and "Encryption key")
// that the file lacks, in one write that is on the disk when this returns; meters already
// stored keep their stored keys, a meter listed twice is added once, and an ID longer than
// 8 characters is not stored. A missing file logs code 52 and its text; an I/O error logs 51
// and the text, and the meters written before it stay.
NewMetersSave SaveNewMeters(MetersFile& meters, ErrorLogger& log, const TextGrid& table);

} // namespace palvero

#pragma once

#include "safe_file.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace palvero {

enum class FileStatus { Ok, Missing, IoError };

// What a data-file operation met; `error` is a plain description for the detailed log, and
// `cause` tells a full disk from missing rights when a write failed.
struct FileOutcome {
    FileStatus status = FileStatus::Ok;
    std::string error;
    WriteFailure cause = WriteFailure::None;

    bool ok() const { return status == FileStatus::Ok; }
};

// A headerless data file of fixed-size records in insertion order (meters.mrv, db.mrv,
// tmplates.dat). Every call opens the file, works and closes it, and nothing is cached, since
// the file may change between calls. The file is never created: a missing file is reported as
// Missing and stays missing. The record count is the file size divided by the record size; a
// trailing partial record is no record and is never read.
//
// Nothing counts as done before it is on the disk (fsync), and a program stopped at any
// moment leaves every record it was not changing intact: appends write whole records after
// the last whole one, so an interrupted append leaves at most a partial record that no reader
// sees and the next append overwrites; every change inside the file (an overwrite, a removal)
// writes the whole file anew beside it and renames it over the old one, so the file is either
// the old one or the new one.
class RecordFile {
public:
    RecordFile(std::filesystem::path path, std::size_t recordSize);

    const std::filesystem::path& path() const { return m_path; }
    std::size_t recordSize() const { return m_recordSize; }

    // Every whole record in one read: `bytes` receives count * record size bytes.
    FileOutcome readAll(std::vector<std::uint8_t>& bytes) const;
    // Writes `record` (record size bytes) over record `index`, which must exist.
    FileOutcome overwrite(std::size_t index, const std::uint8_t* record) const;
    // Writes `record` at index count; a trailing partial record is overwritten by it.
    FileOutcome append(const std::uint8_t* record) const;
    // Writes `count` records in one go after the last whole record. `appended` receives how
    // many are on the disk, also when the write failed part-way (the part of a record after
    // them is cut off again).
    FileOutcome appendMany(const std::uint8_t* records, std::size_t count, std::size_t* appended = nullptr) const;
    // Moves every later record down by one and cuts the file after the new last record
    // (a trailing partial record goes too).
    FileOutcome remove(std::size_t index) const;
    // The file holds exactly `bytes` afterwards, or is left as it was.
    FileOutcome replaceAll(const std::vector<std::uint8_t>& bytes) const;
    // Cuts the file to zero records.
    FileOutcome truncate() const;

private:
    FileOutcome checkExists() const;
    FileOutcome readBytes(std::vector<std::uint8_t>& bytes, bool wholeRecordsOnly) const;
    FileOutcome failure(const std::string& what) const;
    FileOutcome writeFailed(int errorNumber, const std::string& what) const;

    std::filesystem::path m_path;
    std::size_t m_recordSize;
};

} // namespace palvero

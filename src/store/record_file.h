#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace palvero {

enum class FileStatus { Ok, Missing, IoError };

// What a data-file operation met; `error` is a plain description for the detailed log.
struct FileOutcome {
    FileStatus status = FileStatus::Ok;
    std::string error;

    bool ok() const { return status == FileStatus::Ok; }
};

// A headerless data file of fixed-size records in insertion order (meters.mrv, db.mrv,
// tmplates.dat). Every call opens the file, works and closes it, and nothing is cached, since
// the file may change between calls. The file is never created: a missing file is reported as
// Missing and stays missing. The record count is the file size divided by the record size; a
// trailing partial record is no record and is never read.
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
    // Moves every later record down by one and cuts the file after the new last record
    // (a trailing partial record goes too).
    FileOutcome remove(std::size_t index) const;
    // Cuts the file to zero records.
    FileOutcome truncate() const;
    // Makes `records` (whole records) the file's content: one write over the old content,
    // then a cut after it. For changes to many records at once.
    FileOutcome replaceAll(const std::vector<std::uint8_t>& records) const;

private:
    FileOutcome checkExists() const;
    // Opens the existing file for update and counts its whole records.
    FileOutcome openForUpdate(std::fstream& io, std::size_t& count) const;
    FileOutcome writeAt(std::size_t index, bool appending, const std::uint8_t* record) const;
    FileOutcome failure(const std::string& what) const;

    std::filesystem::path m_path;
    std::size_t m_recordSize;
};

} // namespace palvero

#pragma once

#include "formats.h"
#include "record_file.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace palvero {

// The rows of a report, packed: per row the 25 lengths and then the texts, in blocks of a
// fixed size. A report over a whole db.mrv holds only the characters the records use, a
// small part of the file's fixed-size fields.
class ReportRows {
public:
    static constexpr int kColumns = 25;

    int count() const { return static_cast<int>(m_rows.size()); }
    // Cell of row 0 .. count-1; empty outside.
    std::string_view cell(int row, int column) const;
    // No rows and no storage.
    void clear();
    // No rows, keeping the storage for the rows of the next report.
    void reuse();
    // Fields 0..24 of an encoded db.mrv record, with `dateText` in place of field 10.
    void append(const std::uint8_t* record, std::string_view dateText);
    // Bytes held, for the figures of the benchmark.
    std::size_t memoryBytes() const;

private:
    static constexpr std::size_t kBlockSize = 1 << 20;

    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::size_t m_block = 0;         // the block being filled, when there is one
    std::size_t m_used = kBlockSize; // in that block; a full block moves on to the next
    std::vector<const char*> m_rows;
};

// One report over db.mrv: the records whose stored date lies in [from, to] (whole days), in
// file order, read a slice at a time so that the caller can stay responsive, show progress
// and stop. The file stays open from open() to the end of the scan or close(). Only the
// records present at open() are read; a partial record at the end is none. Records without a
// date are passed over; a record whose date cannot be read (a month of 13, say) is passed over
// too and named in skipped(), so that one damaged record hides nothing after it; a read
// error fails the scan and keeps the rows found so far.
class ReportScan {
public:
    enum class Step { More, Finished, Failed };

    ReportScan(std::filesystem::path file, const DateTime& from, const DateTime& to, const Formats& formats);

    // Opens the file and counts its records. Missing when there is no file.
    FileOutcome open();
    // Reads up to `maxRecords` more records, appending the matching ones to `rows`.
    Step next(ReportRows& rows, std::size_t maxRecords);
    void close();

    std::size_t recordCount() const { return m_count; }
    std::size_t recordsRead() const { return m_read; }
    // Why the scan failed, for the detailed log.
    const std::string& error() const { return m_error; }
    // The first records passed over for an impossible date, each as a text for the detailed
    // log ("Invalid date ... in record N of ..."), and how many there were in all.
    static constexpr std::size_t kSkippedNamed = 10;
    const std::vector<std::string>& skipped() const { return m_skipped; }
    std::size_t skippedCount() const { return m_skippedCount; }

private:
    static int dayKey(const DateTime& d) { return d.year * 10000 + d.month * 100 + d.day; }

    std::filesystem::path m_path;
    int m_from;
    int m_to;
    const Formats& m_formats;
    std::ifstream m_in;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_count = 0;
    std::size_t m_read = 0;
    std::string m_error;
    std::vector<std::string> m_skipped;
    std::size_t m_skippedCount = 0;
    int m_cachedDay = 0;
    std::string m_cachedDateText;
};

} // namespace palvero

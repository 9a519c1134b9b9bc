#pragma once

#include "code_page.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace palvero {

// Where the bytes of an import come from: a file, or bytes in memory (tests, fuzzing).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `capacity` bytes into `buffer`; `got` is 0 at the end. False on a read error,
    // with `error` saying why.
    virtual bool read(char* buffer, std::size_t capacity, std::size_t& got, std::string& error) = 0;
    // The number of bytes to come when known (a regular file), else 0.
    virtual std::uint64_t size() const { return 0; }
};

// A file read from the start. open() fails, with the reason, for a missing file or one
// that cannot be opened; a folder opens and fails at its first read.
class FileSource : public ByteSource {
public:
    explicit FileSource(std::filesystem::path path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    bool open(std::string& error);
    bool read(char* buffer, std::size_t capacity, std::size_t& got, std::string& error) override;
    std::uint64_t size() const override { return m_size; }

private:
    std::filesystem::path m_path;
    std::FILE* m_file = nullptr;
    std::uint64_t m_size = 0;
};

class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string_view bytes)
        : m_bytes(bytes)
    {
    }
    bool read(char* buffer, std::size_t capacity, std::size_t& got, std::string& error) override;
    std::uint64_t size() const override { return m_bytes.size(); }

private:
    std::string_view m_bytes;
    std::size_t m_at = 0;
};

// No field longer than this enters a cell: a longer one is cut here and its line skipped.
inline constexpr std::size_t kMaxFieldBytes = 4096;

// Called as an import reads on, with the bytes read so far and the total (0 when not
// known): once with 0 as the reading starts, then every megabyte. False cancels the reading.
using ImportProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// How the lines of a CSV file divide into fields.
struct CsvReadRules {
    // Only a one-character separator divides fields; a longer or an empty one finds none.
    std::string separator = ";";
    CodePage codePage = CodePage::Windows1252;
    // At this many separators on one record the record counts as too many data.
    int maxSeparators = 40;
    // Whether the text after the last separator is a field (when it is not empty), as a
    // spreadsheet writes the last cell of a line; otherwise it is no field.
    bool lastFieldCounts = false;
};

// One record: a line, or several when a field in double quotes holds line ends.
struct CsvRecord {
    std::vector<std::string> fields;
    int line = 0;            // the line it starts on, from 1
    int separators = 0;      // separators outside double quotes
    bool tooMany = false;    // maxSeparators reached: `fields` are those before the last of them
    bool fieldTooLong = false; // a field held more than kMaxFieldBytes bytes; it is cut there
    bool unheld = false;     // a UTF-8 file held a character the code page cannot hold
    char32_t unheldCharacter = 0;
};

// Reads CSV records one by one, in memory bounded by one record (at most kMaxFieldBytes per
// field), from files of any size. A field that starts with a double quote is read as a
// spreadsheet writes it: the quotes go, and a separator, a line end or a doubled quote
// inside them belong to the field. Lines end with CR LF, LF or CR; empty lines are passed
// over. A file that begins with the UTF-8 byte-order mark is read as UTF-8 and its text
// converted into the code page; one that begins with a UTF-16 byte-order mark is not read.
// Control bytes (below 0x20, and 0x7F) in a field become ".", as in every cell.
class CsvReader {
public:
    enum class Next { Record, End, ReadError, Utf16, Cancelled };

    CsvReader(ByteSource& source, CsvReadRules rules, ImportProgress progress = {});

    Next next(CsvRecord& record);

    const std::string& error() const { return m_error; }
    bool utf8() const { return m_utf8; }
    std::uint64_t bytesRead() const { return m_read; }
    // Lines seen so far, empty ones included.
    int lines() const { return m_line; }

private:
    static constexpr int kEnd = -1;
    static constexpr int kFailed = -2;
    static constexpr int kUnheld = -3;

    bool fill();
    bool start();
    // The next unit of text: a byte of the code page, kUnheld, kEnd or kFailed.
    int unit();
    int peekByte();
    // Passes over empty lines; false when the input has ended or failed.
    bool skipEmptyLines();
    // Moves on to the first of `stops` (bytes, -1 for none) in the input, or to its end.
    void skipTo(const int* stops, int count);
    Next stopped() const;
    void endLine(int byte);
    void addToField(int byte);
    void endField(CsvRecord& record, bool last);

    ByteSource& m_source;
    CsvReadRules m_rules;
    ImportProgress m_progress;
    std::vector<char> m_buffer;
    std::size_t m_at = 0;
    std::size_t m_end = 0;
    bool m_eof = false;
    bool m_failed = false;
    bool m_cancelled = false;
    bool m_started = false;
    bool m_utf8 = false;
    bool m_utf16 = false;
    std::uint64_t m_read = 0;
    std::uint64_t m_reported = 0;
    int m_line = 1;
    std::string m_error;
    std::string m_field;
    bool m_fieldTooLong = false;
    bool m_fieldQuoted = false;
    bool m_fieldTouched = false;
    // The record already has too many fields: the rest of it is read over, not kept.
    bool m_dropping = false;
    char32_t m_unheld = 0;
};

// What an import's outcome is when the reader gave no record but stopped: a read error, a
// UTF-16 file or the operator's Cancel.
template <typename Outcome>
Outcome stoppedOutcome(CsvReader::Next next)
{
    if (next == CsvReader::Next::Utf16)
        return Outcome::Utf16;
    return next == CsvReader::Next::Cancelled ? Outcome::Cancelled : Outcome::ReadError;
}

// Lines an import passed over, and why: every one counted, the first few named.
struct ImportSkips {
    static constexpr std::size_t kNamed = 12;
    struct Line {
        int line;
        std::string why; // UTF-8
    };
    std::vector<Line> named;
    int total = 0;

    void add(int line, std::string why);
    bool empty() const { return total == 0; }
    // "line 4: ...\nline 9: ...\n... and 3 more lines", UTF-8.
    std::string text() const;
};

// Why a record cannot be imported, in words for the operator (UTF-8); empty when it can.
std::string recordProblem(const CsvRecord& record, CodePage page);

} // namespace palvero

#pragma once

#include "formats.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace palvero {

// The folder of the captures inside the data folder.
inline constexpr char kCapturesFolder[] = "captures";

// Appends every byte of one reading, as the receiver delivered it, to a file of its own
// in the captures folder, named by the reading's start time ("2026-05-04_09-30-00.cap").
// Each write reaches the file system before write() returns, so a laptop that dies loses
// nothing that had arrived. The captures folder is made when missing; the data folder
// above it never is.
class CaptureWriter {
public:
    CaptureWriter() = default;
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // Starts a capture; false with `error` set when the folder or the file cannot be written.
    bool open(const std::filesystem::path& dataFolder, const DateTime& start, std::string& error);
    // False once a write has failed; the capture is closed then.
    bool write(const uint8_t* data, size_t n, std::string& error);
    void close();

    bool isOpen() const { return m_file != nullptr; }
    const std::filesystem::path& path() const { return m_path; }
    uint64_t bytesWritten() const { return m_written; }

    // The file name for a capture started at `start`.
    static std::string fileName(const DateTime& start);

private:
    std::FILE* m_file = nullptr;
    std::filesystem::path m_path;
    uint64_t m_written = 0;
};

// A capture read a receive event at a time, so that replaying a day's capture needs
// memory for one event, not for the file. Raw captures are cut into `chunk` bytes (64
// when 0); hex text (pairs of hex digits, white space between them optional, lines
// starting with '#' ignored) gives a line per event, or `chunk` bytes when given.
class CaptureReader {
public:
    enum class Kind { Raw, Hex };

    CaptureReader() = default;
    ~CaptureReader();
    CaptureReader(const CaptureReader&) = delete;
    CaptureReader& operator=(const CaptureReader&) = delete;

    // Hex when the start of the file holds only hex digits, white space and '#' comment
    // lines; raw otherwise (a receiver frame starts with 0x68, which is no hex digit).
    static Kind detect(const std::filesystem::path& path);

    bool open(const std::filesystem::path& path, Kind kind, size_t chunk, std::string& error);
    // The next event; false at the end of the file, or on an error (then error() tells).
    bool next(std::vector<uint8_t>& event);

    const std::string& error() const { return m_error; }
    uint64_t position() const { return m_position; }
    uint64_t size() const { return m_size; }

private:
    bool nextHexLine(std::vector<uint8_t>& bytes);
    void fail(std::string text);

    std::FILE* m_file = nullptr;
    std::filesystem::path m_path;
    Kind m_kind = Kind::Raw;
    size_t m_chunk = 0;
    uint64_t m_position = 0;
    uint64_t m_size = 0;
    int m_line = 0;
    bool m_end = false;
    std::vector<uint8_t> m_pending; // hex bytes waiting to fill a chunk
    std::string m_error;
};

} // namespace palvero

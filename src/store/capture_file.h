#pragma once

#include "formats.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace palvero {

// The folder of the captures inside the data folder.
inline constexpr char kCapturesFolder[] = "captures";

// When a receive event arrived: the system clock in milliseconds since 1970 (UTC), and how
// far the local clock was ahead of UTC then, so that a replay anywhere, on any later day,
// gives the local time and date of the walk.
struct CaptureStamp {
    std::int64_t unixMs = 0;
    std::int32_t utcOffsetSeconds = 0;

    static CaptureStamp now();
    // The local calendar time the stamp stands for.
    DateTime localTime() const;
    bool operator==(const CaptureStamp& o) const
    {
        return unixMs == o.unixMs && utcOffsetSeconds == o.utcOffsetSeconds;
    }
};

// The capture format of our own: a signature, then per receive event its arrival stamp
// (8 bytes of milliseconds and 4 of UTC offset, both signed little-endian), the byte count
// (4 bytes, little-endian) and the bytes as the receiver delivered them.
inline constexpr char kCaptureSignature[] = "\x89PVCAP1\n";
inline constexpr std::size_t kCaptureSignatureSize = 8;
inline constexpr std::size_t kCaptureEventHeaderSize = 16;
// No receive event is larger; a larger count is damage, not an event.
inline constexpr std::uint32_t kMaxCaptureEvent = 1u << 20;

// What a replay says of a capture written before its events carried times.
inline constexpr char kNoTimesText[] = "carries no times of its own: its rows have the time of the replay";

// Where a capture stops growing, so that a day's reading never fills the disk.
struct CaptureLimits {
    std::uint64_t maxBytes = std::uint64_t(1) << 30;        // 1 GiB
    std::uint64_t minFreeBytes = std::uint64_t(100) << 20;  // 100 MiB left on the disk
};

// Appends every receive event of one reading, as the receiver delivered it and stamped with
// its arrival, to a file of its own in the captures folder, named by the reading's start time
// ("2026-05-04_09-30-00.cap"). Each event reaches the file system before write() returns,
// and the disk itself (fsync) at least once a second while events come, at sync() and at
// close(), so a laptop that dies loses at most the last second. The capture stops growing,
// and write() says so, before it passes 1 GiB or leaves less than 100 MiB on the disk. The
// captures folder is made when missing; the data folder above it never is.
class CaptureWriter {
public:
    // The free bytes of the disk that holds a folder, and a steady clock in milliseconds;
    // both replaceable for tests.
    using FreeSpace = std::function<std::uint64_t(const std::filesystem::path&)>;
    using Clock = std::function<std::int64_t()>;

    CaptureWriter(CaptureLimits limits = {}, FreeSpace freeSpace = {}, Clock clock = {});
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // Starts a capture; false with `error` set when the folder or the file cannot be written
    // or the disk is nearly full already.
    bool open(const std::filesystem::path& dataFolder, const DateTime& start, std::string& error);
    // False once the capture has ended, with `message` telling why (a failed write, or a
    // limit: then limitReached()); the capture is closed then and takes nothing more.
    bool write(const uint8_t* data, size_t n, const CaptureStamp& heard, std::string& message);
    // Puts what was written on the disk (fsync) when anything is waiting.
    void sync();
    void close();

    bool isOpen() const { return m_file != nullptr; }
    bool limitReached() const { return m_limitReached; }
    const std::filesystem::path& path() const { return m_path; }
    // Bytes of the file, signature and stamps included.
    uint64_t bytesWritten() const { return m_written; }
    // How often the capture was put on the disk.
    int syncCount() const { return m_syncs; }

    // The file name for a capture started at `start`.
    static std::string fileName(const DateTime& start);

private:
    bool roomFor(std::size_t bytes, std::string& message);
    bool fail(const std::string& message, std::string& out);

    CaptureLimits m_limits;
    FreeSpace m_freeSpace;
    Clock m_clock;
    std::FILE* m_file = nullptr;
    std::filesystem::path m_path;
    uint64_t m_written = 0;
    uint64_t m_checkedAt = 0; // bytes written when the free space was last looked at
    std::int64_t m_syncedAt = 0;
    bool m_dirty = false;
    bool m_limitReached = false;
    int m_syncs = 0;
};

// A capture read a receive event at a time, so that replaying a day's capture needs
// memory for one event, not for the file. A capture of our own format gives its events as
// they were received, each with its stamp (whatever kind is asked for and whatever
// `chunk`); one cut short by a crash ends with what its last event holds. Captures written
// before carry no times: raw ones are cut into `chunk` bytes (64 when 0); hex text (pairs
// of hex digits, white space between them optional, lines starting with '#' ignored) gives
// a line per event, or `chunk` bytes when given.
class CaptureReader {
public:
    enum class Kind { Raw, Hex, Stamped };

    CaptureReader() = default;
    ~CaptureReader();
    CaptureReader(const CaptureReader&) = delete;
    CaptureReader& operator=(const CaptureReader&) = delete;

    // Stamped when the file starts with the signature; hex when the start of the file holds
    // only hex digits, white space and '#' comment lines; raw otherwise (a receiver frame
    // starts with 0x68, which is no hex digit).
    static Kind detect(const std::filesystem::path& path);

    bool open(const std::filesystem::path& path, Kind kind, size_t chunk, std::string& error);
    // The next event; false at the end of the file, or on an error (then error() tells).
    bool next(std::vector<uint8_t>& event);

    // Whether the events carry the time they arrived, and the stamp of the last one read.
    bool hasTimes() const { return m_kind == Kind::Stamped; }
    const CaptureStamp& stamp() const { return m_stamp; }
    Kind kind() const { return m_kind; }
    const std::string& error() const { return m_error; }
    uint64_t position() const { return m_position; }
    uint64_t size() const { return m_size; }

private:
    bool nextHexLine(std::vector<uint8_t>& bytes);
    bool nextStamped(std::vector<uint8_t>& event);
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
    CaptureStamp m_stamp;
    std::string m_error;
};

} // namespace palvero

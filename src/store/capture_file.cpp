#include "capture_file.h"

#include "receiver_frame.h"

#include "safe_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <cstring>
#include <limits>
#include <system_error>

namespace palvero {

namespace {

constexpr size_t kDefaultChunk = 64;
constexpr size_t kDetectSample = 4096;

std::string two(int v)
{
    return (v < 10 ? "0" : "") + std::to_string(v);
}

// Days since 1970-01-01 of a civil date, and back (the proleptic Gregorian calendar).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

DateTime civilFromSeconds(std::int64_t seconds)
{
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
    return DateTime{static_cast<int>(y), static_cast<int>(m), static_cast<int>(d), static_cast<int>(rest / 3600),
                    static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60)};
}

void putLittle(uint8_t* at, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

std::uint64_t getLittle(const uint8_t* at, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes; i-- > 0;)
        value = value << 8 | at[i];
    return value;
}

std::uint64_t diskFreeBytes(const std::filesystem::path& folder)
{
    std::error_code ec;
    const std::filesystem::space_info space = std::filesystem::space(folder, ec);
    // A disk that cannot be asked is not taken for a full one.
    return ec ? std::numeric_limits<std::uint64_t>::max() : space.available;
}

std::int64_t steadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string sizeText(std::uint64_t bytes)
{
    constexpr std::uint64_t kMiB = std::uint64_t(1) << 20;
    if (bytes >= 1024 * kMiB && bytes % (1024 * kMiB) == 0)
        return std::to_string(bytes / (1024 * kMiB)) + " GiB";
    if (bytes >= kMiB && bytes % kMiB == 0)
        return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

// While events come the capture reaches the disk at least this often; between them the
// reading's timer calls sync().
constexpr std::int64_t kSyncIntervalMs = 1000;
// Free space is looked at again after this much more capture, besides once a second.
constexpr std::uint64_t kFreeSpaceStep = std::uint64_t(1) << 20;

} // namespace

CaptureStamp CaptureStamp::now()
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const std::int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
    const std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    const std::int64_t localSeconds = daysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                                                    static_cast<unsigned>(local.tm_mday)) * 86400
        + local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    return CaptureStamp{ms, static_cast<std::int32_t>(localSeconds - static_cast<std::int64_t>(t))};
}

DateTime CaptureStamp::localTime() const
{
    std::int64_t seconds = unixMs / 1000;
    if (unixMs % 1000 < 0)
        --seconds;
    return civilFromSeconds(seconds + utcOffsetSeconds);
}

CaptureWriter::CaptureWriter(CaptureLimits limits, FreeSpace freeSpace, Clock clock)
    : m_limits(limits)
    , m_freeSpace(freeSpace ? std::move(freeSpace) : FreeSpace(diskFreeBytes))
    , m_clock(clock ? std::move(clock) : Clock(steadyMilliseconds))
{
}

CaptureWriter::~CaptureWriter()
{
    close();
}

std::string CaptureWriter::fileName(const DateTime& t)
{
    return std::to_string(t.year) + "-" + two(t.month) + "-" + two(t.day) + "_" + two(t.hour) + "-" + two(t.minute)
        + "-" + two(t.second) + ".cap";
}

bool CaptureWriter::open(const std::filesystem::path& dataFolder, const DateTime& start, std::string& error)
{
    close();
    namespace fs = std::filesystem;
    const fs::path folder = dataFolder / kCapturesFolder;
    std::error_code ec;
    if (!fs::is_directory(dataFolder, ec)) {
        error = "the data folder " + dataFolder.string() + " does not exist";
        return false;
    }
    if (!fs::is_directory(folder, ec) && !fs::create_directory(folder, ec)) {
        error = "cannot create " + folder.string() + ": " + ec.message();
        return false;
    }
    if (m_freeSpace(folder) < m_limits.minFreeBytes) {
        error = "less than " + sizeText(m_limits.minFreeBytes) + " of disk is left in " + folder.string();
        return false;
    }
    // Two readings started within the same second get a file each.
    const std::string name = fileName(start);
    fs::path path = folder / name;
    for (int n = 2; fs::exists(path, ec); ++n)
        path = folder / (name.substr(0, name.size() - 4) + "-" + std::to_string(n) + ".cap");
    m_file = std::fopen(path.string().c_str(), "wb");
    if (!m_file) {
        error = "cannot write " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    m_path = path;
    m_written = 0;
    m_limitReached = false;
    m_syncs = 0;
    if (std::fwrite(kCaptureSignature, 1, kCaptureSignatureSize, m_file) != kCaptureSignatureSize
        || std::fflush(m_file) != 0) {
        error = "cannot write " + m_path.string() + ": " + std::strerror(errno);
        close();
        return false;
    }
    m_written = m_checkedAt = kCaptureSignatureSize;
    m_dirty = true;
    sync();
    durable::syncFolder(folder); // the new file's name is on the disk too
    return true;
}

bool CaptureWriter::fail(const std::string& message, std::string& out)
{
    out = message;
    close();
    return false;
}

bool CaptureWriter::roomFor(std::size_t bytes, std::string& message)
{
    if (m_written + bytes > m_limits.maxBytes) {
        m_limitReached = true;
        return fail("the capture " + m_path.string() + " has reached " + sizeText(m_limits.maxBytes)
                        + " and stops growing here",
                    message);
    }
    if (m_written - m_checkedAt >= kFreeSpaceStep || m_clock() - m_syncedAt >= kSyncIntervalMs) {
        m_checkedAt = m_written;
        if (m_freeSpace(m_path.parent_path()) < m_limits.minFreeBytes + bytes) {
            m_limitReached = true;
            return fail("less than " + sizeText(m_limits.minFreeBytes) + " of disk is left: the capture "
                            + m_path.string() + " stops growing here",
                        message);
        }
    }
    return true;
}

bool CaptureWriter::write(const uint8_t* data, size_t n, const CaptureStamp& heard, std::string& message)
{
    if (!m_file)
        return false;
    if (n > kMaxCaptureEvent) { // never from a receiver; kept whole as several events
        for (size_t at = 0; at < n; at += kMaxCaptureEvent)
            if (!write(data + at, std::min<size_t>(kMaxCaptureEvent, n - at), heard, message))
                return false;
        return true;
    }
    if (!roomFor(kCaptureEventHeaderSize + n, message))
        return false;
    uint8_t header[kCaptureEventHeaderSize];
    putLittle(header, static_cast<std::uint64_t>(heard.unixMs), 8);
    putLittle(header + 8, static_cast<std::uint32_t>(heard.utcOffsetSeconds), 4);
    putLittle(header + 12, n, 4);
    if (std::fwrite(header, 1, sizeof header, m_file) != sizeof header || std::fwrite(data, 1, n, m_file) != n
        || std::fflush(m_file) != 0)
        return fail("cannot write " + m_path.string() + ": " + std::strerror(errno), message);
    m_written += sizeof header + n;
    m_dirty = true;
    if (m_clock() - m_syncedAt >= kSyncIntervalMs)
        sync();
    return true;
}

void CaptureWriter::sync()
{
    if (!m_file || !m_dirty)
        return;
    std::fflush(m_file);
    durable::sync(fileno(m_file));
    m_dirty = false;
    m_syncedAt = m_clock();
    ++m_syncs;
}

void CaptureWriter::close()
{
    if (m_file) {
        sync();
        std::fclose(m_file);
        m_file = nullptr;
    }
}

CaptureReader::~CaptureReader()
{
    if (m_file)
        std::fclose(m_file);
}

CaptureReader::Kind CaptureReader::detect(const std::filesystem::path& path)
{
    std::FILE* f = std::fopen(path.string().c_str(), "rb");
    if (!f)
        return Kind::Raw;
    char sample[kDetectSample];
    const size_t n = std::fread(sample, 1, sizeof sample, f);
    std::fclose(f);
    if (n >= kCaptureSignatureSize && std::memcmp(sample, kCaptureSignature, kCaptureSignatureSize) == 0)
        return Kind::Stamped;
    bool comment = false;
    bool digits = false;
    for (size_t i = 0; i < n; ++i) {
        const char c = sample[i];
        if (c == '\n') {
            comment = false;
        } else if (comment) {
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r')
                return Kind::Raw;
        } else if (c == '#') {
            comment = true;
        } else if (hexDigitValue(c) >= 0) {
            digits = true;
        } else if (c != ' ' && c != '\t' && c != '\r') {
            return Kind::Raw;
        }
    }
    return digits ? Kind::Hex : Kind::Raw;
}

bool CaptureReader::open(const std::filesystem::path& path, Kind kind, size_t chunk, std::string& error)
{
    m_path = path;
    m_kind = kind;
    m_chunk = chunk;
    m_file = std::fopen(path.string().c_str(), "rb");
    if (!m_file) {
        error = "cannot read capture " + path.string();
        return false;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    m_size = ec ? 0 : size;
    // A capture of our own is read as one whatever was asked: its signature is no raw
    // receiver byte stream and no hex text.
    char signature[kCaptureSignatureSize];
    if (std::fread(signature, 1, sizeof signature, m_file) == sizeof signature
        && std::memcmp(signature, kCaptureSignature, sizeof signature) == 0) {
        m_kind = Kind::Stamped;
        m_position = sizeof signature;
    } else {
        std::rewind(m_file);
        if (m_kind == Kind::Stamped)
            m_kind = Kind::Raw;
    }
    return true;
}

bool CaptureReader::nextStamped(std::vector<uint8_t>& event)
{
    uint8_t header[kCaptureEventHeaderSize];
    const size_t got = std::fread(header, 1, sizeof header, m_file);
    m_position += got;
    if (got < sizeof header) {
        // The end, or a stamp cut off by a stop of the program: nothing of the event arrived.
        if (std::ferror(m_file))
            fail("cannot read capture " + m_path.string());
        m_end = true;
        return false;
    }
    const std::uint64_t length = getLittle(header + 12, 4);
    if (length > kMaxCaptureEvent) {
        fail(m_path.string() + ": damaged at byte " + std::to_string(m_position - sizeof header)
             + ": an event of " + std::to_string(length) + " bytes");
        return false;
    }
    m_stamp.unixMs = static_cast<std::int64_t>(getLittle(header, 8));
    m_stamp.utcOffsetSeconds = static_cast<std::int32_t>(static_cast<std::uint32_t>(getLittle(header + 8, 4)));
    event.resize(static_cast<size_t>(length));
    const size_t n = std::fread(event.data(), 1, event.size(), m_file);
    m_position += n;
    // An event cut short at the end still holds bytes that arrived.
    event.resize(n);
    if (n < length) {
        if (std::ferror(m_file))
            fail("cannot read capture " + m_path.string());
        m_end = true;
    }
    return !event.empty() || length == 0;
}

void CaptureReader::fail(std::string text)
{
    m_error = std::move(text);
    m_end = true;
}

bool CaptureReader::nextHexLine(std::vector<uint8_t>& bytes)
{
    std::string line;
    for (;;) {
        line.clear();
        int c;
        while ((c = std::fgetc(m_file)) != EOF) {
            ++m_position;
            if (c == '\n')
                break;
            line.push_back(static_cast<char>(c));
        }
        if (c == EOF && line.empty()) {
            if (std::ferror(m_file))
                fail("cannot read capture " + m_path.string());
            return false;
        }
        ++m_line;
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        if (!parseHexBytes(line, bytes)) {
            fail(m_path.string() + ":" + std::to_string(m_line) + ": not hexadecimal byte pairs");
            return false;
        }
        return true;
    }
}

bool CaptureReader::next(std::vector<uint8_t>& event)
{
    event.clear();
    if (!m_file || m_end)
        return false;
    if (m_kind == Kind::Stamped) {
        // An empty event carries nothing for the pipeline.
        while (nextStamped(event))
            if (!event.empty())
                return true;
        return false;
    }
    if (m_kind == Kind::Raw) {
        event.resize(m_chunk ? m_chunk : kDefaultChunk);
        const size_t n = std::fread(event.data(), 1, event.size(), m_file);
        event.resize(n);
        m_position += n;
        if (n == 0) {
            if (std::ferror(m_file))
                fail("cannot read capture " + m_path.string());
            m_end = true;
            return false;
        }
        return true;
    }
    if (m_chunk == 0) {
        while (event.empty())
            if (!nextHexLine(event)) {
                m_end = true;
                return false;
            }
        return true;
    }
    while (m_pending.size() < m_chunk) {
        std::vector<uint8_t> line;
        if (!nextHexLine(line)) {
            if (!m_error.empty())
                return false;
            m_end = true;
            break;
        }
        m_pending.insert(m_pending.end(), line.begin(), line.end());
    }
    const size_t n = std::min(m_chunk, m_pending.size());
    if (n == 0)
        return false;
    event.assign(m_pending.begin(), m_pending.begin() + static_cast<long>(n));
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<long>(n));
    return true;
}

} // namespace palvero

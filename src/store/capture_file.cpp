#include "capture_file.h"

#include "receiver_frame.h"

#include <cerrno>
#include <cstring>
#include <system_error>

namespace palvero {

namespace {

constexpr size_t kDefaultChunk = 64;
constexpr size_t kDetectSample = 4096;

std::string two(int v)
{
    return (v < 10 ? "0" : "") + std::to_string(v);
}

} // namespace

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
    return true;
}

bool CaptureWriter::write(const uint8_t* data, size_t n, std::string& error)
{
    if (!m_file)
        return false;
    if (std::fwrite(data, 1, n, m_file) != n || std::fflush(m_file) != 0) {
        error = "cannot write " + m_path.string() + ": " + std::strerror(errno);
        close();
        return false;
    }
    m_written += n;
    return true;
}

void CaptureWriter::close()
{
    if (m_file) {
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
    return true;
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

#include "csv_reader.h"

#include "receiver_frame.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace palvero {

namespace {

constexpr std::size_t kBufferBytes = 1 << 16;
// The operator sees progress, and may cancel, every this many bytes.
constexpr std::uint64_t kProgressStep = 1 << 20;

// The first of `stops` in p[0, n), or n.
std::size_t findFirst(const char* p, std::size_t n, const int* stops, int count)
{
    std::size_t best = n;
    for (int i = 0; i < count; ++i) {
        if (stops[i] < 0 || best == 0)
            continue;
        if (const void* hit = std::memchr(p, stops[i], best))
            best = static_cast<std::size_t>(static_cast<const char*>(hit) - p);
    }
    return best;
}

std::string hexCode(char32_t c)
{
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

} // namespace

FileSource::FileSource(std::filesystem::path path)
    : m_path(std::move(path))
{
}

FileSource::~FileSource()
{
    if (m_file)
        std::fclose(m_file);
}

bool FileSource::open(std::string& error)
{
#ifdef _WIN32
    m_file = _wfopen(m_path.c_str(), L"rb");
#else
    m_file = std::fopen(m_path.c_str(), "rb");
#endif
    if (!m_file) {
        error = "Cannot open " + m_path.string() + ": " + std::strerror(errno);
        return false;
    }
    std::error_code ec;
    if (std::filesystem::is_regular_file(m_path, ec)) {
        const std::uintmax_t size = std::filesystem::file_size(m_path, ec);
        m_size = ec ? 0 : static_cast<std::uint64_t>(size);
    }
    return true;
}

bool FileSource::read(char* buffer, std::size_t capacity, std::size_t& got, std::string& error)
{
    got = 0;
    if (!m_file) {
        error = "Cannot read " + m_path.string() + ": the file is not open";
        return false;
    }
    errno = 0;
    got = std::fread(buffer, 1, capacity, m_file);
    if (got == 0 && std::ferror(m_file)) {
        error = "Cannot read " + m_path.string() + ": " + std::strerror(errno ? errno : EIO);
        return false;
    }
    return true;
}

bool MemorySource::read(char* buffer, std::size_t capacity, std::size_t& got, std::string&)
{
    got = std::min(capacity, m_bytes.size() - m_at);
    if (got > 0)
        std::memcpy(buffer, m_bytes.data() + m_at, got);
    m_at += got;
    return true;
}

CsvReader::CsvReader(ByteSource& source, CsvReadRules rules, ImportProgress progress)
    : m_source(source)
    , m_rules(std::move(rules))
    , m_progress(std::move(progress))
    , m_buffer(kBufferBytes)
{
}

bool CsvReader::fill()
{
    if (m_eof || m_failed || m_cancelled)
        return false;
    const std::size_t keep = m_end - m_at;
    if (keep > 0 && m_at > 0)
        std::memmove(m_buffer.data(), m_buffer.data() + m_at, keep);
    m_at = 0;
    m_end = keep;
    std::size_t got = 0;
    if (!m_source.read(m_buffer.data() + m_end, m_buffer.size() - m_end, got, m_error)) {
        m_failed = true;
        return false;
    }
    if (got == 0) {
        m_eof = true;
        return false;
    }
    m_end += got;
    m_read += got;
    if (m_progress && m_read - m_reported >= kProgressStep) {
        m_reported = m_read;
        if (!m_progress(m_read, m_source.size())) {
            m_cancelled = true;
            return false;
        }
    }
    return true;
}

bool CsvReader::start()
{
    m_started = true;
    if (m_progress && !m_progress(0, m_source.size())) {
        m_cancelled = true;
        return false;
    }
    while (m_end - m_at < 3 && fill()) {
    }
    if (m_failed || m_cancelled)
        return false;
    const auto at = [&](std::size_t i) {
        return m_end - m_at > i ? static_cast<unsigned char>(m_buffer[m_at + i]) : 0x100u;
    };
    if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
        m_utf8 = true;
        m_at += 3;
    } else if ((at(0) == 0xFF && at(1) == 0xFE) || (at(0) == 0xFE && at(1) == 0xFF)) {
        m_utf16 = true;
        return false;
    }
    return true;
}

int CsvReader::peekByte()
{
    if (m_at == m_end && !fill())
        return m_eof ? kEnd : kFailed;
    return static_cast<unsigned char>(m_buffer[m_at]);
}

int CsvReader::unit()
{
    const int first = peekByte();
    if (first < 0x80 || !m_utf8) {
        if (first >= 0)
            ++m_at;
        return first;
    }
    // A whole UTF-8 sequence is in the buffer before it is decoded.
    if (m_end - m_at < 4)
        fill();
    std::size_t used = 0;
    const char32_t c = decodeUtf8(std::string_view(m_buffer.data() + m_at, m_end - m_at), used);
    m_at += used;
    const std::optional<std::uint8_t> byte = c == 0xFFFD ? std::nullopt : codePageByte(m_rules.codePage, c);
    if (!byte) {
        m_unheld = c;
        return kUnheld;
    }
    return *byte;
}

bool CsvReader::skipEmptyLines()
{
    for (;;) {
        if (m_at == m_end && !fill())
            return false;
        // A file of nothing but line ends is counted through at the speed of the loop alone.
        const char* p = m_buffer.data();
        std::size_t at = m_at;
        while (at < m_end && p[at] == '\n') {
            ++at;
            ++m_line;
        }
        m_at = at;
        if (m_at == m_end)
            continue;
        if (p[m_at] != '\r')
            return true;
        ++m_at;
        endLine('\r');
    }
}

void CsvReader::endLine(int byte)
{
    ++m_line;
    if (byte == '\r' && peekByte() == '\n')
        ++m_at;
}

void CsvReader::skipTo(const int* stops, int count)
{
    // Raw bytes are searched, which holds in a UTF-8 file too as long as every stop is ASCII.
    for (int i = 0; i < count; ++i)
        if (m_utf8 && stops[i] >= 0x80)
            return;
    for (;;) {
        if (m_at == m_end && !fill())
            return;
        const std::size_t skip = findFirst(m_buffer.data() + m_at, m_end - m_at, stops, count);
        m_at += skip;
        // A double quote after bytes passed over is inside a field, not the start of one.
        if (skip > 0)
            m_fieldTouched = true;
        if (m_at < m_end)
            return;
    }
}

void CsvReader::addToField(int byte)
{
    m_fieldTouched = true;
    if (m_dropping)
        return;
    if (m_field.size() >= kMaxFieldBytes) {
        m_fieldTooLong = true;
        return;
    }
    m_field += printableCellChar(static_cast<std::uint8_t>(byte));
}

void CsvReader::endField(CsvRecord& record, bool last)
{
    const bool counts = !last || (m_rules.lastFieldCounts && (m_fieldQuoted || !m_field.empty()));
    if (!m_dropping && counts) {
        record.fields.push_back(std::move(m_field));
        record.fieldTooLong = record.fieldTooLong || m_fieldTooLong;
    }
    m_field.clear();
    m_fieldTooLong = false;
    m_fieldQuoted = false;
    m_fieldTouched = false;
}

CsvReader::Next CsvReader::stopped() const
{
    if (m_utf16)
        return Next::Utf16;
    if (m_cancelled)
        return Next::Cancelled;
    if (m_failed)
        return Next::ReadError;
    return Next::End;
}

CsvReader::Next CsvReader::next(CsvRecord& record)
{
    record.fields.clear();
    record.separators = 0;
    record.tooMany = record.fieldTooLong = record.unheld = false;
    record.unheldCharacter = 0;
    if (!m_started && !start())
        return stopped();
    if (!skipEmptyLines())
        return stopped();

    record.line = m_line;
    const int sep = m_rules.separator.size() == 1 ? static_cast<unsigned char>(m_rules.separator[0]) : -1;
    m_dropping = false;
    m_field.clear();
    m_fieldTooLong = m_fieldQuoted = m_fieldTouched = false;
    bool quoted = false;
    for (;;) {
        // What no cell will take is passed over without looking at every byte.
        if (m_fieldTooLong || m_dropping) {
            const int inQuotes[] = {'"', '\r', '\n'};
            const int outside[] = {sep, '\r', '\n', m_dropping ? '"' : -1};
            if (quoted)
                skipTo(inQuotes, 3);
            else
                skipTo(outside, 4);
        }
        const int u = unit();
        if (u == kEnd || u == kFailed) {
            if (m_failed || m_cancelled)
                return stopped();
            endField(record, true);
            return Next::Record;
        }
        if (u == kUnheld) {
            if (!record.unheld) {
                record.unheld = true;
                record.unheldCharacter = m_unheld;
            }
            m_fieldTouched = true;
            continue;
        }
        if (quoted) {
            if (u == '"') {
                if (peekByte() == '"') {
                    ++m_at;
                    addToField('"');
                } else {
                    quoted = false;
                }
            } else if (u == '\r' || u == '\n') {
                addToField(u);
                if (u == '\r' && peekByte() == '\n') {
                    ++m_at;
                    addToField('\n');
                }
                ++m_line;
            } else {
                addToField(u);
            }
            continue;
        }
        if (u == '"' && !m_fieldTouched) {
            quoted = true;
            m_fieldQuoted = true;
            m_fieldTouched = true;
            continue;
        }
        if (u == sep) {
            if (++record.separators >= m_rules.maxSeparators && !m_dropping) {
                record.tooMany = true;
                m_dropping = true;
            }
            endField(record, false);
            continue;
        }
        if (u == '\r' || u == '\n') {
            endField(record, true);
            endLine(u);
            return Next::Record;
        }
        addToField(u);
    }
}

void ImportSkips::add(int line, std::string why)
{
    ++total;
    if (named.size() < kNamed)
        named.push_back({line, std::move(why)});
}

std::string ImportSkips::text() const
{
    std::string out;
    for (const Line& l : named) {
        if (!out.empty())
            out += '\n';
        out += "line " + std::to_string(l.line) + ": " + l.why;
    }
    const int more = total - static_cast<int>(named.size());
    if (more > 0)
        out += "\n... and " + std::to_string(more) + (more == 1 ? " more line" : " more lines");
    return out;
}

std::string recordProblem(const CsvRecord& record, CodePage page)
{
    if (record.unheld) {
        if (record.unheldCharacter == 0xFFFD)
            return "the text is not UTF-8";
        return "\"" + utf8Of(record.unheldCharacter) + "\" (" + hexCode(record.unheldCharacter) + ") is not in "
            + codePageName(page);
    }
    if (record.fieldTooLong)
        return "a field is longer than " + std::to_string(kMaxFieldBytes) + " bytes";
    return {};
}

} // namespace palvero

#include "ini_document.h"

#include <fstream>
#include <iterator>

namespace palvero {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    return true;
}

bool isComment(std::string_view t)
{
    return !t.empty() && (t.front() == ';' || t.front() == '#');
}

// The name of a "[Section]" line, trimmed inside the brackets.
std::optional<std::string_view> sectionOf(std::string_view line)
{
    std::string_view t = trimmed(line);
    if (t.empty() || t.front() != '[')
        return std::nullopt;
    size_t close = t.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return trimmed(t.substr(1, close - 1));
}

// The key of a "key=value" line; comments and section lines have none.
std::optional<std::string_view> keyOf(std::string_view line)
{
    std::string_view t = trimmed(line);
    if (isComment(t) || sectionOf(t))
        return std::nullopt;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return trimmed(t.substr(0, eq));
}

// A line that belongs to its section's content: anything but blanks, comments and headers.
bool isEntry(std::string_view line)
{
    std::string_view t = trimmed(line);
    return !t.empty() && !isComment(t) && !sectionOf(t);
}

} // namespace

IniDocument::IniDocument(std::string_view text)
{
    if (text.substr(0, kBom.size()) == kBom) {
        m_bom = kBom;
        text.remove_prefix(kBom.size());
    }
    bool styleFound = false;
    while (!text.empty()) {
        size_t nl = text.find('\n');
        Line line;
        if (nl == std::string_view::npos) {
            line.text = text;
            text = {};
        } else {
            bool crlf = nl > 0 && text[nl - 1] == '\r';
            line.text = text.substr(0, crlf ? nl - 1 : nl);
            line.end = crlf ? "\r\n" : "\n";
            text.remove_prefix(nl + 1);
            if (!styleFound) {
                m_newLine = line.end;
                styleFound = true;
            }
        }
        m_lines.push_back(std::move(line));
    }
}

std::optional<IniDocument> IniDocument::load(const std::filesystem::path& path)
{
    std::error_code ec;
    auto type = std::filesystem::status(path, ec).type();
    if (type == std::filesystem::file_type::not_found)
        return IniDocument();
    if (type != std::filesystem::file_type::regular)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return IniDocument(content);
}

std::optional<size_t> IniDocument::findKey(std::string_view section, std::string_view key) const
{
    bool inSection = false;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if (auto name = sectionOf(m_lines[i].text)) {
            inSection = sameName(*name, section);
            continue;
        }
        if (!inSection)
            continue;
        auto k = keyOf(m_lines[i].text);
        if (k && sameName(*k, key))
            return i;
    }
    return std::nullopt;
}

std::optional<std::string> IniDocument::value(std::string_view section, std::string_view key) const
{
    auto i = findKey(section, key);
    if (!i)
        return std::nullopt;
    std::string_view t = trimmed(m_lines[*i].text);
    return std::string(trimmed(t.substr(t.find('=') + 1)));
}

void IniDocument::insertLine(size_t at, std::string text)
{
    // Only the last line may lack a line end; it needs one before anything follows it.
    if (at == m_lines.size() && !m_lines.empty() && m_lines.back().end.empty())
        m_lines.back().end = m_newLine;
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(text), m_newLine});
}

void IniDocument::setValue(std::string_view section, std::string_view key, std::string_view value)
{
    value = value.substr(0, value.find_first_of("\r\n"));
    std::string line = std::string(key) + "=" + std::string(value);

    if (auto i = findKey(section, key)) {
        m_lines[*i].text = std::move(line);
        return;
    }

    std::optional<size_t> header;
    for (size_t i = 0; i < m_lines.size() && !header; ++i) {
        auto name = sectionOf(m_lines[i].text);
        if (name && sameName(*name, section))
            header = i;
    }
    if (!header) {
        insertLine(m_lines.size(), "[" + std::string(section) + "]");
        insertLine(m_lines.size(), std::move(line));
        return;
    }

    size_t at = *header + 1;
    for (size_t i = *header + 1; i < m_lines.size() && !sectionOf(m_lines[i].text); ++i)
        if (isEntry(m_lines[i].text))
            at = i + 1;
    insertLine(at, std::move(line));
}

std::string IniDocument::text() const
{
    std::string out = m_bom;
    for (const Line& l : m_lines) {
        out += l.text;
        out += l.end;
    }
    return out;
}

WriteOutcome IniDocument::save(const std::filesystem::path& path) const
{
    return replaceFile(path, text());
}

std::optional<int32_t> parseIniInteger(std::string_view text)
{
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    bool negative = false;
    if (hex) {
        text.remove_prefix(2);
    } else if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;

    const uint64_t base = hex ? 16 : 10;
    // Hexadecimal spans the full 32 bits; decimal stops at the signed range.
    const uint64_t limit = hex ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
    uint64_t v = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9' ? c - '0'
            : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
            : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : -1;
        if (digit < 0)
            return std::nullopt;
        v = v * base + static_cast<uint64_t>(digit);
        if (v > limit)
            return std::nullopt;
    }
    if (hex)
        return static_cast<int32_t>(static_cast<uint32_t>(v));
    return negative ? static_cast<int32_t>(-static_cast<int64_t>(v)) : static_cast<int32_t>(v);
}

} // namespace palvero

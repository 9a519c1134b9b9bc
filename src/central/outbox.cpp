#include "outbox.h"

#include "crc16.h"
#include "csv.h"
#include "durable_file.h"
#include "receiver_frame.h"

#include <openssl/rand.h>

#include <charconv>
#include <cstdio>
#include <ctime>
#include <random>

namespace palvero::central {

namespace fs = std::filesystem;

namespace {

constexpr char kHex[] = "0123456789abcdef";
constexpr char kReadingTag[] = "R";
constexpr char kConfirmedTag[] = "S";

void escapeInto(std::string& out, std::string_view text)
{
    for (unsigned char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += "\\x";
                out += kHex[c >> 4];
                out += kHex[c & 0x0F];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
}

bool unescape(std::string_view field, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            out += field[i];
            continue;
        }
        if (++i >= field.size())
            return false;
        switch (field[i]) {
        case '\\': out += '\\'; break;
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 'x': {
            if (i + 2 >= field.size())
                return false;
            const int high = hexDigitValue(field[i + 1]);
            const int low = hexDigitValue(field[i + 2]);
            if (high < 0 || low < 0)
                return false;
            out += static_cast<char>(high << 4 | low);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

std::string checksum(std::string_view body)
{
    const uint16_t crc = crc16En13757(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    std::string out(4, '0');
    for (int i = 0; i < 4; ++i)
        out[static_cast<size_t>(i)] = kHex[crc >> (12 - 4 * i) & 0x0F];
    return out;
}

std::string sealed(std::string body)
{
    const std::string sum = checksum(body);
    body += '\t';
    body += sum;
    return body;
}

// The line's fields when its check sum holds; nothing for a damaged line.
bool openSeal(std::string_view line, std::vector<std::string_view>& fields)
{
    const size_t cut = line.rfind('\t');
    if (cut == std::string_view::npos || line.size() - cut != 5 || checksum(line.substr(0, cut)) != line.substr(cut + 1))
        return false;
    fields.clear();
    std::string_view body = line.substr(0, cut);
    for (;;) {
        const size_t tab = body.find('\t');
        fields.push_back(body.substr(0, tab));
        if (tab == std::string_view::npos)
            break;
        body.remove_prefix(tab + 1);
    }
    return true;
}

// A missing outbox is an empty one; one that cannot be read is never taken for empty or
// shorter than it is, since compact() would write that back.
bool readOutbox(const fs::path& p, std::string& text, std::string& error)
{
    std::error_code ec;
    const bool exists = fs::exists(p, ec);
    text.clear();
    if (ec) {
        error = "Cannot reach " + p.string() + ": " + ec.message();
        return false;
    }
    return !exists || readWholeFile(p, text, error);
}

// The server takes these as they stand, so a line whose ID or time it would refuse is no
// reading: one bad line must never hold up every batch after it.
bool isReadingId(std::string_view id)
{
    if (id.size() != 36)
        return false;
    for (size_t i = 0; i < id.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? id[i] != '-' : hexDigitValue(id[i]) < 0)
            return false;
    }
    return true;
}

bool isTimestamp(std::string_view t)
{
    constexpr std::string_view kForm = "dddd-dd-ddTdd:dd:dd.dddZ";
    if (t.size() != kForm.size())
        return false;
    for (size_t i = 0; i < t.size(); ++i)
        if (kForm[i] == 'd' ? (t[i] < '0' || t[i] > '9') : t[i] != kForm[i])
            return false;
    return true;
}

} // namespace

bool OutboxReading::operator==(const OutboxReading& o) const
{
    return id == o.id && heardAt == o.heardAt && laptop == o.laptop && meterId == o.meterId
        && manufacturer == o.manufacturer && medium == o.medium && rssi == o.rssi && mainValue == o.mainValue
        && unit == o.unit && additional == o.additional && decrypted == o.decrypted && telegram == o.telegram;
}

std::string newReadingId()
{
    unsigned char b[16];
    if (RAND_bytes(b, sizeof b) != 1) {
        std::random_device rd;
        for (auto& x : b)
            x = static_cast<unsigned char>(rd());
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
    std::string id;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            id += '-';
        id += kHex[b[i] >> 4];
        id += kHex[b[i] & 0x0F];
    }
    return id;
}

std::string utcTimestamp(std::chrono::system_clock::time_point t)
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    long millis = static_cast<long>(ms % 1000);
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    std::tm tm{};
#ifdef _WIN32
    gmtime_s(&tm, &seconds);
#else
    gmtime_r(&seconds, &tm);
#endif
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
    return text;
}

std::string Outbox::encode(const OutboxReading& r)
{
    std::string body = kReadingTag;
    for (const std::string* text : {&r.id, &r.heardAt, &r.laptop, &r.meterId, &r.manufacturer, &r.medium, &r.rssi,
                                    &r.mainValue, &r.unit}) {
        body += '\t';
        escapeInto(body, *text);
    }
    body += r.decrypted ? "\t1\t" : "\t0\t";
    for (uint8_t b : r.telegram) {
        body += kHex[b >> 4];
        body += kHex[b & 0x0F];
    }
    body += '\t';
    body += std::to_string(r.additional.size());
    for (const std::string& value : r.additional) {
        body += '\t';
        escapeInto(body, value);
    }
    return sealed(std::move(body));
}

bool Outbox::decode(std::string_view line, OutboxReading& r)
{
    std::vector<std::string_view> f;
    constexpr size_t kFixed = 13; // tag, nine texts, decrypted, telegram, count
    if (!openSeal(line, f) || f.size() < kFixed || f[0] != kReadingTag)
        return false;
    std::string* texts[] = {&r.id, &r.heardAt, &r.laptop, &r.meterId, &r.manufacturer, &r.medium, &r.rssi,
                            &r.mainValue, &r.unit};
    for (size_t i = 0; i < 9; ++i)
        if (!unescape(f[i + 1], *texts[i]))
            return false;
    if (!isReadingId(r.id) || !isTimestamp(r.heardAt) || (f[10] != "0" && f[10] != "1"))
        return false;
    r.decrypted = f[10] == "1";
    const std::string_view hex = f[11];
    if (hex.size() % 2 != 0)
        return false;
    r.telegram.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigitValue(hex[i]);
        const int low = hexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0)
            return false;
        r.telegram.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    size_t count = 0;
    const auto parsed = std::from_chars(f[12].data(), f[12].data() + f[12].size(), count);
    if (parsed.ec != std::errc() || parsed.ptr != f[12].data() + f[12].size() || f.size() != kFixed + count)
        return false;
    r.additional.assign(count, {});
    for (size_t i = 0; i < count; ++i)
        if (!unescape(f[kFixed + i], r.additional[i]))
            return false;
    return true;
}

struct Outbox::Scan {
    std::vector<std::string_view> readingLines; // waiting, in file order
    std::vector<std::string_view> damagedLines;
    std::vector<std::string> waitingIds;
    int confirmations = 0;
    bool endsInsideLine = false;
    std::string text;
};

Outbox::Outbox(fs::path dataFolder)
    : m_path(std::move(dataFolder) / kOutboxFileName)
{
}

bool Outbox::scan(Scan& s, std::string& error) const
{
    if (!readOutbox(m_path, s.text, error))
        return false;
    s.endsInsideLine = !s.text.empty() && s.text.back() != '\n';
    std::vector<std::pair<std::string_view, std::string>> readings;
    std::unordered_set<std::string> confirmed;
    std::string_view rest = s.text;
    std::vector<std::string_view> fields;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        if (!openSeal(line, fields) || fields.size() < 2) {
            s.damagedLines.push_back(line);
        } else if (fields[0] == kConfirmedTag && fields.size() == 2) {
            confirmed.emplace(fields[1]);
            ++s.confirmations;
        } else if (fields[0] == kReadingTag) {
            OutboxReading r;
            if (!decode(line, r))
                s.damagedLines.push_back(line);
            else
                readings.emplace_back(line, std::move(r.id));
        } else {
            s.damagedLines.push_back(line);
        }
    }
    std::unordered_set<std::string> seen;
    for (auto& [line, id] : readings) {
        // A reading added twice (an outbox put back from a copy) waits once.
        if (confirmed.count(id) || !seen.insert(id).second)
            continue;
        s.readingLines.push_back(line);
        s.waitingIds.push_back(id);
    }
    return true;
}

bool Outbox::load(std::string& error)
{
    Scan s;
    if (!scan(s, error))
        return false;
    m_waiting = std::unordered_set<std::string>(s.waitingIds.begin(), s.waitingIds.end());
    m_damaged = static_cast<int>(s.damagedLines.size());
    m_confirmations = s.confirmations;
    m_endsInsideLine = s.endsInsideLine;
    return true;
}

WriteOutcome Outbox::append(const std::string& lines)
{
    // A line cut short by a crash stays a line of its own, and damaged.
    WriteOutcome outcome = appendDurably(m_path, m_endsInsideLine ? "\n" + lines : lines);
    // After a failed write the file may end inside a line; an empty line costs nothing.
    m_endsInsideLine = !outcome.ok();
    return outcome;
}

WriteOutcome Outbox::add(const OutboxReading& reading)
{
    WriteOutcome outcome = append(encode(reading) + "\n");
    if (outcome)
        m_waiting.insert(reading.id);
    return outcome;
}

bool Outbox::waitingReadings(std::vector<OutboxReading>& readings, std::string& error)
{
    Scan s;
    if (!scan(s, error))
        return false;
    readings.clear();
    readings.reserve(s.readingLines.size());
    for (std::string_view line : s.readingLines) {
        OutboxReading r;
        if (decode(line, r))
            readings.push_back(std::move(r));
    }
    return true;
}

WriteOutcome Outbox::confirm(const std::vector<std::string>& ids)
{
    std::string lines;
    for (const std::string& id : ids) {
        std::string body = kConfirmedTag;
        body += '\t';
        escapeInto(body, id);
        lines += sealed(std::move(body));
        lines += '\n';
    }
    if (lines.empty())
        return {};
    WriteOutcome outcome = append(lines);
    if (!outcome)
        return outcome;
    for (const std::string& id : ids)
        m_waiting.erase(id);
    m_confirmations += static_cast<int>(ids.size());
    return outcome;
}

WriteOutcome Outbox::compact()
{
    Scan s;
    std::string error;
    if (!scan(s, error))
        return {WriteFailure::Other, error};
    std::string text;
    text.reserve(s.text.size());
    for (std::string_view line : s.damagedLines)
        text.append(line).append("\n");
    for (std::string_view line : s.readingLines)
        text.append(line).append("\n");
    WriteOutcome outcome = replaceFile(m_path, text);
    if (!outcome)
        return outcome;
    m_waiting = std::unordered_set<std::string>(s.waitingIds.begin(), s.waitingIds.end());
    m_damaged = static_cast<int>(s.damagedLines.size());
    m_confirmations = 0;
    m_endsInsideLine = false;
    return outcome;
}

} // namespace palvero::central

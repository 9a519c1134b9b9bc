#include "meter_format.h"

#include "receiver_frame.h"
#include "value_format.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <sstream>

namespace palvero {

namespace {

// Position just after the first occurrence of `pattern` in the data; -1 when it is absent.
int afterPattern(const std::vector<uint8_t>& pattern, const uint8_t* data, size_t size)
{
    if (pattern.empty())
        return 0;
    const uint8_t* end = data + size;
    const uint8_t* at = std::search(data, end, pattern.begin(), pattern.end());
    return at == end ? -1 : static_cast<int>(at - data + static_cast<long>(pattern.size()));
}

} // namespace

int fieldStart(const FormatField& field, const uint8_t* data, size_t size)
{
    const int base = afterPattern(field.after, data, size);
    if (base < 0 || field.size < 1 || field.size > 8 || field.offset < 0)
        return -1;
    const long start = static_cast<long>(base) + field.offset;
    if (start + field.size > static_cast<long>(size))
        return -1;
    return static_cast<int>(start);
}

std::optional<int64_t> readFieldValue(const FormatField& field, const uint8_t* data, size_t size)
{
    const int start = fieldStart(field, data, size);
    if (start < 0)
        return std::nullopt;
    const uint8_t* p = data + start;
    const int n = field.size;
    // Bytes from the most significant on.
    auto byte = [&](int i) { return field.bigEndian ? p[i] : p[n - 1 - i]; };
    if (field.coding == FormatField::Coding::Bcd) {
        int64_t value = 0;
        for (int i = 0; i < n; ++i) {
            const uint8_t b = byte(i);
            if ((b >> 4) > 9 || (b & 0x0F) > 9)
                return std::nullopt;
            value = value * 100 + (b >> 4) * 10 + (b & 0x0F);
        }
        return value; // 16 digits stay below 2^63
    }
    uint64_t value = 0;
    for (int i = 0; i < n; ++i)
        value = value << 8 | byte(i);
    if (field.coding == FormatField::Coding::Signed) {
        if (n < 8 && (value >> (8 * n - 1)) & 1)
            value |= ~uint64_t{0} << (8 * n);
        return static_cast<int64_t>(value);
    }
    if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        return std::nullopt;
    return static_cast<int64_t>(value);
}

std::optional<uint16_t> manufacturerCode(const std::string& letters)
{
    if (letters.size() != 3)
        return std::nullopt;
    unsigned code = 0;
    for (char c : letters) {
        if (c < 'A' || c > 'Z')
            return std::nullopt;
        code = code << 5 | static_cast<unsigned>(c - 64);
    }
    return static_cast<uint16_t>(code);
}

bool MeterFormat::matches(const FormatTelegram& t) const
{
    if ((manufacturer && *manufacturer != t.manufacturer) || (version && *version != t.version)
        || (deviceType && *deviceType != t.deviceType) || (linkCi && *linkCi != t.linkCi)
        || (applicationCi && *applicationCi != t.applicationCi) || (length && *length != t.size))
        return false;
    for (const auto& f : fixed) {
        if (f.offset < 0 || static_cast<size_t>(f.offset) + f.bytes.size() > t.size
            || !std::equal(f.bytes.begin(), f.bytes.end(), t.data + f.offset))
            return false;
    }
    return true;
}

const FormatReading* MeterFormat::mainReading() const
{
    for (const auto& r : readings)
        if (r.main)
            return &r;
    return readings.empty() ? nullptr : &readings.front();
}

MeterFormats::MeterFormats(std::vector<MeterFormat> formats)
    : m_formats(std::move(formats))
{
}

void MeterFormats::putFirst(std::vector<MeterFormat> formats)
{
    formats.insert(formats.end(), m_formats.begin(), m_formats.end());
    m_formats = std::move(formats);
}

const MeterFormat* MeterFormats::find(const FormatTelegram& t) const
{
    for (const auto& format : m_formats) {
        if (!format.matches(t))
            continue;
        const FormatReading* main = format.mainReading();
        if (main && readFieldValue(main->field, t.data, t.size))
            return &format;
    }
    return nullptr;
}

std::vector<FormatValue> MeterFormats::read(const MeterFormat& format, const FormatTelegram& t, char separator)
{
    std::vector<FormatValue> values;
    const FormatReading* main = format.mainReading();
    if (!main || !readFieldValue(main->field, t.data, t.size))
        return values;
    for (const auto& r : format.readings) {
        const auto raw = readFieldValue(r.field, t.data, t.size);
        if (!raw)
            continue;
        FormatValue v;
        renderScaledTo(v.value, *raw, r.field.scale, 19, separator);
        v.unit = r.unit;
        v.main = &r == main;
        values.push_back(std::move(v));
    }
    return values;
}

// ---------------------------------------------------------------------------------------
// The text form.

namespace {

bool parseInt(const std::string& word, int& out)
{
    const char* first = word.data();
    if (!word.empty() && word[0] == '+')
        ++first;
    auto res = std::from_chars(first, word.data() + word.size(), out);
    return res.ec == std::errc() && res.ptr == word.data() + word.size() && first != word.data() + word.size();
}

bool parseHexByte(const std::string& word, uint8_t& out)
{
    if (word.size() != 2 || hexDigitValue(word[0]) < 0 || hexDigitValue(word[1]) < 0)
        return false;
    out = static_cast<uint8_t>(hexDigitValue(word[0]) << 4 | hexDigitValue(word[1]));
    return true;
}

// "at 25 uint 4 scale -3 m3" or "after 04 13 +2 bcd 8 be scale -3 m3", from words[i] on.
bool parseReading(const std::vector<std::string>& w, size_t i, FormatReading& r, std::string& why)
{
    FormatField& f = r.field;
    if (i >= w.size()) {
        why = "a reading needs a place: at OFFSET or after BYTES";
        return false;
    }
    if (w[i] == "at") {
        if (i + 1 >= w.size() || !parseInt(w[i + 1], f.offset) || f.offset < 0) {
            why = "at needs an offset of 0 or more";
            return false;
        }
        i += 2;
    } else if (w[i] == "after") {
        ++i;
        uint8_t b = 0;
        while (i < w.size() && parseHexByte(w[i], b)) {
            f.after.push_back(b);
            ++i;
        }
        if (f.after.empty()) {
            why = "after needs the bytes before the field in hex";
            return false;
        }
        if (i < w.size() && w[i][0] == '+') {
            if (!parseInt(w[i], f.offset) || f.offset < 0) {
                why = "the distance after the bytes must be +0 or more";
                return false;
            }
            ++i;
        }
    } else {
        why = "a reading needs a place: at OFFSET or after BYTES";
        return false;
    }
    if (i + 1 >= w.size()) {
        why = "a reading needs a coding: uint, int or bcd and its size";
        return false;
    }
    int size = 0;
    const bool sized = parseInt(w[i + 1], size);
    if (w[i] == "uint" || w[i] == "int") {
        f.coding = w[i] == "uint" ? FormatField::Coding::Unsigned : FormatField::Coding::Signed;
        if (!sized || size < 1 || size > 8) {
            why = w[i] + " needs a size of 1 to 8 bytes";
            return false;
        }
        f.size = size;
    } else if (w[i] == "bcd") {
        f.coding = FormatField::Coding::Bcd;
        if (!sized || size < 2 || size > 16 || size % 2) {
            why = "bcd needs an even number of 2 to 16 digits";
            return false;
        }
        f.size = size / 2;
    } else {
        why = "unknown coding \"" + w[i] + "\": uint, int or bcd";
        return false;
    }
    i += 2;
    if (i < w.size() && w[i] == "be") {
        f.bigEndian = true;
        ++i;
    }
    if (i + 1 >= w.size() || w[i] != "scale" || !parseInt(w[i + 1], f.scale) || f.scale < -12 || f.scale > 12) {
        why = "a reading needs scale N (a power of ten, -12 to 12) and its unit";
        return false;
    }
    i += 2;
    if (i + 1 != w.size()) {
        why = "a reading ends with its unit, one word";
        return false;
    }
    r.unit = w[i];
    return true;
}

bool parseLine(const std::vector<std::string>& w, MeterFormat& f, std::string& why)
{
    const std::string& key = w[0];
    uint8_t b = 0;
    auto oneByte = [&](std::optional<uint8_t>& field) {
        if (w.size() != 2 || !parseHexByte(w[1], b)) {
            why = key + " needs one byte in hex";
            return false;
        }
        field = b;
        return true;
    };
    if (key == "manufacturer") {
        auto code = w.size() == 2 ? manufacturerCode(w[1]) : std::nullopt;
        if (!code) {
            why = "manufacturer needs its three letters";
            return false;
        }
        f.manufacturer = code;
        return true;
    }
    if (key == "version")
        return oneByte(f.version);
    if (key == "device")
        return oneByte(f.deviceType);
    if (key == "ci") {
        uint8_t inner = 0;
        if (w.size() < 2 || w.size() > 3 || !parseHexByte(w[1], b) || (w.size() == 3 && !parseHexByte(w[2], inner))) {
            why = "ci needs the link layer's CI and, where another follows, the application's";
            return false;
        }
        f.linkCi = b;
        f.applicationCi = w.size() == 3 ? inner : b;
        return true;
    }
    if (key == "length") {
        int n = 0;
        if (w.size() != 2 || !parseInt(w[1], n) || n < 0) {
            why = "length needs the number of application data bytes";
            return false;
        }
        f.length = static_cast<size_t>(n);
        return true;
    }
    if (key == "bytes") {
        MeterFormat::FixedBytes fixed;
        if (w.size() < 3 || !parseInt(w[1], fixed.offset) || fixed.offset < 0) {
            why = "bytes needs an offset and the bytes in hex";
            return false;
        }
        for (size_t i = 2; i < w.size(); ++i) {
            if (!parseHexByte(w[i], b)) {
                why = "bytes needs an offset and the bytes in hex";
                return false;
            }
            fixed.bytes.push_back(b);
        }
        f.fixed.push_back(std::move(fixed));
        return true;
    }
    if (key == "main" || key == "value") {
        FormatReading r;
        r.main = key == "main";
        if (r.main && std::any_of(f.readings.begin(), f.readings.end(), [](const auto& x) { return x.main; })) {
            why = "a format has one main reading";
            return false;
        }
        if (!parseReading(w, 1, r, why))
            return false;
        f.readings.push_back(std::move(r));
        return true;
    }
    why = "unknown line \"" + key + "\"";
    return false;
}

std::string hexList(const std::vector<uint8_t>& bytes)
{
    std::string out;
    for (uint8_t b : bytes)
        out += " " + hexByte(b);
    return out;
}

} // namespace

std::vector<MeterFormat> parseMeterFormats(const std::string& text, std::vector<FormatTextError>* errors)
{
    std::vector<MeterFormat> formats;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    bool open = false; // a block whose lines are still all good
    bool broken = false;
    // A block with a bad line, or without a reading, is left out whole.
    auto close = [&] {
        if (open && (broken || formats.back().readings.empty()))
            formats.pop_back();
        open = false;
    };
    auto fail = [&](std::string why) {
        if (errors)
            errors->push_back({number, std::move(why)});
        broken = true;
    };
    while (std::getline(in, line)) {
        ++number;
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        if (w.empty() || w[0][0] == '#')
            continue;
        if (w[0] == "format") {
            if (open && !broken && formats.back().readings.empty())
                fail("format " + formats.back().name + " has no reading");
            close();
            if (w.size() != 2) {
                fail("format needs a name of one word");
                continue;
            }
            formats.emplace_back();
            formats.back().name = w[1];
            open = true;
            broken = false;
            continue;
        }
        if (!open) {
            if (!broken)
                fail("a line before the first format line");
            continue;
        }
        if (broken)
            continue;
        std::string why;
        if (!parseLine(w, formats.back(), why))
            fail(why);
    }
    if (open && !broken && formats.back().readings.empty()) {
        ++number;
        fail("format " + formats.back().name + " has no reading");
    }
    close();
    return formats;
}

std::string formatFieldText(const FormatField& f)
{
    std::string out;
    if (f.after.empty())
        out = "at " + std::to_string(f.offset);
    else
        out = "after" + hexList(f.after) + (f.offset ? " +" + std::to_string(f.offset) : "");
    if (f.coding == FormatField::Coding::Bcd)
        out += " bcd " + std::to_string(2 * f.size);
    else
        out += (f.coding == FormatField::Coding::Signed ? " int " : " uint ") + std::to_string(f.size);
    if (f.bigEndian)
        out += " be";
    return out + " scale " + std::to_string(f.scale);
}

std::string meterFormatText(const MeterFormat& f)
{
    std::string out = "format " + f.name + "\n";
    if (f.manufacturer) {
        const unsigned m = *f.manufacturer;
        out += "  manufacturer ";
        out += static_cast<char>(64 + ((m >> 10) & 0x1F));
        out += static_cast<char>(64 + ((m >> 5) & 0x1F));
        out += static_cast<char>(64 + (m & 0x1F));
        out += "\n";
    }
    if (f.version)
        out += "  version " + hexByte(*f.version) + "\n";
    if (f.deviceType)
        out += "  device " + hexByte(*f.deviceType) + "\n";
    if (f.linkCi) {
        out += "  ci " + hexByte(*f.linkCi);
        if (f.applicationCi && *f.applicationCi != *f.linkCi)
            out += " " + hexByte(*f.applicationCi);
        out += "\n";
    }
    if (f.length)
        out += "  length " + std::to_string(*f.length) + "\n";
    for (const auto& fixed : f.fixed)
        out += "  bytes " + std::to_string(fixed.offset) + hexList(fixed.bytes) + "\n";
    for (const auto& r : f.readings)
        out += std::string(r.main ? "  main " : "  value ") + formatFieldText(r.field) + " " + r.unit + "\n";
    return out;
}

std::string meterFormatsText(const std::vector<MeterFormat>& formats)
{
    std::string out;
    for (const auto& f : formats)
        out += (out.empty() ? "" : "\n") + meterFormatText(f);
    return out;
}

const std::vector<MeterFormat>& knownMeterFormats()
{
    static const std::vector<MeterFormat> formats = parseMeterFormats(knownMeterFormatsText());
    return formats;
}

} // namespace palvero

#include "code_page.h"

#include <array>
#include <cctype>

namespace palvero {

namespace {

using HighHalf = std::array<char16_t, 128>;

// Bytes 0x80 to 0xFF. A byte the code page leaves undefined stands for the C1 control
// character of its own number (0x81 -> U+0081), as the Windows conversion does.
constexpr HighHalf kWindows1251 = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F, // F8
};

constexpr HighHalf kWindows1252 = [] {
    HighHalf t{};
    constexpr char16_t c1[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98
    };
    for (int i = 0; i < 32; ++i)
        t[static_cast<std::size_t>(i)] = c1[i];
    // 0xA0 to 0xFF are the Latin-1 characters of the same number.
    for (int i = 32; i < 128; ++i)
        t[static_cast<std::size_t>(i)] = static_cast<char16_t>(0x80 + i);
    return t;
}();

const HighHalf& highHalf(CodePage page)
{
    return page == CodePage::Windows1251 ? kWindows1251 : kWindows1252;
}

bool sameLetters(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

std::optional<CodePage> codePageNamed(std::string_view name)
{
    if (sameLetters(name, kWindows1251Name))
        return CodePage::Windows1251;
    if (sameLetters(name, kWindows1252Name))
        return CodePage::Windows1252;
    return std::nullopt;
}

const char* codePageName(CodePage page)
{
    return page == CodePage::Windows1251 ? kWindows1251Name : kWindows1252Name;
}

CodePage codePageForLanguage(std::string_view language)
{
    static constexpr std::string_view kCyrillic[] = {"bg", "ru", "sr", "mk", "uk"};
    const std::string_view code = language.substr(0, language.find_first_of("_-.@"));
    for (std::string_view c : kCyrillic)
        if (sameLetters(code, c))
            return CodePage::Windows1251;
    return CodePage::Windows1252;
}

char32_t codePageCharacter(CodePage page, std::uint8_t byte)
{
    if (byte < 0x80)
        return byte;
    return highHalf(page)[byte - 0x80u];
}

std::optional<std::uint8_t> codePageByte(CodePage page, char32_t character)
{
    if (character < 0x80)
        return static_cast<std::uint8_t>(character);
    if (page == CodePage::Windows1251 && character >= 0x0410 && character <= 0x044F)
        return static_cast<std::uint8_t>(0xC0 + (character - 0x0410));
    const HighHalf& table = highHalf(page);
    for (std::size_t i = 0; i < table.size(); ++i)
        if (table[i] == character)
            return static_cast<std::uint8_t>(0x80 + i);
    return std::nullopt;
}

bool utf8ToCodePage(std::string_view utf8, CodePage page, std::string& out, char32_t* unheld)
{
    out.clear();
    out.reserve(utf8.size());
    std::size_t at = 0;
    while (at < utf8.size()) {
        const char32_t c = decodeUtf8(utf8, at);
        const std::optional<std::uint8_t> byte = c == 0xFFFD ? std::nullopt : codePageByte(page, c);
        if (!byte) {
            if (unheld)
                *unheld = c;
            return false;
        }
        out += static_cast<char>(*byte);
    }
    return true;
}

char32_t decodeUtf8(std::string_view s, std::size_t& at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        ++at;
        return lead;
    }
    int length = 0;
    char32_t c = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        c = lead & 0x1F;
        least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        c = lead & 0x0F;
        least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        c = lead & 0x07;
        least = 0x10000;
    } else {
        ++at;
        return 0xFFFD;
    }
    if (at + static_cast<std::size_t>(length) > s.size()) {
        ++at;
        return 0xFFFD;
    }
    for (int i = 1; i < length; ++i) {
        const unsigned char next = byte(at + static_cast<std::size_t>(i));
        if ((next & 0xC0) != 0x80) {
            ++at;
            return 0xFFFD;
        }
        c = (c << 6) | (next & 0x3F);
    }
    at += static_cast<std::size_t>(length);
    // Over-long forms, surrogates and values past U+10FFFF are no characters.
    if (c < least || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        return 0xFFFD;
    return c;
}

std::string utf8Of(char32_t c)
{
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

std::string codePageToUtf8(std::string_view bytes, CodePage page)
{
    std::string out;
    out.reserve(bytes.size());
    for (char b : bytes)
        out += utf8Of(codePageCharacter(page, static_cast<std::uint8_t>(b)));
    return out;
}

} // namespace palvero

#include "cell_codec.h"

namespace palvero::central {

namespace {

// The code point of the UTF-8 sequence at `i` and its length; length 0 when malformed.
char32_t nextCodePoint(std::string_view s, size_t i, size_t& length)
{
    const unsigned char lead = static_cast<unsigned char>(s[i]);
    length = 0;
    size_t n = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        cp = lead & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k) {
        const unsigned char c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80)
            return 0;
        cp = cp << 6 | (c & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    length = n;
    return cp;
}

} // namespace

std::string databaseText(std::string_view cell)
{
    std::string out;
    out.reserve(cell.size());
    for (unsigned char c : cell) {
        if (c == 0) {
            out += "\xEF\xBF\xBD";
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::optional<std::string> cellText(std::string_view utf8, int* replaced)
{
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        size_t length = 0;
        const char32_t cp = nextCodePoint(utf8, i, length);
        if (length > 0 && cp <= 0xFF) {
            out += static_cast<char>(cp);
            i += length;
            continue;
        }
        if (!replaced)
            return std::nullopt;
        out += '?';
        ++*replaced;
        i += length > 0 ? length : 1;
    }
    return out;
}

bool isUtf8(std::string_view bytes)
{
    for (size_t i = 0; i < bytes.size();) {
        size_t length = 0;
        nextCodePoint(bytes, i, length);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

} // namespace palvero::central

#include "key_text.h"

#include <cstdio>

namespace palvero {

namespace {

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isSeparator(char c)
{
    // 0xA0 is the no-break space that web pages and mail programs put between groups.
    return c == ' ' || c == '\t' || c == '-' || c == '\r' || c == '\n' || c == '\xA0';
}

} // namespace

KeyText readKeyText(std::string_view text)
{
    KeyText key;
    size_t from = 0;
    while (from < text.size() && isSeparator(text[from]))
        ++from;
    // One "0x" before the first digit; "0x" inside the key would hide a wrong digit count.
    if (text.size() - from >= 2 && text[from] == '0' && (text[from + 1] == 'x' || text[from + 1] == 'X'))
        from += 2;
    for (size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (isHexDigit(c)) {
            key.digits += c;
        } else if (!isSeparator(c)) {
            key.status = KeyText::Status::NotHex;
            key.bad = c;
            return key;
        }
    }
    if (key.digits.empty())
        key.status = KeyText::Status::Empty;
    else if (key.digits.size() < KeyText::kDigits)
        key.status = KeyText::Status::Short;
    else if (key.digits.size() > KeyText::kDigits)
        key.status = KeyText::Status::Long;
    else
        key.status = KeyText::Status::Key;
    return key;
}

std::string keyProblemText(const KeyText& key)
{
    const std::string count = std::to_string(key.digits.size());
    switch (key.status) {
    case KeyText::Status::Key:
        return {};
    case KeyText::Status::Empty:
        return "No key: a key is 32 hexadecimal digits";
    case KeyText::Status::Short:
        return "Only " + count + " hexadecimal digits: a key has 32";
    case KeyText::Status::Long:
        return count + " hexadecimal digits: a key has 32";
    case KeyText::Status::NotHex:
        break;
    }
    const unsigned char c = static_cast<unsigned char>(key.bad);
    char shown[16];
    if (c > 0x20 && c < 0x7F)
        std::snprintf(shown, sizeof shown, "\"%c\"", key.bad);
    else
        std::snprintf(shown, sizeof shown, "byte %02X", c);
    return std::string(shown) + " is not a hexadecimal digit: a key is 32 digits 0-9 and A-F";
}

} // namespace palvero

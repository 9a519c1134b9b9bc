#include "receiver_frame.h"

namespace palvero {

namespace {
const char kHex[] = "0123456789ABCDEF";
} // namespace

bool framesCarryRssi(const DecodeOptions& s)
{
    return s.framesCarryRssi();
}

bool framesCarryCrc(const DecodeOptions& s)
{
    return s.framesCarryCrc();
}

int rssiOffset(size_t frameLength, const DecodeOptions& s)
{
    int n = static_cast<int>(frameLength);
    int at = framesCarryCrc(s) ? n - 4 : n - 2;
    return at >= 2 ? at : -1;
}

std::string rssiText(const ReceiverFrame& f, const DecodeOptions& s)
{
    int at = rssiOffset(f.size(), s);
    if (at < 0)
        return {};
    return "-" + std::to_string(f[static_cast<size_t>(at)] >> 1);
}

int telegramDataEnd(size_t frameLength, const DecodeOptions& s)
{
    int end = static_cast<int>(frameLength) - (framesCarryRssi(s) ? 3 : 2);
    if (framesCarryCrc(s))
        end -= 2;
    return end;
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool parseHexBytes(std::string_view text, std::vector<uint8_t>& bytes)
{
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        const int v = hexDigitValue(c);
        if (v < 0)
            return false;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return high < 0;
}

std::string hexByte(uint8_t b)
{
    return std::string{kHex[b >> 4], kHex[b & 0x0F]};
}

std::string hexBytesSpaced(const uint8_t* data, size_t n)
{
    std::string out;
    out.reserve(n * 3);
    for (size_t i = 0; i < n; ++i) {
        out += kHex[data[i] >> 4];
        out += kHex[data[i] & 0x0F];
        out += ' ';
    }
    return out;
}

} // namespace palvero

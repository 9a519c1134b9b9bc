#include "value_format.h"

#include "transport_layer.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <string_view>

namespace palvero {

namespace {

const char kHex[] = "0123456789ABCDEF";

void appendHex(std::string& out, uint8_t b)
{
    out += kHex[b >> 4];
    out += kHex[b & 0x0F];
}

// Appends the hex digits of `n` bytes from `at`, most significant (last received) byte
// first: into the text's own buffer, which every telegram reuses.
void appendHexMsbFirst(std::string& out, const ReceiverFrame& f, int at, int n)
{
    for (int i = n - 1; i >= 0; --i)
        appendHex(out, f[static_cast<size_t>(at + i)]);
}

// The same in the order received.
void appendHexInOrder(std::string& out, const ReceiverFrame& f, int at, int n)
{
    for (int i = 0; i < n; ++i)
        appendHex(out, f[static_cast<size_t>(at + i)]);
}

uint64_t unsignedLsbFirst(const ReceiverFrame& f, int at, int n)
{
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | f[static_cast<size_t>(at + i)];
    return v;
}

std::string zeroText(int decimals, char separator)
{
    std::string out = "0";
    if (decimals > 0) {
        out += separator;
        out.append(static_cast<size_t>(decimals), '0');
    }
    return out;
}

// BCD digits most significant byte first, read as a signed 32-bit decimal number.
bool readBcd(const ReceiverFrame& f, int at, int n, int64_t& value)
{
    value = 0;
    for (int i = n - 1; i >= 0; --i) {
        const uint8_t b = f[static_cast<size_t>(at + i)];
        const int hi = b >> 4, lo = b & 0x0F;
        if (hi > 9 || lo > 9)
            return false;
        value = value * 100 + hi * 10 + lo;
    }
    return value <= 2147483647;
}

bool isDateVif(uint8_t vif)
{
    return vif == 0x6C || vif == 0x6D || vif == 0xEC || vif == 0xED;
}

void decodeReal(std::string& text, const ReceiverFrame& f, int d, double factor, char separator)
{
    const uint32_t bits = static_cast<uint32_t>(unsignedLsbFirst(f, d, 4));
    const bool negative = (bits >> 31) != 0;
    const int e = static_cast<int>((bits >> 23) & 0xFF);
    const uint32_t fraction = bits & 0x7FFFFF;
    if (e == 255) {
        text.assign("NaN or Infinite");
        return;
    }
    // Single precision throughout, and no subnormal rule: e = 0 is 2^-127 × 1.f.
    const float mantissa = 1.0f + static_cast<float>(fraction) / 8388608.0f;
    const float magnitude = std::ldexp(mantissa, e - 127);
    const double value = static_cast<double>(magnitude) * factor;
    if (!std::isfinite(value)) {
        text.assign("Exception on float conversion");
        return;
    }
    renderDoubleTo(text, value, 9, 5, separator);
    if (negative)
        text.insert(text.begin(), '-');
}

// Characters after the LVAR byte: the LVAR rule's count.
int variableLengthCount(uint8_t lvar)
{
    return lvar <= 0xBF ? lvar : lvar <= 0xFA ? (lvar & 0x0F) : 0;
}

// The text of a variable-length field that lies wholly inside the frame.
void decodeVariableLength(std::string& text, const ReceiverFrame& f, int d)
{
    const uint8_t lvar = f[static_cast<size_t>(d)];
    const int n = variableLengthCount(lvar);
    if (lvar <= 0xBF) {
        text.resize(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            text[static_cast<size_t>(i)] = printableCellChar(f[static_cast<size_t>(d + 1 + i)]);
    }
    else if (lvar <= 0xFA) {
        text.assign(lvar <= 0xCF ? "" : lvar <= 0xDF ? "-" : lvar <= 0xEF ? "0x"
                                                      : "Floating point, to be defined in the future, but hex is: 0x");
        appendHexInOrder(text, f, d + 1, n);
    } else
        text.assign("Reserved for future use? ");
}

} // namespace

void renderDecimalTo(std::string& out, bool negative, std::string_view digitText, int exponent, int precision,
                     int decimals, char separator)
{
    const size_t first = digitText.find_first_not_of('0');
    if (first == std::string_view::npos) {
        out = zeroText(decimals, separator);
        return;
    }
    digitText.remove_prefix(first);
    // One spare place in front for a carry out of the first digit.
    char buffer[64];
    if (digitText.size() > sizeof buffer - 1)
        digitText = digitText.substr(0, sizeof buffer - 1); // beyond any precision in use
    char* digits = buffer + 1;
    digitText.copy(digits, digitText.size());
    int len = static_cast<int>(digitText.size());

    const int keep = std::min(precision, len + exponent + decimals);
    if (keep < len) {
        const bool up = keep >= 0 && digits[keep] >= '5';
        if (keep < 0 || (keep == 0 && !up)) {
            out = zeroText(decimals, separator);
            return;
        }
        exponent += len - keep;
        len = keep;
        if (up) {
            int i = len - 1;
            for (; i >= 0 && digits[i] == '9'; --i)
                digits[i] = '0';
            if (i >= 0) {
                ++digits[i];
            } else {
                --digits;
                digits[0] = '1';
                ++len;
            }
        }
    }

    // Written into a buffer first and taken into `out` at once: a value is rendered for
    // every cell of every telegram.
    const int intDigits = len + exponent;
    const size_t need = 32 + static_cast<size_t>(std::max(precision, 1)) + static_cast<size_t>(std::max(decimals, 0));
    char stack[128];
    std::unique_ptr<char[]> heap;
    char* const text = need <= sizeof stack ? stack : (heap = std::make_unique<char[]>(need)).get();
    char* p = text;
    if (negative)
        *p++ = '-';
    if (intDigits > precision) {
        int last = len - 1;
        while (last > 0 && digits[last] == '0')
            --last;
        *p++ = digits[0];
        if (last > 0) {
            *p++ = separator;
            std::memcpy(p, digits + 1, static_cast<size_t>(last));
            p += last;
        }
        *p++ = 'E';
        *p++ = '+';
        p = std::to_chars(p, p + 12, intDigits - 1).ptr;
        out.assign(text, static_cast<size_t>(p - text));
        return;
    }
    auto digitAt = [&](int i) { return i >= 0 && i < len ? digits[i] : '0'; };
    if (intDigits <= 0) {
        *p++ = '0';
    } else {
        for (int i = 0; i < intDigits; ++i)
            *p++ = digitAt(i);
    }
    if (decimals > 0) {
        *p++ = separator;
        for (int i = 0; i < decimals; ++i)
            *p++ = digitAt(intDigits + i);
    }
    out.assign(text, static_cast<size_t>(p - text));
}

void renderScaledTo(std::string& out, int64_t value, int exponent, int precision, char separator, int decimals)
{
    const bool negative = value < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, magnitude);
    const int n = static_cast<int>(res.ptr - buf);
    // Most values need no rounding: every digit fits the precision and the decimals, and
    // the text is the digits with the separator put in (a meter's counts and readings).
    if (magnitude != 0 && n <= precision && n + exponent <= precision && exponent >= -decimals && exponent <= 6
        && decimals <= 12) {
        char text[64];
        char* p = text;
        if (negative)
            *p++ = '-';
        const int intDigits = n + exponent;
        if (intDigits <= 0) {
            *p++ = '0';
        } else if (exponent >= 0) {
            std::memcpy(p, buf, static_cast<size_t>(n));
            p += n;
            std::memset(p, '0', static_cast<size_t>(exponent));
            p += exponent;
        } else {
            std::memcpy(p, buf, static_cast<size_t>(intDigits));
            p += intDigits;
        }
        if (decimals > 0) {
            *p++ = separator;
            int written = 0;
            for (; intDigits + written < 0 && written < decimals; ++written)
                *p++ = '0';
            for (int i = std::max(intDigits, 0); i < n && written < decimals; ++i, ++written)
                *p++ = buf[i];
            for (; written < decimals; ++written)
                *p++ = '0';
        }
        out.assign(text, static_cast<size_t>(p - text));
        return;
    }
    renderDecimalTo(out, negative, std::string_view(buf, static_cast<size_t>(res.ptr - buf)), exponent, precision,
                    decimals, separator);
}

std::string renderScaled(int64_t value, int exponent, int precision, char separator, int decimals)
{
    std::string out;
    renderScaledTo(out, value, exponent, precision, separator, decimals);
    return out;
}

void renderDoubleTo(std::string& out, double value, int precision, int decimals, char separator)
{
    const bool negative = std::signbit(value);
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
    // d.ddde±xx: gather the digits and the exponent of the last digit.
    char digits[32];
    int n = 0;
    const char* p = buf;
    for (; p < res.ptr && *p != 'e'; ++p)
        if (*p != '.' && n < static_cast<int>(sizeof digits))
            digits[n++] = *p;
    int e = 0;
    if (p < res.ptr) {
        ++p;
        if (*p == '+')
            ++p;
        std::from_chars(p, res.ptr, e);
    }
    renderDecimalTo(out, negative, std::string_view(digits, static_cast<size_t>(n)), e - n + 1, precision, decimals,
                    separator);
}

std::string renderDouble(double value, int precision, int decimals, char separator)
{
    std::string out;
    renderDoubleTo(out, value, precision, decimals, separator);
    return out;
}

int difDataLength(uint8_t difLowNibble)
{
    static const int lengths[16] = {0, 1, 2, 3, 4, 4, 6, 8, 0, 1, 2, 3, 4, 5, 6, 0};
    return lengths[difLowNibble & 0x0F];
}

namespace {

char* appendNumber(char* p, int value)
{
    return std::to_chars(p, p + 12, value).ptr;
}

char* appendDate(char* p, uint8_t b0, uint8_t b1)
{
    p = appendNumber(p, b0 & 0x1F);
    *p++ = '.';
    p = appendNumber(p, b1 & 0x0F);
    *p++ = '.';
    return appendNumber(p, ((b0 & 0xE0) >> 5) + ((b1 & 0xF0) >> 1));
}

char* appendDateTime(char* p, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    p = appendNumber(p, b1 & 0x1F);
    *p++ = ':';
    const int minute = b0 & 0x3F;
    if (minute <= 9)
        *p++ = '0';
    p = appendNumber(p, minute);
    *p++ = ',';
    *p++ = ' ';
    return appendDate(p, b2, b3);
}

} // namespace

std::string formatDate(uint8_t b0, uint8_t b1)
{
    char buf[48];
    return std::string(buf, appendDate(buf, b0, b1));
}

std::string formatDateTime(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    char buf[48];
    return std::string(buf, appendDateTime(buf, b0, b1, b2, b3));
}

FieldExtent dataFieldExtent(const ReceiverFrame& f, int d, uint8_t dif, uint8_t vif)
{
    const uint8_t coding = dif & 0x0F;
    FieldExtent r;
    r.length = difDataLength(coding);
    const size_t size = f.size();
    if (d < 0 || static_cast<size_t>(d) + static_cast<size_t>(coding == 0x0D ? 1 : r.length) > size) {
        r.overrun = true;
        return r;
    }
    if (coding == 0x0D && !isDateVif(vif)) {
        r.length = variableLengthCount(f[static_cast<size_t>(d)]) + 1;
        r.overrun = static_cast<size_t>(d) + static_cast<size_t>(r.length) > size;
    }
    return r;
}

FieldNumber dataFieldNumber(const ReceiverFrame& f, int d, uint8_t dif, uint8_t vif, double factor, bool wide,
                            const FieldExtent& extent)
{
    FieldNumber n;
    const uint8_t coding = dif & 0x0F;
    if (extent.overrun || isDateVif(vif) || coding == 0x0D)
        return n;
    const bool fabricationNumber = vif == 0x78;
    int64_t bcd = 0;
    switch (coding) {
    case 0x1:
    case 0x2:
    case 0x3:
    case 0x6:
        if (fabricationNumber && coding != 0x1 && coding != 0x2)
            break;
        n.kind = FieldNumber::Kind::Integer;
        n.integer = static_cast<int64_t>(unsignedLsbFirst(f, d, extent.length));
        break;
    case 0x4:
        if (fabricationNumber)
            break;
        n.kind = FieldNumber::Kind::Integer;
        n.integer = static_cast<int32_t>(static_cast<uint32_t>(unsignedLsbFirst(f, d, 4)));
        break;
    case 0x5: {
        const uint32_t bits = static_cast<uint32_t>(unsignedLsbFirst(f, d, 4));
        const int e = static_cast<int>((bits >> 23) & 0xFF);
        if (e == 255)
            break;
        const float mantissa = 1.0f + static_cast<float>(bits & 0x7FFFFF) / 8388608.0f;
        n.kind = FieldNumber::Kind::Real;
        n.real = static_cast<double>(std::ldexp(mantissa, e - 127)) * factor;
        if (!std::isfinite(n.real))
            n.kind = FieldNumber::Kind::None;
        else if (bits >> 31)
            n.real = -n.real;
        break;
    }
    case 0x7:
        if (wide && !fabricationNumber) {
            n.kind = FieldNumber::Kind::Integer;
            n.integer = static_cast<int64_t>(unsignedLsbFirst(f, d, 8));
        }
        break;
    case 0x9:
    case 0xA:
    case 0xB:
    case 0xC:
    case 0xE:
        if ((fabricationNumber && coding >= 0xB) || !readBcd(f, d, extent.length, bcd))
            break;
        n.kind = FieldNumber::Kind::Integer;
        n.integer = bcd;
        break;
    default:
        break;
    }
    return n;
}

FieldExtent renderDataField(std::string& text, const ReceiverFrame& f, int d, uint8_t dif, uint8_t vif,
                            int e, double factor, char separator)
{
    const uint8_t coding = dif & 0x0F;
    const FieldExtent r = dataFieldExtent(f, d, dif, vif);
    const size_t size = f.size();
    if (r.overrun) {
        text.assign("Exception ");
        return r;
    }

    if (isDateVif(vif)) {
        const bool withTime = (vif & 0x7F) == 0x6D;
        if (static_cast<size_t>(d) + (withTime ? 4u : 2u) > size) {
            text.assign("Exception decoding DateTime");
            return r;
        }
        const uint8_t* b = &f[static_cast<size_t>(d)];
        char date[48];
        text.assign(date, withTime ? appendDateTime(date, b[0], b[1], b[2], b[3]) : appendDate(date, b[0], b[1]));
        return r;
    }

    const bool fabricationNumber = vif == 0x78;
    int64_t bcd = 0;
    switch (coding) {
    case 0x0:
        text.assign("No data ");
        break;
    case 0x1:
    case 0x2:
        renderScaledTo(text, static_cast<int64_t>(unsignedLsbFirst(f, d, r.length)), e, 8, separator);
        break;
    case 0x3:
        if (fabricationNumber) {
            text.assign("00");
            appendHexMsbFirst(text, f, d, 3);
        } else
            renderScaledTo(text, static_cast<int64_t>(unsignedLsbFirst(f, d, 3)), e, 11, separator);
        break;
    case 0x4:
        if (fabricationNumber) {
            text.clear();
            appendHexMsbFirst(text, f, d, 4);
        } else
            renderScaledTo(text, static_cast<int32_t>(static_cast<uint32_t>(unsignedLsbFirst(f, d, 4))), e, 13,
                           separator);
        break;
    case 0x5:
        decodeReal(text, f, d, factor, separator);
        break;
    case 0x6:
        if (fabricationNumber) {
            text.clear();
            appendHexMsbFirst(text, f, d, 6);
        } else
            renderScaledTo(text, static_cast<int64_t>(unsignedLsbFirst(f, d, 6)), e, 15, separator);
        break;
    case 0x7:
        text.assign("64-bit integer not supported, but hex is: 0x");
        appendHexMsbFirst(text, f, d, 8);
        break;
    case 0x8:
        text.assign("Unrecognizable DIF, not decoded ");
        break;
    case 0x9:
    case 0xA:
    case 0xB:
    case 0xC:
    case 0xE: {
        static const int precision[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 11, 13, 0, 15, 0};
        if (fabricationNumber && coding >= 0xB) {
            text.clear();
            appendHexMsbFirst(text, f, d, r.length);
        } else if (readBcd(f, d, r.length, bcd))
            renderScaledTo(text, bcd, e, precision[coding], separator);
        else
            text.assign("Exception ");
        break;
    }
    case 0xD:
        decodeVariableLength(text, f, d);
        break;
    default:
        text.clear();
        break;
    }
    return r;
}

FieldExtent decodeDataField(std::string& text, const ReceiverFrame& f, int d, uint8_t dif, uint8_t vif,
                            const VifInfo& info, char separator)
{
    return renderDataField(text, f, d, dif, vif, info.exponent, info.factor, separator);
}

DataField decodeDataField(const ReceiverFrame& f, int d, uint8_t dif, uint8_t vif, const VifInfo& info,
                          char separator)
{
    DataField r;
    const FieldExtent e = decodeDataField(r.text, f, d, dif, vif, info, separator);
    r.length = e.length;
    r.overrun = e.overrun;
    return r;
}

} // namespace palvero

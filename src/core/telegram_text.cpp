#include "telegram_text.h"

#include <cctype>
#include <cstdio>

namespace palvero {

namespace {

// C, M (2), A (6) and CI follow the L field in every telegram.
constexpr size_t kTelegramHeader = 11;

TelegramText failure(TelegramTextError error, std::string message)
{
    TelegramText t;
    t.error = error;
    t.message = std::move(message);
    return t;
}

std::string hexAndDecimal(uint8_t b)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%02X = %u", b, b);
    return text;
}

} // namespace

TelegramText readTelegramText(std::string_view text, const ReadingSettings& settings)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    int high = -1;
    size_t digits = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        const int value = hexDigitValue(c);
        if (value < 0) {
            const auto code = static_cast<unsigned char>(c);
            const std::string shown = code >= 0x20 && code < 0x7F ? "\"" + std::string(1, c) + "\""
                                                                  : "The character 0x" + hexByte(code);
            return failure(TelegramTextError::NotHex,
                           shown + " at position " + std::to_string(i + 1) + " is not a hexadecimal digit.");
        }
        ++digits;
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | value));
            high = -1;
        }
    }
    if (digits == 0)
        return failure(TelegramTextError::Empty, "Enter the telegram as hexadecimal bytes, for example 2E 44 2D 2C ...");
    if (high >= 0)
        return failure(TelegramTextError::OddDigits, "The text holds " + std::to_string(digits)
                           + " hexadecimal digits, an odd count: every byte takes two digits.");
    if (bytes.size() < kTelegramHeader)
        return failure(TelegramTextError::TooShort,
                       std::to_string(bytes.size()) + " bytes are too few: a telegram has at least "
                           + std::to_string(kTelegramHeader) + ", from its L field to its CI field.");

    const size_t n = bytes.size();
    const bool startsAsFrame = bytes[0] == frame::kStart;
    const bool frameLengthFits = bytes[1] + 3u == n;
    if (startsAsFrame && frameLengthFits && bytes[n - 1] == frame::kStop) {
        if (n < frame::kMinimumLength)
            return failure(TelegramTextError::TooShort,
                           "The receiver frame of " + std::to_string(n) + " bytes is too short: it needs at least "
                               + std::to_string(frame::kMinimumLength) + ", from 68 through the CI field to 16.");
        TelegramText t;
        t.frame = std::move(bytes);
        return t;
    }
    if (bytes[0] + 1u != n) {
        if (startsAsFrame && frameLengthFits)
            return failure(TelegramTextError::NoStopByte,
                           "The receiver frame ends in " + hexByte(bytes[n - 1]) + " instead of the stop byte 16.");
        if (startsAsFrame && bytes[n - 1] == frame::kStop)
            return failure(TelegramTextError::FrameLength,
                           "The frame's length byte (" + hexAndDecimal(bytes[1]) + ") does not match the "
                               + std::to_string(n - 3) + " bytes between it and the stop byte.");
        return failure(TelegramTextError::TelegramLength, "The L field (" + hexAndDecimal(bytes[0])
                           + ") does not match the " + std::to_string(n - 1) + " bytes that follow it.");
    }

    const size_t trailer = (framesCarryRssi(settings) ? 1 : 0) + (framesCarryCrc(settings) ? 2 : 0);
    const size_t length = n - 1 + trailer;
    if (length > 255)
        return failure(TelegramTextError::TooLong, "The telegram is too long for a receiver frame: "
                           + std::to_string(n) + " bytes with its L field, at most "
                           + std::to_string(256 - trailer) + " fit.");

    TelegramText t;
    t.frame.reserve(n + 2 + trailer);
    t.frame.push_back(frame::kStart);
    t.frame.push_back(static_cast<uint8_t>(length));
    t.frame.insert(t.frame.end(), bytes.begin() + 1, bytes.end());
    t.frame.insert(t.frame.end(), trailer, 0x00);
    t.frame.push_back(frame::kStop);
    return t;
}

} // namespace palvero

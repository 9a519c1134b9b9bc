#pragma once

#include "decode_options.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace palvero {

// One frame from the receiver: 0x68, L, the telegram from its C field on, the RSSI byte
// (when the receiver appends one), two CRC bytes ("MORVANE with CRC", v1 only) and 0x16.
// Offsets are counted from the start byte: C 2, M 3-4, ID 5-8, version 9, type 10, CI 11.
using ReceiverFrame = std::vector<uint8_t>;

namespace frame {
constexpr uint8_t kStart = 0x68;
constexpr uint8_t kStop = 0x16;
constexpr int kC = 2;
constexpr int kManufacturer = 3;
constexpr int kId = 5;
constexpr int kVersion = 9;
constexpr int kDeviceType = 10;
constexpr int kCi = 11;
// Start, L, the ten link-layer bytes up to the CI field, and the stop byte.
constexpr size_t kMinimumLength = 13;
} // namespace frame

// Whether the receiver appends an RSSI byte: "RSSI" for a v1 receiver, "RSSI On/Off" otherwise.
bool framesCarryRssi(const DecodeOptions& s);
// Whether each frame ends in two CRC bytes: only a v1 receiver with "MORVANE with CRC".
bool framesCarryCrc(const DecodeOptions& s);

// Offset of the RSSI byte: N-4 with the CRC bytes, N-2 otherwise (read whatever the RSSI
// settings say). -1 for a frame too short to have one.
int rssiOffset(size_t frameLength, const DecodeOptions& s);
// "-" and the RSSI byte shifted right by one, in decimal ("-77" for 0x9A); empty when
// the frame has no such byte.
std::string rssiText(const ReceiverFrame& f, const DecodeOptions& s);

// Offset of the last byte of telegram data: N-3 with an RSSI byte, N-2 without, two
// bytes earlier again with the CRC bytes. May be below the CI offset for a short frame.
int telegramDataEnd(size_t frameLength, const DecodeOptions& s);

// Hex text of bytes, upper case, every byte followed by one space ("68 04 ").
std::string hexBytesSpaced(const uint8_t* data, size_t n);
// Upper-case hex of one byte, two digits.
std::string hexByte(uint8_t b);
// Value of a hexadecimal digit of either case; -1 for any other character.
int hexDigitValue(char c);
// Appends the bytes of a hex text: pairs of digits of either case, with spaces, tabs and
// line ends allowed anywhere. False for any other character or an odd digit count.
bool parseHexBytes(std::string_view text, std::vector<uint8_t>& bytes);

// A telegram byte as a cell character: control bytes (below 0x20, and 0x7F) show as ".",
// so that no text from the air can break a line of the table, a log or a CSV file. Bytes
// 0x80 to 0xFF stay as they are: cells are single-byte (Latin-1) text.
inline char printableCellChar(uint8_t b)
{
    return b < 0x20 || b == 0x7F ? '.' : static_cast<char>(b);
}

} // namespace palvero

#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace palvero {

// The text field of every data file: one unsigned length byte followed by `capacity`
// single-byte characters (capacity at most 255). The field takes 1 + capacity bytes.

// Writes `text` cut to the capacity; the bytes after it are zero, so equal records are equal bytes.
void writeFixedText(std::uint8_t* field, std::size_t capacity, std::string_view text);

// Reads a field from untrusted bytes: a length byte above the capacity is taken as the
// capacity, so nothing beyond the field is ever read.
std::string_view readFixedText(const std::uint8_t* field, std::size_t capacity);

} // namespace palvero

#pragma once

#include <cstddef>
#include <cstdint>

namespace palvero {

// CRC-16 of wireless M-Bus: polynomial 0x3D65, initial value 0, no reflection, the result
// inverted. It guards an extended link layer's payload and names compact frame formats.
uint16_t crc16En13757(const uint8_t* data, size_t n);

} // namespace palvero

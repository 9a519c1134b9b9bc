#include "crc16.h"

#include <array>

namespace palvero {

namespace {

constexpr std::array<uint16_t, 256> makeTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int b = 0; b < 8; ++b)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x3D65 : crc << 1);
        table[i] = crc;
    }
    return table;
}

// Built by the compiler: a checksum taken during static initialisation finds it ready.
constexpr std::array<uint16_t, 256> kTable = makeTable();

} // namespace

uint16_t crc16En13757(const uint8_t* data, size_t n)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i)
        crc = static_cast<uint16_t>(crc << 8 ^ kTable[(crc >> 8 ^ data[i]) & 0xFF]);
    return static_cast<uint16_t>(~crc);
}

} // namespace palvero

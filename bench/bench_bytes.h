// Byte helpers of the benchmarks' inputs, independent of the program's own code so that
// the inputs are the same whichever build reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Bytes from hexadecimal text, pairs of digits with spaces between them or not.
inline std::vector<uint8_t> hex(const std::string& text)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

// The frame CRC: polynomial 0x3D65, initial 0, result inverted.
inline uint16_t crc16(const uint8_t* data, size_t n)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x3D65 : crc << 1);
    }
    return static_cast<uint16_t>(~crc);
}

} // namespace bench

#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace palvero::test {

// One row of the real-telegram table: a telegram from its L field on and what the meter
// table must show for it.
struct RealTelegram {
    std::string source;
    std::string telegramHex;
    std::string key; // empty when the telegram needs none
    std::string meterId;
    std::string mfr;
    std::string medium;
    std::string mainValue;
    std::string units;
    bool decrypted = false;
};

std::vector<RealTelegram> loadRealTelegrams(const std::string& path);

// Wraps a telegram (from its L field on) into a receiver frame: 0x68, L, the telegram
// from its C field on, the RSSI byte, two CRC bytes when asked, 0x16.
std::vector<uint8_t> receiverFrame(const std::vector<uint8_t>& telegram, uint8_t rssi = 0x9A, bool crc = false,
                                   bool withRssi = true);

} // namespace palvero::test

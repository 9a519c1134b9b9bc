#pragma once

#include "meter_key_source.h"

#include <cstdint>
#include <map>
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

// One row of the further-meters table: a sequence of telegrams heard from one meter (the
// reading is the last one's) and the total another decoder reads from it.
struct FurtherTelegram {
    std::string source;
    std::string category;
    std::vector<std::string> telegramsHex;
    std::string key; // empty when the telegrams need none
    std::string meterId;
    std::string expectedTotal; // empty: no main value may be shown
    std::string expectedUnit;
};

std::vector<FurtherTelegram> loadFurtherTelegrams(const std::string& path);

// The keys of a table's meters, as the meters file would give them; an empty key is none.
struct TableKeys : MeterKeySource {
    std::map<std::string, std::string> keys;
    MeterKeyLookup findMeterKey(const std::string& id) override
    {
        auto it = keys.find(id);
        return it == keys.end() || it->second.empty() ? MeterKeyLookup{} : MeterKeyLookup{0, true, it->second};
    }
};

// Wraps a telegram (from its L field on) into a receiver frame: 0x68, L, the telegram
// from its C field on, the RSSI byte, two CRC bytes when asked, 0x16.
std::vector<uint8_t> receiverFrame(const std::vector<uint8_t>& telegram, uint8_t rssi = 0x9A, bool crc = false,
                                   bool withRssi = true);

} // namespace palvero::test

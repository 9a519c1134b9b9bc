#pragma once

#include <string>

namespace palvero {

// Answer of a key lookup in the meters file: the record index (-1 when absent), whether
// the meter was found and its stored key text.
struct MeterKeyLookup {
    int index = -1;
    bool found = false;
    std::string key;
};

// Where decryption finds the key of a known meter ("Use database key for known meters").
class MeterKeySource {
public:
    virtual ~MeterKeySource() = default;
    virtual MeterKeyLookup findMeterKey(const std::string& meterId) = 0;
};

} // namespace palvero

#pragma once

#include <string>

namespace palvero {

// At most this many additional-value columns follow the sixteen titled ones.
constexpr int kMaxAdditionalValues = 16;

// The options that the reading pipeline consults for every telegram. They are fields of
// the one `Settings` record (which derives from this), named as their INI keys; the
// pipeline holds a reference to the live record and reads a field when it needs it.
struct ReadingSettings {
    // Misc
    bool ReadOnce = false;        // "Read meters only ONCE"
    bool UseNotes = false;        // "Overwrite field "Notes""
    bool UseDBMeters = false;     // "Use database key for known meters"
    bool DiscardCI = false;       // "Discard telegram if wrong CI"
    bool DiscardRepeated = false; // "Exclude repeated"
    bool DecodeQundis = false;    // "Decode QDS mfr specific"
    bool RemoveUnit = false;      // "Do not add measure unit"
    bool Apator = false;          // "Decode Apator half OMS" (stored only)

    // Wireless
    bool AES128_5 = false;             // "Decrypt AES-128"
    std::string Protocol = "MORVANE";  // "MORVANE" or "MORVANE with CRC"
    bool UseMaster = false;            // "Use Master key for all meters"
    std::string MasterKey;             // 32 hex digits
    bool RSSI = true;                  // v1: frames carry an RSSI byte
    bool RSSI_v2 = true;               // v2: frames carry an RSSI byte
    bool V1 = false;
    bool V2 = true;

    // Titles
    int Count = 0; // additional value columns, 0..16
};

} // namespace palvero

#pragma once

#include "decode_options.h"

#include <string>

namespace palvero {

// At most this many additional-value columns follow the sixteen titled ones.
constexpr int kMaxAdditionalValues = 16;

// The options that the reading pipeline consults for every telegram. They are fields of
// the one `Settings` record (which derives from this), named as their INI keys; the
// pipeline holds a reference to the live record and reads a field when it needs it. What
// reading a telegram itself needs is the decoding options it extends.
struct ReadingSettings : DecodeOptions {
    // Misc
    bool ReadOnce = false;        // "Read meters only ONCE"
    bool UseNotes = false;        // "Overwrite field "Notes""
    bool UseDBMeters = false;     // "Use database key for known meters"
    bool DiscardCI = false;       // "Discard telegram if wrong CI"
    bool DiscardRepeated = false; // "Exclude repeated"
    bool RemoveUnit = false;      // "Do not add measure unit"
    bool Apator = false;          // "Decode Apator half OMS" (stored only)

    // Wireless
    bool AES128_5 = false;             // "Decrypt AES-128"
    bool UseMaster = false;            // "Use Master key for all meters"
    std::string MasterKey;             // 32 hex digits
    bool V2 = true;

    // Titles
    int Count = 0; // additional value columns, 0..16
};

} // namespace palvero

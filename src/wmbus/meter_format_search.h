#pragma once

#include "meter_format.h"

#include <string>
#include <vector>

namespace palvero {

// One telegram of a meter with the reading on its display, for the search of the field
// that holds it. Keeps its own copy of the application data.
struct TeachSample {
    FormatTelegram header; // its data pointer is not used
    std::vector<uint8_t> data;
    std::string reading;   // as typed: "17.579", "17,579", "-3"; empty: not used
    // Bytes that name the layout of the data (a compact frame's format signature): a
    // format found keeps them in its match rule when every telegram has the same.
    std::vector<MeterFormat::FixedBytes> layout;
    // The units of the telegram's standard records: where one is the reading's unit, the
    // records say what the table shows and a format is not used.
    std::vector<std::string> recordUnits;

    FormatTelegram view() const
    {
        FormatTelegram t = header;
        t.data = data.data();
        t.size = data.size();
        return t;
    }
};

// A field that gives every telegram's reading.
struct FormatCandidate {
    FormatField field;
    std::vector<int> starts;         // its first byte in each telegram searched
    std::vector<std::string> values; // what it gives in each of them
    bool recordHeader = false;       // found after a DIF/VIF that says the same unit and scale
};

struct FormatSearch {
    enum class Outcome { Unique, Several, None, NoReading };
    Outcome outcome = Outcome::NoReading;
    std::vector<FormatCandidate> candidates;
    std::vector<int> used;  // indexes of the samples that took part (those with a reading)
    std::string why;        // the sentence the operator reads
    MeterFormat format;     // with Unique: the format to keep
};

// Searches every coding (unsigned, signed, BCD; little- and big-endian; 1 to 8 bytes)
// and every scale from 10^-6 to 10^6 over the application data of the samples that
// have a reading, for the fields that give each its reading (to its last typed digit,
// rounded or cut). A field of zeros, a reading of 0, and a single field that so few
// digits fit by chance are never offered as unique. `unit` is the readings' unit,
// `decimalSeparator` the one for the values shown.
FormatSearch searchMeterFormat(const std::vector<TeachSample>& samples, const std::string& unit,
                               const std::string& name, char decimalSeparator = '.');

// A reading typed by the operator as a signed integer and its decimals; false when the
// text is no number.
bool parseReadingText(const std::string& text, bool& negative, uint64_t& digits, int& decimals);

// Whether a field's value times 10^scale shows as the reading text, rounded or cut at its
// last typed digit (a reading of 0 wants a value of 0).
bool readingFits(int64_t value, int scale, const std::string& reading);

} // namespace palvero

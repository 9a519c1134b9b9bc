#pragma once

#include "code_page.h"
#include "csv_reader.h"

#include <string>
#include <vector>

namespace palvero {

// A meters import of more meters than this is refused.
inline constexpr int kMaxImportMeters = 1000000;

// One meter of a meters CSV file: the ID as meters.mrv keeps it (8 hexadecimal digits, upper
// case) and the key (32 hexadecimal digits as written, or empty: the stored key stays).
struct MetersCsvLine {
    std::string id;
    std::string key;
    int line = 0;
};

struct MetersCsvRead {
    enum class Outcome { Read, Empty, ReadError, Utf16, TooManyData, TooManyMeters, Cancelled };
    Outcome outcome = Outcome::Empty;
    std::vector<MetersCsvLine> meters; // in file order; with TooManyData those before `line`
    int line = 0;                      // TooManyData: the line that reached the separator maximum
    ImportSkips skipped;
    std::string error;
    bool anySeparator = false;         // some line holds the separator
};

// The meters of a CSV file of meters and keys, one per line: "ID;KEY;" as the program's own
// import takes it, "ID;KEY" as a spreadsheet writes it (the text after the last separator
// counts), and "No.;ID;KEY;" as the meters window's Export writes it. An ID of 1 to 7
// hexadecimal digits gets leading zeros, as "New / Update" gives it. A line whose ID is not a
// meter ID (a heading), is longer than 8 characters, or whose key is neither empty nor 32
// hexadecimal digits, is skipped and named, as is a line with a field longer than 4096 bytes
// or, in a UTF-8 file, a character the code page cannot hold. Lines without any text in
// their fields are passed over. At the 20th separator of a line the reading ends there.
MetersCsvRead readMetersCsv(ByteSource& source, const std::string& separator, CodePage page,
                            const ImportProgress& progress = {});

} // namespace palvero

#pragma once

#include "compact_formats.h"

#include <filesystem>
#include <vector>

namespace palvero {

// The compact frame formats of the reading, those learned kept in the formats file when
// one is in use (kCompactFormatsFileName beside the meters file).
class KeptCompactFormats : public CompactFormats {
public:
    using CompactFormats::CompactFormats;
    // A table put in place of the formats: without a file until useFile().
    KeptCompactFormats& operator=(CompactFormats formats);

    // Keeps learned formats in `file`: reads the formats it holds (lines that do not
    // give a valid format are skipped and counted) and appends every new one. The file
    // is created when the first new format is heard; its folder never is.
    void useFile(const std::filesystem::path& file);
    const std::filesystem::path& file() const { return m_file; }
    int skippedLines() const { return m_skipped; }

    // Takes the format of a full frame and appends it to the file when it is new.
    Learned learn(const std::vector<uint8_t>& headers);

private:
    bool append(uint16_t signature, const std::vector<uint8_t>& headers);

    std::filesystem::path m_file;
    int m_skipped = 0;
};

} // namespace palvero

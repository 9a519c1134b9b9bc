#pragma once

#include "safe_file.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace palvero {

// A settings file in INI form, held line by line exactly as it was read, so that writing
// one key leaves every other byte of the file alone: comments, blank lines, unknown keys
// and sections, the spelling of names and the line ending style.
//
// Section and key names match without regard to (ASCII) case; whitespace around section
// names, keys and values is ignored when reading. A key that appears more than once is
// read from, and written to, its first line.
class IniDocument {
public:
    IniDocument() = default;
    explicit IniDocument(std::string_view text);

    // A missing file gives an empty document. Nothing when the file exists but cannot be
    // read, so that a writer never replaces content it has not seen.
    static std::optional<IniDocument> load(const std::filesystem::path& path);

    // The value of the key, trimmed; nothing when the section or the key is missing.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    // Replaces the key's line with "key=value" (key spelt as given) and keeps its line end.
    // A new key goes after the last entry of its section, before any blank lines or
    // comments that close the section; a new section goes at the end of the document.
    // A value is cut at its first line break, which would otherwise start a new line.
    void setValue(std::string_view section, std::string_view key, std::string_view value);

    std::string text() const;

    // Writes the document to the path, creating or replacing the file as a whole: a write
    // that fails leaves the old file as it was. Not ok when the file cannot be written (no
    // permission, missing folder, full disk); never throws.
    [[nodiscard]] WriteOutcome save(const std::filesystem::path& path) const;

private:
    struct Line {
        std::string text; // without its line end
        std::string end;  // "\r\n", "\n", or empty for a last line without one
    };

    std::optional<size_t> findKey(std::string_view section, std::string_view key) const;
    void insertLine(size_t at, std::string text);

    std::string m_bom;
    std::vector<Line> m_lines;
    std::string m_newLine = "\r\n";
};

// An integer as the settings file writes it: decimal with an optional sign, or
// hexadecimal after "0x" or "0X" (up to 32 bits, read as a 32-bit two's complement
// value). Nothing for anything else: empty text, trailing junk, or a value out of range.
std::optional<int32_t> parseIniInteger(std::string_view text);

} // namespace palvero

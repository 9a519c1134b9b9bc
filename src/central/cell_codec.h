#pragma once

#include "code_page.h"

#include <optional>
#include <string>
#include <string_view>

namespace palvero::central {

// The one crossing between the central database's UTF-8 text and the program's
// single-byte text (table cells, meters.mrv, CSV files), in the code page in force (the
// settings' CodePage, or palvero-office's --code-page).

// A cell's bytes as UTF-8. Every byte has its character; NUL, which the database cannot
// hold, becomes U+FFFD.
std::string databaseText(std::string_view cell, CodePage page);

// UTF-8 from the database as single-byte text. Without `replaced`: nothing when the text is
// not UTF-8 or holds a character the code page lacks, so that no ID or key ever turns into
// "?". With it (for texts only shown, such as an address in an export): such a character
// becomes "?" and is counted there.
std::optional<std::string> cellText(std::string_view utf8, CodePage page, int* replaced = nullptr);

// True when the bytes are well-formed UTF-8 (a file from a spreadsheet, say).
bool isUtf8(std::string_view bytes);

} // namespace palvero::central

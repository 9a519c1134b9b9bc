#pragma once

#include "safe_file.h"

#include <filesystem>
#include <string_view>

namespace palvero::central {

// Adds `bytes` at the end of the file (made when missing, never its folder) and returns once
// they are on the disk, the file's new name too. A failure may leave part of the bytes at the
// end; what was there before stays as it was. Whole files are written with replaceFile.
WriteOutcome appendDurably(const std::filesystem::path& file, std::string_view bytes);

} // namespace palvero::central

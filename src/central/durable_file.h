#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace palvero::central {

// Every file this module writes goes through here, so that what it wrote is on the disk
// when the call returns, whatever happens to the laptop afterwards. The folder is never
// created; a missing folder is an error.

// Adds `bytes` at the end of the file (made when missing) and waits for the disk.
bool appendDurably(const std::filesystem::path& file, std::string_view bytes, std::string& error);

// Replaces the file by `bytes` as one step: a temporary file beside it is written and
// synced, then renamed over it, so that a reader finds either the old or the new content.
bool replaceDurably(const std::filesystem::path& file, std::string_view bytes, std::string& error);

} // namespace palvero::central

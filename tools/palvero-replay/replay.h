#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace palvero {

// Command line of the replay tool.
struct ReplayOptions {
    std::optional<std::filesystem::path> ini;
    std::optional<std::filesystem::path> data;
    bool hex = false;
    bool json = false; // one JSON object per telegram instead of the table as CSV
    size_t chunk = 0; // 0: a whole hex line, or 64 bytes of a raw capture
    std::vector<std::filesystem::path> captures;
};

// Nothing, with `error` set to a one-line message, when the arguments are not usable.
std::optional<ReplayOptions> parseReplayArguments(const std::vector<std::string>& args, std::string& error);

// A capture as the receive events that deliver it: raw bytes in chunks of `chunk` bytes
// (64 by default), or hex text (pairs of hex digits, white space between them optional,
// lines starting with '#' ignored) a line per event unless `chunk` is given.
bool readCapture(const std::filesystem::path& path, bool hex, size_t chunk, std::vector<std::vector<uint8_t>>& events,
                 std::string& error);

// The whole tool: reads the captures through the reading pipeline and writes the meter
// table as CSV (with --json: a line of JSON per telegram read) to `out` and the reader
// log to `err`. With a data folder, compact frame formats are learned into its formats
// file; the compiled-in formats serve either way. Returns the exit code: 0 when the
// captures were read, 2 on a bad option or an unreadable file.
int runReplay(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace palvero

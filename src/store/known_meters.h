#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace palvero {

// The meter IDs of meters.mrv in the data folder, in file order, read without logging:
// the route of a walk. A missing or unreadable file gives no meters.
std::vector<std::string> readKnownMeterIds(const std::filesystem::path& dataFolder);

} // namespace palvero

#include "known_meters.h"

#include "meters_file.h"

#include <fstream>

namespace palvero {

std::vector<std::string> readKnownMeterIds(const std::filesystem::path& dataFolder)
{
    std::vector<std::string> ids;
    std::ifstream in(dataFolder / kMetersFileName, std::ios::binary);
    std::uint8_t record[MeterKeyRecord::kSize];
    while (in.read(reinterpret_cast<char*>(record), sizeof record))
        ids.push_back(MeterKeyRecord::decode(record).id);
    return ids;
}

} // namespace palvero

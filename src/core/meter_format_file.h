#pragma once

#include "meter_format.h"

#include <filesystem>
#include <string>
#include <vector>

namespace palvero {

// The operator's meter formats beside the meters file, in the text form of meter_format.h.
inline constexpr char kMeterFormatsFileName[] = "meter-formats.txt";

// Reads the formats of `file`, in its order; of two formats of one name the later one is
// kept. A missing file holds none; a block with a bad line is left out and its line named
// in `errors`. False when the file exists and cannot be read.
bool readMeterFormatsFile(const std::filesystem::path& file, std::vector<MeterFormat>& formats,
                          std::vector<FormatTextError>* errors = nullptr);
// Appends one format to `file`, creating the file (never its folder) with a heading line.
// False when it cannot be written.
bool appendMeterFormat(const std::filesystem::path& file, const MeterFormat& format);

} // namespace palvero

#pragma once

#include "error_logger.h"
#include "formats.h"
#include "measurement_file.h"
#include "meter_saves.h"
#include "operator.h"
#include "text_grid.h"

#include <filesystem>
#include <string>

namespace palvero {

inline constexpr char kNotSavedCaption[] = "Data not saved";
inline constexpr char kStayButton[] = "Stay in Palvero";
inline constexpr char kLeaveButton[] = "Leave without saving";

// The box of an exit whose saves did not store everything: which file, why and how many
// readings or meters; empty when nothing was lost (a save that was not asked for is null).
std::string exitNotSavedText(const MeasurementSave* readings, const NewMetersSave* meters,
                             const std::filesystem::path& dataFolder);

// The saves at exit, as the settings ask: the table's readings into db.mrv, then its new
// meters into meters.mrv. When either stored less than it should (a missing file, no write
// permission, a full disk) the operator is told so and chooses to stay in the program (to
// export the table, or to mend the folder and exit again) or to leave without saving.
// True when the program may close.
bool saveAtExit(const TextGrid& table, bool saveReadings, bool saveMeters, const std::filesystem::path& dataFolder,
                ErrorLogger& log, const Formats& formats, Operator& op);

} // namespace palvero

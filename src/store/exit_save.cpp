#include "exit_save.h"

#include "capture_file.h"

namespace palvero {

namespace fs = std::filesystem;

namespace {

std::string counted(int n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Why a file did not take what it was given, in the operator's words.
std::string why(FileStatus status, WriteFailure cause)
{
    if (status == FileStatus::Missing)
        return "the file is missing";
    switch (cause) {
    case WriteFailure::DiskFull:
        return "the disk is full";
    case WriteFailure::DeviceError:
        return "the disk does not answer (input/output error)";
    case WriteFailure::NoPermission:
        return "there is no write permission";
    case WriteFailure::None:
    case WriteFailure::Other:
        break;
    }
    return "it cannot be written";
}

} // namespace

std::string exitNotSavedText(const MeasurementSave* readings, const NewMetersSave* meters, const fs::path& dataFolder)
{
    std::string text;
    if (readings && readings->notSaved > 0)
        text += counted(readings->notSaved, "reading was", "readings were") + " not saved into "
            + (dataFolder / kMeasurementFileName).string() + ": " + why(readings->status, readings->cause) + ".\n";
    if (readings && readings->undated > 0)
        text += counted(readings->undated, "reading has", "readings have")
            + " a date that cannot be read and " + (readings->undated == 1 ? "was" : "were") + " not saved.\n";
    if (meters && meters->notSaved > 0)
        text += counted(meters->notSaved, "new meter was", "new meters were") + " not saved into "
            + (dataFolder / kMetersFileName).string() + ": " + why(meters->status, meters->cause) + ".\n";
    if (text.empty())
        return text;
    return text + "The captures in " + (dataFolder / kCapturesFolder).string()
        + " still hold every byte received.\n\nStay in Palvero to export the table or to mend the folder and exit "
          "again, or leave without saving?";
}

bool saveAtExit(const TextGrid& table, bool saveReadings, bool saveMeters, const fs::path& dataFolder,
                ErrorLogger& log, const Formats& formats, Operator& op)
{
    MeasurementSave readings;
    NewMetersSave meters;
    if (saveReadings)
        readings = MeasurementFile(dataFolder, log, formats).saveReadings(table);
    if (saveMeters) {
        MetersFile file(dataFolder, log);
        meters = SaveNewMeters(file, log, table);
    }
    const std::string text =
        exitNotSavedText(saveReadings ? &readings : nullptr, saveMeters ? &meters : nullptr, dataFolder);
    if (text.empty())
        return true;
    return op.askChoice(kNotSavedCaption, text, MessageIcon::Warning, {kStayButton, kLeaveButton}) == 1;
}

} // namespace palvero

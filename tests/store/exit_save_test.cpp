// The box of an exit that could not save everything (the window's test drives staying and
// leaving).

#include "exit_save.h"

#include <gtest/gtest.h>

namespace palvero {
namespace {

TEST(ExitSave, TheBoxNamesTheFileTheCauseAndHowMuchWasNotSaved)
{
    MeasurementSave full;
    full.status = FileStatus::IoError;
    full.cause = WriteFailure::DiskFull;
    full.notSaved = 1;
    full.undated = 2;
    NewMetersSave missing;
    missing.status = FileStatus::Missing;
    missing.notSaved = 3;
    NewMetersSave noRights = missing;
    noRights.status = FileStatus::IoError;
    noRights.cause = WriteFailure::NoPermission;
    const MeasurementSave saved;
    EXPECT_EQ(exitNotSavedText(&saved, nullptr, "/data"), "");
    EXPECT_EQ(exitNotSavedText(nullptr, &noRights, "/data").rfind(
                  "3 new meters were not saved into /data/meters.mrv: there is no write permission.\nThe captures", 0),
              0u);
    EXPECT_EQ(exitNotSavedText(&full, &missing, "/data"),
              "1 reading was not saved into /data/db.mrv: the disk is full.\n"
              "2 readings have a date that cannot be read and were not saved.\n"
              "3 new meters were not saved into /data/meters.mrv: the file is missing.\n"
              "The captures in /data/captures still hold every byte received.\n\n"
              "Stay in Palvero to export the table or to mend the folder and exit again, or leave without saving?");
}

} // namespace
} // namespace palvero

// The saves at exit: nothing is dropped without the operator being told, and the operator
// may stay to keep it.

#include "exit_save.h"
#include "meter_table.h"
#include "scripted_operator.h"
#include "temp_dir.h"
#include "tiny_disk.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>

namespace palvero {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

struct NullLog : ErrorLogger {
    void LogErrorCode(int) override {}
    void LogErrorText(const std::string&) override {}
};

const char kTail[] = "The captures in /data/captures still hold every byte received.\n\n"
                     "Stay in Palvero to export the table or to mend the folder and exit again, or leave without saving?";

TEST(ExitSave, TheBoxNamesTheFileTheCauseAndHowMuchWasNotSaved)
{
    auto readings = [](FileStatus status, WriteFailure cause, int notSaved, int undated = 0) {
        MeasurementSave r;
        r.status = status;
        r.cause = cause;
        r.notSaved = notSaved;
        r.undated = undated;
        return r;
    };
    auto meters = [](FileStatus status, WriteFailure cause, int notSaved) {
        NewMetersSave r;
        r.status = status;
        r.cause = cause;
        r.notSaved = notSaved;
        return r;
    };
    const MeasurementSave saved;
    const NewMetersSave added;
    const struct {
        const char* name;
        std::optional<MeasurementSave> readings;
        std::optional<NewMetersSave> meters;
        std::string text;
    } cases[] = {
        {"everything saved", saved, added, ""},
        {"nothing asked", std::nullopt, std::nullopt, ""},
        {"db.mrv missing", readings(FileStatus::Missing, WriteFailure::None, 12), added,
         "12 readings were not saved into /data/db.mrv: the file is missing.\n"},
        {"a full disk for both", readings(FileStatus::IoError, WriteFailure::DiskFull, 1),
         meters(FileStatus::IoError, WriteFailure::DiskFull, 3),
         "1 reading was not saved into /data/db.mrv: the disk is full.\n"
         "3 new meters were not saved into /data/meters.mrv: the disk is full.\n"},
        {"no rights, meters only", std::nullopt, meters(FileStatus::IoError, WriteFailure::NoPermission, 1),
         "1 new meter was not saved into /data/meters.mrv: there is no write permission.\n"},
        {"a failing stick", readings(FileStatus::IoError, WriteFailure::DeviceError, 2), std::nullopt,
         "2 readings were not saved into /data/db.mrv: the disk does not answer (input/output error).\n"},
        {"dates that cannot be read", readings(FileStatus::Ok, WriteFailure::None, 0, 2), std::nullopt,
         "2 readings have a date that cannot be read and were not saved.\n"},
        {"meters.mrv missing", saved, meters(FileStatus::Missing, WriteFailure::None, 4),
         "4 new meters were not saved into /data/meters.mrv: the file is missing.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text =
            exitNotSavedText(c.readings ? &*c.readings : nullptr, c.meters ? &*c.meters : nullptr, "/data");
        EXPECT_EQ(text, c.text.empty() ? "" : c.text + kTail);
    }
}

struct ExitSaveTest : ::testing::Test {
    test::TempDir dir;
    FixedFormats formats;
    NullLog log;
    test::ScriptedOperator op;
    MeterTable table;

    void SetUp() override
    {
        for (const char* id : {"11111111", "22222222"}) {
            const int r = table.cell(1, col::MeterId).empty() ? 1 : table.appendRow();
            table.setCell(r, col::MeterId, id);
            table.setCell(r, col::Date, "06.12.2026");
            table.setCell(r, col::Time, "14:03:22");
        }
    }
    bool exit(const fs::path& folder) { return saveAtExit(table.grid(), true, true, folder, log, formats, op); }
};

TEST_F(ExitSaveTest, TheOperatorStaysOrLeavesWithoutSaving)
{
    writeFile(dir / "meters.mrv", "");
    // db.mrv is missing: stay, then leave.
    op.yesNoAnswers = {true, false};
    EXPECT_FALSE(exit(dir.path()));
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].caption, "Data not saved");
    EXPECT_EQ(op.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(op.choices[0], std::make_pair(std::string("Stay in Palvero"), std::string("Leave without saving")));
    EXPECT_EQ(op.messages[0].text.rfind("2 readings were not saved into " + (dir / "db.mrv").string()
                                            + ": the file is missing.\nThe captures in ",
                                        0),
              0u);
    EXPECT_TRUE(exit(dir.path()));
    EXPECT_EQ(op.messages.size(), 2u);
    // The meters went in the first time and are not added again.
    EXPECT_EQ(MetersFile(dir.path(), log).ReadAll().size(), 2u);

    // Both files there: nothing is asked.
    writeFile(dir / "db.mrv", "");
    EXPECT_TRUE(exit(dir.path()));
    EXPECT_EQ(op.messages.size(), 2u);
    EXPECT_EQ(readFile(dir / "db.mrv").size(), 2u * 1056);
}

TEST_F(ExitSaveTest, AFullDiskAtExitIsSaid)
{
    test::TinyDisk disk(256 << 10);
    if (!disk.mounted())
        GTEST_SKIP() << disk.why();
    writeFile(disk / "meters.mrv", "");
    writeFile(disk / "db.mrv", "");
    disk.fill();
    op.yesNoAnswers = {true};
    EXPECT_FALSE(exit(disk.path()));
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text.substr(0, op.messages[0].text.find('\n', 0)),
              "2 readings were not saved into " + (disk / "db.mrv").string() + ": the disk is full.");
    EXPECT_NE(op.messages[0].text.find("2 new meters were not saved into " + (disk / "meters.mrv").string()
                                       + ": the disk is full."),
              std::string::npos);
    EXPECT_EQ(readFile(disk / "db.mrv"), "");

    // Room made, the next exit saves everything.
    disk.unfill();
    EXPECT_TRUE(exit(disk.path()));
    EXPECT_EQ(readFile(disk / "db.mrv").size(), 2u * 1056);
    EXPECT_EQ(MetersFile(disk.path(), log).ReadAll().size(), 2u);
}

} // namespace
} // namespace palvero

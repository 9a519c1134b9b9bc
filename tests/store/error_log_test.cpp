#include "error_log.h"

#include "formats.h"
#include "scripted_operator.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace palvero {
namespace {

using test::readFile;
using test::writeFile;

struct ErrorLogTest : ::testing::Test {
    test::TempDir dir;
    FixedFormats formats;
    test::ScriptedOperator op;
    ErrorLog log{dir.path(), formats, op};
};

TEST_F(ErrorLogTest, FirstEntryCreatesTheFileAndLaterOnesFollowInOrder)
{
    log.LogErrorCode(logcode::MetersMissing);
    EXPECT_EQ(readFile(dir / "glog.txt"), "Error 41, encountered at 14:03:22,  06.12.2026\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "gloge.txt"));
    log.LogErrorText("Cannot write x.csv");
    EXPECT_EQ(readFile(dir / "gloge.txt"), "Cannot write x.csv, encountered at 14:03:22,  06.12.2026\r\n");

    formats.setNow({2027, 1, 2, 8, 5, 9});
    log.LogErrorCode(logcode::MetersMissingAtSave);
    log.LogErrorText("second");
    EXPECT_EQ(readFile(dir / "glog.txt"),
              "Error 41, encountered at 14:03:22,  06.12.2026\r\nError 61, encountered at 08:05:09,  02.01.2027\r\n");
    EXPECT_EQ(readFile(dir / "gloge.txt"),
              "Cannot write x.csv, encountered at 14:03:22,  06.12.2026\r\n"
              "second, encountered at 08:05:09,  02.01.2027\r\n");
    EXPECT_TRUE(op.messages.empty());
}

// The file must read as if every line had been rewritten with CR LF.
TEST_F(ErrorLogTest, ExistingContentKeepsItsLinesWhole)
{
    const std::string entry = "Error 13, encountered at 14:03:22,  06.12.2026\r\n";
    const struct {
        std::string before;
        std::string after;
    } cases[] = {
        {"", entry},
        {"Error 10, old\r\n", "Error 10, old\r\n" + entry},
        {"Error 10, old", "Error 10, old\r\n" + entry},
        {"Error 10, old\r", "Error 10, old\r\n" + entry},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        writeFile(dir / "glog.txt", c.before);
        log.LogErrorCode(logcode::ReaderLogSave);
        EXPECT_EQ(readFile(dir / "glog.txt"), c.after);
    }
}

TEST_F(ErrorLogTest, UnwritableLogShowsFileErrorAndWritesNothing)
{
    writeFile(dir / "plain", "not a folder");
    std::filesystem::create_directory(dir / "logs-are-folders");
    std::filesystem::create_directory(dir / "logs-are-folders" / "glog.txt");
    std::filesystem::create_directory(dir / "logs-are-folders" / "gloge.txt");

    const std::filesystem::path folders[] = {dir / "missing", dir / "plain" / "files", dir / "logs-are-folders"};
    for (const auto& folder : folders) {
        SCOPED_TRACE(folder.string());
        test::ScriptedOperator boxes;
        ErrorLog unwritable(folder, formats, boxes);
        unwritable.LogErrorCode(logcode::MetersMissing);
        unwritable.LogErrorText("some failure");

        ASSERT_EQ(boxes.messages.size(), 2u);
        for (const auto& box : boxes.messages) {
            EXPECT_EQ(box.caption, "File Error");
            EXPECT_EQ(box.icon, MessageIcon::Warning);
        }
        EXPECT_EQ(boxes.messages[0].text, "Cannot create log file, no write permission!\nContact administrator!");
        EXPECT_EQ(boxes.messages[1].text,
                  "Cannot create detailed log file, no write permission!\nContact administrator!");
        EXPECT_FALSE(std::filesystem::is_regular_file(folder / "glog.txt"));
        EXPECT_FALSE(std::filesystem::is_regular_file(folder / "gloge.txt"));
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

// A missing data folder during a walk: one box for the whole reading, the entries in the
// reader log, and a box per entry again once the reading has ended.
TEST_F(ErrorLogTest, MissingFolderIsReportedOncePerReading)
{
    test::ScriptedOperator boxes;
    ErrorLog missing(dir / "missing", formats, boxes);
    std::vector<std::string> readerLog;
    for (int reading = 0; reading < 2; ++reading) {
        missing.beginReading([&](const std::string& line) { readerLog.push_back(line); });
        for (int telegram = 0; telegram < 3; ++telegram)
            missing.LogErrorCode(logcode::MetersMissing);
        missing.LogErrorText("File meters.mrv does not exists!");
        missing.endReading();
    }
    ASSERT_EQ(boxes.messages.size(), 2u);
    EXPECT_EQ(boxes.messages[0].text, "Cannot create log file, no write permission!\nContact administrator!");
    ASSERT_EQ(readerLog.size(), 8u);
    EXPECT_EQ(readerLog[0], "Cannot write glog.txt: Error 41, encountered at 14:03:22,  06.12.2026");
    EXPECT_EQ(readerLog[3],
              "Cannot write gloge.txt: File meters.mrv does not exists!, encountered at 14:03:22,  06.12.2026");

    missing.LogErrorCode(logcode::MetersMissing);
    EXPECT_EQ(boxes.messages.size(), 3u);
    EXPECT_EQ(readerLog.size(), 8u);
}

} // namespace
} // namespace palvero

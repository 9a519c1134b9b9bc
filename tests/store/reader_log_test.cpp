#include "reader_log.h"

#include "error_log.h"
#include "formats.h"
#include "scripted_operator.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace palvero {
namespace {

using test::readFile;

struct ReaderLogTest : ::testing::Test {
    test::TempDir dir;
    FixedFormats formats;
    test::ScriptedOperator op;
    ErrorLog log{dir.path(), formats, op};
    std::vector<std::string> lines{"Start reading", "Telegram 1: CRC error"};
};

TEST_F(ReaderLogTest, PresetNameWritesIntoTheDataFolder)
{
    op.fileAnswers.push_back(std::string("general_log.txt"));
    EXPECT_TRUE(saveReaderLog(lines, dir.path(), op, log));

    ASSERT_EQ(op.dialogs.size(), 1u);
    EXPECT_EQ(op.dialogs[0].title, "Save log data");
    EXPECT_EQ(op.dialogs[0].filter, "CSV|*.csv|TXT|*.txt");
    EXPECT_EQ(op.dialogs[0].defaultExtension, "csv");
    EXPECT_EQ(op.dialogs[0].folder, dir.path().string());
    EXPECT_EQ(op.dialogs[0].fileName, "general_log.txt");
    EXPECT_EQ(readFile(dir / "general_log.txt"), "Start reading\r\nTelegram 1: CRC error\r\n");
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(ReaderLogTest, CancelOrEmptyNameWritesNothing)
{
    op.fileAnswers.push_back(std::nullopt);
    op.fileAnswers.push_back(std::string());
    EXPECT_FALSE(saveReaderLog(lines, dir.path(), op, log));
    EXPECT_FALSE(saveReaderLog(lines, dir.path(), op, log));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    EXPECT_TRUE(op.messages.empty());
}

TEST_F(ReaderLogTest, FailedWriteShowsBoxAndLogsCodeAndText)
{
    const auto target = dir / "no-such-folder" / "reader.txt";
    op.fileAnswers.push_back(target.string());
    EXPECT_FALSE(saveReaderLog(lines, dir.path(), op, log));

    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].caption, "File Error");
    EXPECT_EQ(op.messages[0].text, "Error saving log file!\nContact administrator!");
    EXPECT_EQ(op.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(readFile(dir / "glog.txt"), "Error 13, encountered at 14:03:22,  06.12.2026\r\n");
    EXPECT_EQ(readFile(dir / "gloge.txt"),
              "Cannot write " + target.string() + ": No such file or directory, encountered at 14:03:22,  06.12.2026\r\n");
}

} // namespace
} // namespace palvero

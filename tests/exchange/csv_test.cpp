#include "csv.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace palvero {
namespace {

TEST(SplitCsvLine, FieldsEndAtEachSeparator)
{
    struct Case {
        const char* line;
        const char* separator;
        int max;
        std::vector<std::string> fields;
        bool tooMany;
    };
    const Case cases[] = {
        {"a;b;c;", ";", 40, {"a", "b", "c"}, false},
        {"a;b;c", ";", 40, {"a", "b"}, false},      // no closing separator: the last field is lost
        {"abc", ";", 40, {}, false},                // no separator, no field
        {";;", ";", 40, {"", ""}, false},
        {"", ";", 40, {}, false},
        {"a;;b;", ";;", 40, {}, false},             // a two-character separator divides nothing
        {"a,b,", ",", 40, {"a", "b"}, false},
        {"1;2;3;", ";", 3, {"1", "2"}, true},       // the third separator reaches the maximum
        {"1;2;", ";", 3, {"1", "2"}, false},
        {"\xE9t\xE9;", ";", 40, {"\xE9t\xE9"}, false}, // single-byte text passes unchanged
    };
    for (const auto& c : cases) {
        const CsvFields got = splitCsvLine(c.line, c.separator, c.max);
        EXPECT_EQ(got.fields, c.fields) << c.line;
        EXPECT_EQ(got.tooMany, c.tooMany) << c.line;
    }
}

TEST(SplitCsvLine, FortySeparatorsStopTheTableReader)
{
    std::string line;
    for (int i = 0; i < 39; ++i)
        line += "x;";
    EXPECT_FALSE(splitCsvLine(line, ";", kTableMaxSeparators).tooMany);
    EXPECT_EQ(splitCsvLine(line, ";", kTableMaxSeparators).fields.size(), 39u);
    EXPECT_TRUE(splitCsvLine(line + "x;", ";", kTableMaxSeparators).tooMany);
}

TEST(ReadTextLines, SplitsAtEveryLineEnd)
{
    test::TempDir dir;
    const auto file = dir.path() / "lines.csv";
    std::ofstream(file, std::ios::binary) << "a;\r\nb;\nc;\rd;";
    std::vector<std::string> lines;
    std::string error;
    ASSERT_TRUE(readTextLines(file, lines, error));
    EXPECT_EQ(lines, (std::vector<std::string>{"a;", "b;", "c;", "d;"}));

    // A folder opens and fails at its first read: said, never thrown nor read as empty.
    for (const auto& unreadable : {dir.path() / "missing.csv", dir.path()}) {
        error.clear();
        EXPECT_FALSE(readTextLines(unreadable, lines, error)) << unreadable;
        EXPECT_NE(error.find(unreadable.string()), std::string::npos) << error;
        EXPECT_TRUE(lines.empty());
    }
}

} // namespace
} // namespace palvero

#include "csv_reader.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace palvero {
namespace {

struct Got {
    int line;
    std::vector<std::string> fields;
    std::string flags; // "m" too many, "l" too long, "u" unheld
    bool operator==(const Got& o) const { return line == o.line && fields == o.fields && flags == o.flags; }
};

std::ostream& operator<<(std::ostream& out, const Got& g)
{
    out << g.line << ":";
    for (const auto& f : g.fields)
        out << "[" << f << "]";
    return out << g.flags;
}

std::vector<Got> readAll(ByteSource& source, const CsvReadRules& rules, CsvReader::Next* end = nullptr)
{
    CsvReader reader(source, rules);
    CsvRecord r;
    std::vector<Got> got;
    CsvReader::Next next;
    while ((next = reader.next(r)) == CsvReader::Next::Record)
        got.push_back({r.line, r.fields,
                       std::string(r.tooMany ? "m" : "") + (r.fieldTooLong ? "l" : "") + (r.unheld ? "u" : "")});
    if (end)
        *end = next;
    return got;
}

TEST(CsvReader, ReadsRecordsAsASpreadsheetWritesThem)
{
    const std::string longField(kMaxFieldBytes + 1, 'x');
    const struct {
        const char* name;
        std::string bytes;
        bool lastFieldCounts;
        CodePage page;
        std::vector<Got> records;
    } cases[] = {
        {"closing separator", "a;b;c;", false, CodePage::Windows1252, {{1, {"a", "b", "c"}, ""}}},
        {"no closing separator", "a;b;c", false, CodePage::Windows1252, {{1, {"a", "b"}, ""}}},
        {"last field counts", "a;b;c\r\na;\r\n", true, CodePage::Windows1252, {{1, {"a", "b", "c"}, ""}, {2, {"a"}, ""}}},
        {"quotes keep separator and quote", "\"a;b\";\"say \"\"hi\"\"\";", false, CodePage::Windows1252,
         {{1, {"a;b", "say \"hi\""}, ""}}},
        {"quoted line end", "\"two\r\nlines\";x;\r\nnext;", false, CodePage::Windows1252,
         {{1, {"two..lines", "x"}, ""}, {3, {"next"}, ""}}},
        {"empty quoted last field", "a;\"\"", true, CodePage::Windows1252, {{1, {"a", ""}, ""}}},
        {"quote inside a field is a quote", "ab\"c;\"ab\"c;", false, CodePage::Windows1252, {{1, {"ab\"c", "abc"}, ""}}},
        {"line ends and empty lines", "a;\r\rb;\n\nc;\r\n\r\n", false, CodePage::Windows1252,
         {{1, {"a"}, ""}, {3, {"b"}, ""}, {5, {"c"}, ""}}},
        {"control bytes as dots", std::string("a\tb\x7F\0;", 6), false, CodePage::Windows1252, {{1, {"a.b.."}, ""}}},
        {"no separator", "abc\r\n", false, CodePage::Windows1252, {{1, {}, ""}}},
        {"UTF-8 into Cyrillic", "\xEF\xBB\xBF\xD0\x96\xD0\xB8;\xE2\x84\x96;", false, CodePage::Windows1251,
         {{1, {"\xC6\xE8", "\xB9"}, ""}}},
        {"UTF-8 the code page cannot hold", "\xEF\xBB\xBFok;\r\n\xD0\x96;\r\n", false, CodePage::Windows1252,
         {{1, {"ok"}, ""}, {2, {""}, "u"}}},
        {"without a mark bytes are the code page's", "\xD0\x96;", false, CodePage::Windows1252, {{1, {"\xD0\x96"}, ""}}},
        {"field too long is cut", longField + ";b;", false, CodePage::Windows1252,
         {{1, {std::string(kMaxFieldBytes, 'x'), "b"}, "l"}}},
        {"too long, quoted", "\"" + longField + "\"\";\r\n\";b;\r\nc;", false, CodePage::Windows1252,
         {{1, {std::string(kMaxFieldBytes, 'x'), "b"}, "l"}, {3, {"c"}, ""}}},
        {"forty separators", std::string(40, ';') + "\r\nx;", false, CodePage::Windows1252,
         {{1, std::vector<std::string>(39, ""), "m"}, {2, {"x"}, ""}}},
    };
    for (const auto& c : cases) {
        MemorySource source(c.bytes);
        CsvReadRules rules;
        rules.lastFieldCounts = c.lastFieldCounts;
        rules.codePage = c.page;
        EXPECT_EQ(readAll(source, rules), c.records) << c.name;
    }
}

TEST(CsvReader, WhatItDoesNotRead)
{
    CsvReadRules rules;
    CsvReader::Next end;
    for (const char* utf16 : {"\xFF\xFE" "1\0;\0", "\xFE\xFF\0" "1\0;"}) {
        MemorySource source(std::string_view(utf16, 6));
        EXPECT_TRUE(readAll(source, rules, &end).empty());
        EXPECT_EQ(end, CsvReader::Next::Utf16);
    }

    test::TempDir dir;
    FileSource folder(dir.path());
    std::string error;
    ASSERT_TRUE(folder.open(error));
    EXPECT_TRUE(readAll(folder, rules, &end).empty());
    EXPECT_EQ(end, CsvReader::Next::ReadError);
    FileSource missing(dir / "missing.csv");
    EXPECT_FALSE(missing.open(error));
    EXPECT_EQ(error, "Cannot open " + (dir / "missing.csv").string() + ": No such file or directory");

    // Cancel stops the reading at the next megabyte.
    const std::string big(3 << 20, 'x');
    MemorySource source(big);
    int calls = 0;
    CsvReader reader(source, rules, [&](std::uint64_t done, std::uint64_t total) {
        EXPECT_EQ(total, big.size());
        EXPECT_LE(done, total);
        return ++calls < 2;
    });
    CsvRecord record;
    EXPECT_EQ(reader.next(record), CsvReader::Next::Cancelled);
    EXPECT_EQ(calls, 2);
}

TEST(ImportSkips, NamesTheFirstLinesAndCountsTheRest)
{
    ImportSkips skips;
    for (int line = 1; line <= 14; ++line)
        skips.add(line, "why");
    EXPECT_EQ(skips.total, 14);
    EXPECT_EQ(skips.text().substr(0, 20), "line 1: why\nline 2: ");
    EXPECT_NE(skips.text().find("line 12: why\n... and 2 more lines"), std::string::npos);
}

} // namespace
} // namespace palvero

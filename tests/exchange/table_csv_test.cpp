#include "table_csv.h"

#include "scripted_operator.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <thread>

namespace palvero {
namespace {

using test::readFile;
using test::writeFile;
using Status = TableCsvResult::Status;

struct RecordingLog : ErrorLogger {
    std::vector<std::string> lines;
    void LogErrorCode(int code) override { lines.push_back("code " + std::to_string(code)); }
    void LogErrorText(const std::string& text) override { lines.push_back("text " + text); }
};

struct Templates : TemplateSource {
    std::map<std::string, std::vector<std::uint8_t>> byName{
        {"Keys", {1, 255, 2}}, {"Odd codes", {0, 17, 200, 4}}, {"Others", {16, 9, 5, 6, 7, 8, 3}},
        {"Import", {3, 5, 1, 255, 2, 4}}};
    TemplateLookup::Status store = TemplateLookup::Status::Found;

    TemplateLookup findTemplate(const std::string& name) override
    {
        TemplateLookup l;
        l.status = store;
        if (store == TemplateLookup::Status::Error)
            l.error = "tmplates.dat: Input/output error";
        auto it = byName.find(name);
        if (store != TemplateLookup::Status::Found || it == byName.end()) {
            l.status = store == TemplateLookup::Status::Found ? TemplateLookup::Status::NotFound : store;
            return l;
        }
        l.columns.count = static_cast<int>(it->second.size());
        std::copy(it->second.begin(), it->second.end(), l.columns.types.begin());
        return l;
    }
};

struct Views : MeterTableListener {
    std::string lastStatus;
    int rebuilt = 0;
    void statusText(int panel, const std::string& text) override { lastStatus = std::to_string(panel) + ":" + text; }
    void tableRebuilt() override { ++rebuilt; }
};

// Non-empty cells of a row by column.
using Rows = std::vector<std::map<int, std::string>>;

Rows rowsOf(const MeterTable& t)
{
    Rows out;
    for (int r = 1; r < t.rowCount(); ++r) {
        out.emplace_back();
        for (int c = 0; c < t.columnCount(); ++c)
            if (!t.cell(r, c).empty())
                out.back()[c] = t.cell(r, c);
    }
    return out;
}

struct TableCsvTest : ::testing::Test {
    test::TempDir dir;
    Templates templates;
    test::ScriptedOperator op;
    RecordingLog log;
    Views views;
    MeterTable table{3};
    TableCsvOptions options;
    std::string in = (dir / "in.csv").string();

    void SetUp() override { table.addListener(&views); }
    void fill(const Rows& rows)
    {
        for (size_t i = 0; i < rows.size(); ++i) {
            const int r = i == 0 ? 1 : table.appendRow();
            for (const auto& [c, text] : rows[i])
                table.setCell(r, c, text);
        }
    }
    void fillTwoMeters()
    {
        fill({{{col::No, "1"}, {col::MeterId, "11111111"}, {col::Mfr, "KAM"}, {col::Medium, "Water"},
               {col::MainValue, "1.000"}, {col::Units, "m3"}, {col::Time, "10:00:00"}, {col::Date, "01.02.2026"},
               {col::EncryptionKey, "00112233"}, {col::FreeText, "Flat 1"}, {16, "a1"}, {18, "c1"}},
              {{col::No, "2"}, {col::MeterId, "22222222"}, {col::Medium, "Gas"}, {col::FreeText, "Flat 2"}}});
    }
    TableCsvResult exportAs(const std::string& name, std::optional<std::string> file = std::string("out.csv"))
    {
        op.fileAnswers.push_back(file);
        return ExportTableCsv(table, name, options, templates, dir.path(), op, log);
    }
    TableCsvResult importFrom(const std::string& name)
    {
        op.fileAnswers.push_back(in);
        return ImportTableCsv(table, name, options, templates, dir.path(), op, log);
    }
};

TEST_F(TableCsvTest, ExportWritesEachModeWithAClosingSeparator)
{
    const struct {
        const char* name;
        std::string chosen;
        bool simple;
        std::string separator;
        std::string expected;
    } cases[] = {
        {"plain", "<None>", false, ";",
         "1;11111111;KAM;;;Water;1.000;m3;;10:00:00;01.02.2026;;;;00112233;Flat 1;a1;;c1;\r\n"
         "2;22222222;;;;Gas;;;;;;;;;;Flat 2;;;;\r\n"},
        {"simple", "<None>", true, ";", "Flat 1;11111111;Water;01.02.2026;1.000;\r\nFlat 2;22222222;Gas;;;\r\n"},
        {"meter ID, no type, key", "Keys", true, ";", "11111111;00112233;\r\n22222222;;\r\n"},
        {"codes without a column are skipped", "Odd codes", false, ",", "KAM,\r\n,\r\n"},
        // Every other code; "Other 8" is beyond the three additional values: an empty cell all the same.
        {"others", "Others", false, ";", ";a1;1.000;m3;10:00:00;01.02.2026;Flat 1;\r\n;;;;;;Flat 2;\r\n"},
        {"no template of that name", "Nowhere", false, ";", "\r\n\r\n"},
        {"two-character separator", "Keys", false, "::", "11111111::00112233::\r\n22222222::::\r\n"},
    };
    fillTwoMeters();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        options = {c.separator, c.simple};
        const TableCsvResult r = exportAs(c.chosen);
        EXPECT_EQ(r.status, Status::Done);
        EXPECT_EQ(r.rows, 2);
        EXPECT_EQ(readFile(dir / "out.csv"), c.expected);
    }
    EXPECT_EQ(op.dialogs[0].title, "Export table to CSV");
    EXPECT_EQ(op.dialogs[0].filter, "CSV|*.csv|TXT|*.txt");
    EXPECT_EQ(op.dialogs[0].fileName, "");
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(views.lastStatus, "1:2 rows written to " + (dir / "out.csv").string());
}

TEST_F(TableCsvTest, ExportThatCannotGoAheadWritesNothing)
{
    fillTwoMeters();
    const struct {
        const char* name;
        TemplateLookup::Status store;
        std::optional<std::string> answer;
        Status status;
        size_t dialogs;
        std::vector<std::string> logged;
    } cases[] = {
        {"cancelled", TemplateLookup::Status::Found, std::nullopt, Status::Cancelled, 1, {}},
        {"tmplates.dat missing", TemplateLookup::Status::Missing, "out.csv", Status::NoTemplateFile, 0, {}},
        {"tmplates.dat unreadable", TemplateLookup::Status::Error, "out.csv", Status::TemplateError, 0,
         {"text tmplates.dat: Input/output error"}},
        {"file cannot be written", TemplateLookup::Status::Found, "no-such-folder/out.csv", Status::FileError, 1,
         {"code 40", "text Cannot write " + (dir / "no-such-folder/out.csv").string() + ": No such file or directory"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        templates.store = c.store;
        op.fileAnswers.clear();
        op.dialogs.clear();
        log.lines.clear();
        EXPECT_EQ(exportAs("Keys", c.answer).status, c.status);
        EXPECT_EQ(op.dialogs.size(), c.dialogs);
        EXPECT_EQ(log.lines, c.logged);
        EXPECT_FALSE(std::filesystem::exists(dir / "out.csv"));
    }
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].caption, "Error saving file");
    EXPECT_EQ(op.messages[0].text, "File cannot be written, no rights!\nContact administrator.");
    EXPECT_EQ(op.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(views.lastStatus, "1:Nothing written: " + (dir / "no-such-folder/out.csv").string() + " cannot be written");
}

TEST_F(TableCsvTest, ImportFillsEachModeAndEndsWithAnEmptyRow)
{
    const struct {
        const char* name;
        std::string chosen;
        bool simple;
        std::string separator;
        std::string file;
        Rows rows;
    } cases[] = {
        // Field j into column j - 1: the first field overwrites "No.".
        {"plain", "<None>", false, ";", "7;11111111;KAM;\r\n;22222222;\r\n",
         {{{0, "7"}, {1, "11111111"}, {2, "KAM"}}, {{1, "22222222"}}, {}}},
        {"no closing separator loses the last field", "<None>", false, ";", "5;11111111;KAM\r\n",
         {{{0, "5"}, {1, "11111111"}}, {}}},
        {"simple", "<None>", true, ";", "Flat 1;11111111;Water;ignored;\r\nFlat 2;\r\n",
         {{{0, "1"}, {15, "Flat 1"}, {1, "11111111"}, {5, "Water"}}, {{0, "2"}, {15, "Flat 2"}}, {}}},
        // Codes 1..4 only: "Value" and positions without a type or beyond the count are skipped.
        {"template", "Import", false, ";", "text;1.0;11111111;x;KEY;ABC;beyond;\r\n",
         {{{0, "1"}, {15, "text"}, {1, "11111111"}, {14, "KEY"}, {2, "ABC"}}, {}}},
        {"no template of that name reads as <None>", "Nowhere", true, ";", "Flat;12345678;Heat;\r\n",
         {{{0, "1"}, {15, "Flat"}, {1, "12345678"}, {5, "Heat"}}, {}}},
        {"control bytes show as dots", "<None>", false, ";", std::string("1;A\tB\x7F\0\xE9;\r\n", 11),
         {{{0, "1"}, {1, "A.B..\xE9"}}, {}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        table.clearData();
        fill({{{1, "99999999"}}, {{1, "88888888"}}, {{1, "77777777"}}, {{1, "66666666"}}});
        options = {c.separator, c.simple};
        views.rebuilt = 0;
        writeFile(in, c.file);
        const TableCsvResult r = importFrom(c.chosen);
        EXPECT_EQ(r.status, Status::Done);
        EXPECT_EQ(r.rows, static_cast<int>(c.rows.size()) - 1);
        EXPECT_EQ(rowsOf(table), c.rows);
        EXPECT_EQ(views.rebuilt, 1);
        EXPECT_EQ(table.findMeterRow("99999999"), 0);
    }
    EXPECT_TRUE(op.messages.empty());
    EXPECT_EQ(op.dialogs[0].title, "Open meter file (ID and key)");
    EXPECT_EQ(op.dialogs[0].filter, "CSV files|*.csv|TXT files|*.txt");
    EXPECT_EQ(op.dialogs[0].defaultExtension, "CSV");
    EXPECT_EQ(views.lastStatus, "1:1 row read from " + in);
}

TEST_F(TableCsvTest, PlainRoundTripRestoresEveryByteAndClearsTheFlags)
{
    // Every byte a cell can hold (no control bytes) except the separator.
    std::string bytes;
    for (int b = 0x20; b < 256; ++b)
        if (b != ';' && b != 0x7F)
            bytes += static_cast<char>(b);
    Rows rows(2);
    for (int c = 1; c < table.columnCount(); ++c) {
        rows[0][c] = bytes.substr(static_cast<size_t>(c) * 11, 11);
        rows[1][c] = bytes.substr(static_cast<size_t>(c) * 11 + 5, 6);
    }
    rows[0][col::No] = "1";
    rows[1][col::No] = "2";
    fill(rows);
    const RowFlag flags[] = {RowFlag::LowBattery, RowFlag::Decrypted, RowFlag::Repeated,
                             RowFlag::MrvTest,    RowFlag::MrvProcess, RowFlag::MrvDone};
    for (RowFlag f : flags)
        for (int r = 1; r <= 3; ++r)
            table.setFlag(f, r, true);
    table.lastReadRow = 2;

    ASSERT_EQ(exportAs("<None>", in).status, Status::Done);
    table.setCell(1, col::MeterId, "changed");
    ASSERT_EQ(importFrom("<None>").rows, 2);
    rows.emplace_back(); // the empty row after the imported ones
    EXPECT_EQ(rowsOf(table), rows);
    for (RowFlag f : flags)
        for (int r = 1; r <= 3; ++r)
            EXPECT_FALSE(table.flag(f, r)) << r;
    EXPECT_EQ(table.mediumCounters().Repeated, 0u);
    EXPECT_EQ(table.lastReadRow, 0);
}

TEST_F(TableCsvTest, ImportThatFailsLeavesTheTableAsItWas)
{
    std::string thirtyNine;
    for (int i = 0; i < 39; ++i)
        thirtyNine += "x;";
    const struct {
        const char* name;
        std::optional<std::string> content; // none: no file at all
        Status status;
        std::string shown;
        std::vector<std::string> logged;
        std::string statusText;
    } cases[] = {
        {"unreadable file", std::nullopt, Status::FileError,
         "File Error|You chose wrong file for import!\nContact administrator!",
         {"code 11", "text Cannot open " + in + ": No such file or directory"},
         "Nothing read: " + in + " cannot be read, the table is unchanged"},
        {"file without lines", "", Status::Done, "", {}, "0 rows read from " + in + ": the file is empty, the table is unchanged"},
        {"forty separators on line 3", "1;A;\r\n" + thirtyNine + "\r\n" + thirtyNine + "x;\r\n4;B;\r\n",
         Status::TooManyData, "Palvero|You are trying to import too many data!!!\nCorrect csv file and try again!", {},
         "Nothing read from " + in + ": line 3 has too many fields, the table is unchanged"},
    };
    fillTwoMeters();
    table.setFlag(RowFlag::Decrypted, 2, true);
    const Rows before = rowsOf(table);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(in);
        if (c.content)
            writeFile(in, *c.content);
        op.messages.clear();
        log.lines.clear();
        EXPECT_EQ(importFrom("<None>").status, c.status);
        EXPECT_EQ(op.messages.empty() ? "" : op.messages[0].caption + "|" + op.messages[0].text, c.shown);
        EXPECT_EQ(log.lines, c.logged);
        EXPECT_EQ(views.lastStatus, "1:" + c.statusText);
        EXPECT_EQ(rowsOf(table), before);
        EXPECT_TRUE(table.flag(RowFlag::Decrypted, 2));
        EXPECT_EQ(views.rebuilt, 0);
    }

    // Thirty-nine separators are still read, as 39 fields; a missing template store
    // reads no file and asks for none.
    writeFile(in, thirtyNine + "\r\n");
    EXPECT_EQ(importFrom("<None>").status, Status::Done);
    EXPECT_EQ(table.cell(1, 18), "x");
    templates.store = TemplateLookup::Status::Missing;
    op.dialogs.clear();
    EXPECT_EQ(ImportTableCsv(table, "", options, templates, dir.path(), op, log).status, Status::NoTemplateFile);
    EXPECT_TRUE(op.dialogs.empty());
    EXPECT_EQ(views.lastStatus, "1:Nothing read: the template file tmplates.dat is missing");
}


TEST_F(TableCsvTest, ImportThatGivesNoFieldChangesNothing)
{
    const struct {
        const char* name;
        std::string separator;
        std::string content;
        std::string shown;
    } cases[] = {
        {"wrong separator", ";", "11111111,KAM,\r\n22222222,KAM,\r\n",
         "Error import|No line of in.csv holds a field divided by the export separator \";\".\nNothing was imported. "
         "Check the separator in Tools->Settings (Export separator:) and import again.\n\nline 1: no separator "
         "\";\"\nline 2: no separator \";\""},
        {"only empty fields", ",", ",,,\r\n,\r\n",
         "Error import|No line of in.csv holds a field divided by the export separator \",\".\nNothing was imported. "
         "Check the separator in Tools->Settings (Export separator:) and import again."},
        {"two-character separator", "::", "1::11111111::\r\n",
         "Error import|No line of in.csv holds a field divided by the export separator \"::\".\nNothing was "
         "imported. Check the separator in Tools->Settings (Export separator:) and import again.\n\nline 1: no "
         "separator \"::\""},
        {"UTF-16", ";", std::string("\xFF\xFE" "1\0;\0", 6),
         "Error import|in.csv is a UTF-16 text file, which the import does not read.\nSave it as CSV (UTF-8, or the "
         "code page set in Tools->Settings) and import it again."},
    };
    fillTwoMeters();
    const Rows before = rowsOf(table);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        options.separator = c.separator;
        writeFile(in, c.content);
        op.messages.clear();
        EXPECT_EQ(importFrom("<None>").status, Status::Refused);
        ASSERT_EQ(op.messages.size(), 1u);
        EXPECT_EQ(op.messages[0].caption + "|" + op.messages[0].text, c.shown);
        EXPECT_EQ(views.lastStatus, "1:Nothing read from " + in + ", the table is unchanged");
        EXPECT_EQ(rowsOf(table), before);
        EXPECT_EQ(views.rebuilt, 0);
    }

    // Cancelled while reading: nothing changes either.
    writeFile(in, std::string(3 << 20, 'x') + ";\r\n");
    options.separator = ";";
    op.fileAnswers.push_back(in);
    const TableCsvResult r = ImportTableCsv(table, "<None>", options, templates, dir.path(), op, log,
                                            [](std::uint64_t done, std::uint64_t) { return done == 0; });
    EXPECT_EQ(r.status, Status::Stopped);
    EXPECT_EQ(views.lastStatus, "1:Import cancelled, the table is unchanged");
    EXPECT_EQ(rowsOf(table), before);
}

TEST_F(TableCsvTest, LinesThatGiveNoRowAreSkippedAndNamed)
{
    options.codePage = CodePage::Windows1251;
    writeFile(in, "\xEF\xBB\xBF" "1;\xD0\x96\xD0\xB8\xD0\xB2\xD0\xBE;\r\nHeading\r\n\"3\";\"a;\"\"b\"\"\";\r\n"
                  "4;\xC3\xA9;\r\n5;" + std::string(kMaxFieldBytes + 1, 'x') + ";\r\n");
    const TableCsvResult r = importFrom("<None>");
    EXPECT_EQ(r.status, Status::Done);
    EXPECT_EQ(rowsOf(table), (Rows{{{0, "1"}, {1, "\xC6\xE8\xE2\xEE"}}, {{0, "3"}, {1, "a;\"b\""}}, {}}));
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text, "2 rows read from in.csv; 3 lines give no row:\nline 2: no separator \";\"\n"
                                   "line 4: \"\xC3\xA9\" (U+00E9) is not in Windows-1251\n"
                                   "line 5: a field is longer than 4096 bytes");
    EXPECT_EQ(views.lastStatus, "1:2 rows read from " + in + ", 3 lines skipped");
}

TEST_F(TableCsvTest, ExportQuotesOnlyWhatTheImportWouldDivide)
{
    fill({{{col::No, "1"}, {col::MeterId, "11111111"}, {col::ControlFields, "L=0x2E, C=0x44"},
           {col::FreeText, "say \"hi\""}}});
    const struct {
        std::string separator;
        std::string line;
    } cases[] = {
        {";", "1;11111111;;;L=0x2E, C=0x44;;;;;;;;;;;\"say \"\"hi\"\"\";;;;\r\n"},
        {",", "1,11111111,,,\"L=0x2E, C=0x44\",,,,,,,,,,,\"say \"\"hi\"\"\",,,,\r\n"},
    };
    const Rows before = rowsOf(table);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.separator);
        options.separator = c.separator;
        ASSERT_EQ(exportAs("<None>", in).status, Status::Done);
        EXPECT_EQ(readFile(in), c.line);
        ASSERT_EQ(importFrom("<None>").status, Status::Done);
        Rows back = before;
        back.emplace_back();
        EXPECT_EQ(rowsOf(table), back);
        table.clearData();
        fill(before);
    }
}

TEST(ReadTableCsv, MoreRowsThanTheTableTakesAreRefused)
{
    std::string lines;
    for (int i = 0; i <= kMaxImportRows; ++i)
        lines += "1;\n";
    MemorySource source(lines);
    EXPECT_EQ(readTableCsv(source, nullptr, {}, 1).outcome, TableCsvRows::Outcome::TooManyRows);
    MemorySource fewer(std::string_view(lines).substr(2));
    const TableCsvRows read = readTableCsv(fewer, nullptr, {}, 1);
    EXPECT_EQ(read.outcome, TableCsvRows::Outcome::Read);
    EXPECT_EQ(read.rows.rowCount(), kMaxImportRows + 2);
}

TEST_F(TableCsvTest, FilesThatCannotBeReadEndTheImportOnly)
{
    std::vector<std::string> unreadable = {dir.path().string()};
    if (std::filesystem::exists("/proc/self/mem"))
        unreadable.push_back("/proc/self/mem"); // a read there fails with an I/O error
    fillTwoMeters();
    const Rows before = rowsOf(table);
    for (const std::string& path : unreadable) {
        SCOPED_TRACE(path);
        op.messages.clear();
        log.lines.clear();
        op.fileAnswers.push_back(path);
        EXPECT_EQ(ImportTableCsv(table, "<None>", options, templates, dir.path(), op, log).status, Status::FileError);
        ASSERT_EQ(op.messages.size(), 1u);
        EXPECT_EQ(op.messages[0].text, "You chose wrong file for import!\nContact administrator!");
        ASSERT_EQ(log.lines.size(), 2u);
        EXPECT_EQ(log.lines[0], "code 11");
        EXPECT_EQ(log.lines[1].rfind("text Cannot read " + path + ": ", 0), 0u) << log.lines[1];
        EXPECT_EQ(rowsOf(table), before);
    }
}

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST_F(TableCsvTest, HugeFilesAreReadInBoundedMemory)
{
    fillTwoMeters();
    const Rows before = rowsOf(table);
    const long peakBefore = peakKiB();

    // 200 MB of line feeds through a pipe: nothing on the disk, nothing to import.
    const auto pipe = dir / "feeds.csv";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::thread writer([&] {
        std::ofstream out(pipe, std::ios::binary);
        const std::string feeds(1 << 20, '\n');
        for (int i = 0; i < 200; ++i)
            out.write(feeds.data(), static_cast<std::streamsize>(feeds.size()));
    });
    op.fileAnswers.push_back(pipe.string());
    const TableCsvResult feeds = ImportTableCsv(table, "<None>", options, templates, dir.path(), op, log);
    writer.join();
    EXPECT_EQ(feeds.status, Status::Done);
    EXPECT_EQ(feeds.rows, 0);
    EXPECT_EQ(rowsOf(table), before);

    // One line of 1 GiB in a sparse file: its first field is read, the rest passed over.
    const auto sparse = dir / "one-line.csv";
    writeFile(sparse, "12345678;");
    std::filesystem::resize_file(sparse, std::uintmax_t(1) << 30);
    op.fileAnswers.push_back(sparse.string());
    const TableCsvResult line = ImportTableCsv(table, "<None>", options, templates, dir.path(), op, log);
    EXPECT_EQ(line.status, Status::Done);
    EXPECT_EQ(rowsOf(table), (Rows{{{0, "12345678"}}, {}}));
    EXPECT_LT(peakKiB() - peakBefore, 64 * 1024);
}

} // namespace
} // namespace palvero

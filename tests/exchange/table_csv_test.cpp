#include "table_csv.h"

#include "csv.h"
#include "scripted_operator.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <map>

namespace palvero {
namespace {

using test::readFile;
using test::writeFile;

struct RecordingLog : ErrorLogger {
    std::vector<std::string> lines;
    void LogErrorCode(int code) override { lines.push_back("code " + std::to_string(code)); }
    void LogErrorText(const std::string& text) override { lines.push_back("text " + text); }
};

struct Templates : TemplateSource {
    std::map<std::string, TemplateColumns> byName;
    TemplateLookup::Status storeStatus = TemplateLookup::Status::Found;
    std::vector<std::string> asked;

    void add(const std::string& name, std::initializer_list<std::uint8_t> types)
    {
        TemplateColumns c;
        c.count = static_cast<int>(types.size());
        c.types.fill(columntype::None);
        std::copy(types.begin(), types.end(), c.types.begin());
        byName[name] = c;
    }
    TemplateLookup findTemplate(const std::string& name) override
    {
        asked.push_back(name);
        TemplateLookup l;
        if (storeStatus != TemplateLookup::Status::Found) {
            l.status = storeStatus;
            l.error = "tmplates.dat: Input/output error";
            return l;
        }
        auto it = byName.find(name);
        l.status = it == byName.end() ? TemplateLookup::Status::NotFound : TemplateLookup::Status::Found;
        if (it != byName.end())
            l.columns = it->second;
        return l;
    }
};

struct Views : MeterTableListener {
    std::vector<std::pair<int, std::string>> statusTexts;
    int rebuilt = 0;
    void statusText(int panel, const std::string& text) override { statusTexts.emplace_back(panel, text); }
    void tableRebuilt() override { ++rebuilt; }
};

// Rows of cells by column; every other cell empty.
using Rows = std::vector<std::map<int, std::string>>;

void fill(MeterTable& t, const Rows& rows)
{
    for (size_t i = 0; i < rows.size(); ++i) {
        const int r = i == 0 ? 1 : t.appendRow();
        for (const auto& [c, text] : rows[i])
            t.setCell(r, c, text);
    }
}

Rows rowsOf(const MeterTable& t)
{
    Rows out;
    for (int r = 1; r < t.rowCount(); ++r) {
        std::map<int, std::string> cells;
        for (int c = 0; c < t.columnCount(); ++c)
            if (!t.cell(r, c).empty())
                cells[c] = t.cell(r, c);
        out.push_back(cells);
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

    void SetUp() override
    {
        table.addListener(&views);
        templates.add("Keys", {1, 255, 2});
        templates.add("Odd codes", {0, 17, 200, 4, 255});
        templates.add("Others", {16, 9, 5, 6, 7, 8, 3});
        templates.add("Import", {3, 5, 1, 255, 2, 4});
        templates.add("Empty", {});
    }
    void fillTwoMeters()
    {
        fill(table, {{{col::No, "1"}, {col::MeterId, "11111111"}, {col::Mfr, "KAM"}, {col::Medium, "Water"},
                      {col::MainValue, "1.000"}, {col::Units, "m3"}, {col::Time, "10:00:00"}, {col::Date, "01.02.2026"},
                      {col::EncryptionKey, "00112233"}, {col::FreeText, "Flat 1"}, {16, "a1"}, {18, "c1"}},
                     {{col::No, "2"}, {col::MeterId, "22222222"}, {col::Medium, "Gas"}, {col::FreeText, "Flat 2"}}});
    }
    TableCsvResult exportAs(const std::string& name, const std::string& file = "out.csv")
    {
        op.fileAnswers.push_back(file);
        return ExportTableCsv(table, name, options, templates, dir.path(), op, log);
    }
    TableCsvResult importFrom(const std::string& name, const std::string& content)
    {
        writeFile(dir / "in.csv", content);
        op.fileAnswers.push_back((dir / "in.csv").string());
        return ImportTableCsv(table, name, options, templates, dir.path(), op, log);
    }
};

TEST(TemplateColumnToTableColumn, EveryCodeHasItsColumn)
{
    const int expected[] = {-1, 1, 14, 15, 2, 6, 7, 9, 10, 16, 17, 18, 19, 20, 21, 22, 23, -1};
    for (int code = 0; code <= 17; ++code)
        EXPECT_EQ(TemplateColumnToTableColumn(code), expected[code]) << code;
    EXPECT_EQ(TemplateColumnToTableColumn(255), -1);
}

TEST_F(TableCsvTest, ExportWritesEachModeWithAClosingSeparator)
{
    const std::string plain1 = "1;11111111;KAM;;;Water;1.000;m3;;10:00:00;01.02.2026;;;;00112233;Flat 1;a1;;c1;\r\n";
    const std::string plain2 = "2;22222222;;;;Gas;;;;;;;;;;Flat 2;;;;\r\n";
    const struct {
        const char* name;
        std::string chosen;
        bool simple;
        std::string separator;
        std::string expected;
    } cases[] = {
        {"plain", "<None>", false, ";", plain1 + plain2},
        {"simple", "<None>", true, ";", "Flat 1;11111111;Water;01.02.2026;1.000;\r\nFlat 2;22222222;Gas;;;\r\n"},
        {"meter ID, no type, key", "Keys", true, ";", "11111111;00112233;\r\n22222222;;\r\n"},
        {"codes without a column are skipped", "Odd codes", false, ",", "KAM,\r\n,\r\n"},
        // "Other 8" is beyond the three additional values: an empty cell all the same.
        {"others and units", "Others", false, ";",
         ";a1;1.000;m3;10:00:00;01.02.2026;Flat 1;\r\n;;;;;;Flat 2;\r\n"},
        {"no template of that name", "Nowhere", false, ";", "\r\n\r\n"},
        {"template without columns", "Empty", false, ";", "\r\n\r\n"},
        {"two-character separator", "Keys", false, "::", "11111111::00112233::\r\n22222222::::\r\n"},
    };
    fillTwoMeters();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        options.simple = c.simple;
        options.separator = c.separator;
        const TableCsvResult r = exportAs(c.chosen);
        EXPECT_EQ(r.status, TableCsvResult::Status::Done);
        EXPECT_EQ(r.rows, 2);
        EXPECT_EQ(r.file, dir / "out.csv");
        EXPECT_EQ(readFile(dir / "out.csv"), c.expected);
        EXPECT_EQ(r.templateNotFound, c.chosen == "Nowhere");
    }
    ASSERT_FALSE(op.dialogs.empty());
    EXPECT_EQ(op.dialogs[0].title, "Save log data");
    EXPECT_EQ(op.dialogs[0].filter, "CSV|*.csv|TXT|*.txt");
    EXPECT_EQ(op.dialogs[0].defaultExtension, "csv");
    EXPECT_EQ(op.dialogs[0].fileName, "");
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(op.messages.empty());
    EXPECT_EQ(views.statusTexts.back(),
              std::make_pair(1, "2 rows written to " + (dir / "out.csv").string()));
}

TEST_F(TableCsvTest, ExportThatCannotGoAheadWritesNothing)
{
    fillTwoMeters();
    const std::string target = (dir / "out.csv").string();
    const struct {
        const char* name;
        TemplateLookup::Status store;
        std::string chosen;
        std::optional<std::string> answer;
        TableCsvResult::Status status;
        size_t dialogs;
        std::vector<std::string> logged;
        std::string statusText;
    } cases[] = {
        {"cancelled", TemplateLookup::Status::Found, "<None>", std::nullopt, TableCsvResult::Status::Cancelled, 1, {}, ""},
        {"empty name", TemplateLookup::Status::Found, "<None>", std::string(), TableCsvResult::Status::Cancelled, 1, {}, ""},
        {"tmplates.dat missing", TemplateLookup::Status::Missing, "Keys", target,
         TableCsvResult::Status::NoTemplateFile, 0, {}, "Nothing written: the template file tmplates.dat is missing"},
        {"tmplates.dat unreadable", TemplateLookup::Status::Error, "Keys", target, TableCsvResult::Status::TemplateError,
         0, {"text tmplates.dat: Input/output error"}, "Nothing written: the templates cannot be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        templates.storeStatus = c.store;
        op.dialogs.clear();
        op.fileAnswers = {c.answer};
        log.lines.clear();
        views.statusTexts.clear();
        const TableCsvResult r = ExportTableCsv(table, c.chosen, options, templates, dir.path(), op, log);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(op.dialogs.size(), c.dialogs);
        EXPECT_EQ(log.lines, c.logged);
        EXPECT_FALSE(std::filesystem::exists(target));
        if (c.statusText.empty()) {
            EXPECT_TRUE(views.statusTexts.empty());
        } else {
            EXPECT_EQ(views.statusTexts, (std::vector<std::pair<int, std::string>>{{1, c.statusText}}));
        }
    }
    EXPECT_TRUE(op.messages.empty());
    // "<None>" never looks in the template store.
    EXPECT_EQ(templates.asked, (std::vector<std::string>{"Keys", "Keys"}));
}

TEST_F(TableCsvTest, FailedWriteIsShownAndLoggedWithCode40)
{
    fillTwoMeters();
    const TableCsvResult r = exportAs("<None>", (dir / "no-such-folder" / "out.csv").string());
    EXPECT_EQ(r.status, TableCsvResult::Status::FileError);
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].caption, "Error saving file");
    EXPECT_EQ(op.messages[0].text, "File cannot be written, no rights!\nContact administrator.");
    EXPECT_EQ(op.messages[0].icon, MessageIcon::Error);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "code 40");
    EXPECT_NE(log.lines[1].find("out.csv"), std::string::npos);
    EXPECT_EQ(views.statusTexts.back().second,
              "Nothing written: " + (dir / "no-such-folder" / "out.csv").string() + " cannot be written");
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
        // Codes 1..4 only: "Value" and positions without a type are skipped.
        {"template", "Import", false, ";", "text;1.0;11111111;x;KEY;ABC;beyond;\r\n",
         {{{0, "1"}, {15, "text"}, {1, "11111111"}, {14, "KEY"}, {2, "ABC"}}, {}}},
        {"no template of that name reads as <None>", "Nowhere", true, ";", "Flat;12345678;Heat;\r\n",
         {{{0, "1"}, {15, "Flat"}, {1, "12345678"}, {5, "Heat"}}, {}}},
        {"two-character separator finds no field", "<None>", false, "::", "1::11111111::\r\n2::\r\n",
         {{{0, "1"}}, {{0, "2"}}, {}}},
        {"empty line", "<None>", false, ";", "\r\n1;A;\r\n", {{{0, "1"}}, {{0, "1"}, {1, "A"}}, {}}},
        {"fields beyond the columns are dropped", "<None>", false, ",",
         "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,\r\n",
         {{{0, "0"}, {1, "1"}, {2, "2"}, {3, "3"}, {4, "4"}, {5, "5"}, {6, "6"}, {7, "7"}, {8, "8"}, {9, "9"},
           {10, "10"}, {11, "11"}, {12, "12"}, {13, "13"}, {14, "14"}, {15, "15"}, {16, "16"}, {17, "17"}, {18, "18"}},
          {}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        table.clearData();
        fill(table, {{{1, "99999999"}}, {{1, "88888888"}}, {{1, "77777777"}}, {{1, "66666666"}}});
        options.simple = c.simple;
        options.separator = c.separator;
        views.rebuilt = 0;
        const TableCsvResult r = importFrom(c.chosen, c.file);
        EXPECT_EQ(r.status, TableCsvResult::Status::Done);
        EXPECT_EQ(r.rows, static_cast<int>(c.rows.size()) - 1);
        EXPECT_EQ(rowsOf(table), c.rows);
        EXPECT_EQ(views.rebuilt, 1);
        EXPECT_EQ(table.findMeterRow("99999999"), 0);
    }
    EXPECT_TRUE(op.messages.empty());
    EXPECT_TRUE(log.lines.empty());
    ASSERT_FALSE(op.dialogs.empty());
    EXPECT_EQ(op.dialogs[0].title, "Open meter file (ID and key)");
    EXPECT_EQ(op.dialogs[0].filter, "CSV files|*.csv|TXT files|*.txt");
    EXPECT_EQ(op.dialogs[0].defaultExtension, "CSV");
    EXPECT_EQ(views.statusTexts.back(), std::make_pair(1, "1 row read from " + (dir / "in.csv").string()));
}

TEST_F(TableCsvTest, PlainRoundTripRestoresEveryByteAndClearsTheFlags)
{
    // Every byte a cell can hold except the separator and the line ends, spread over the
    // columns of two rows.
    std::string bytes;
    for (int b = 1; b < 256; ++b)
        if (b != ';' && b != '\r' && b != '\n')
            bytes += static_cast<char>(b);
    Rows rows(2);
    for (int c = 0; c < table.columnCount(); ++c) {
        rows[0][c] = bytes.substr(static_cast<size_t>(c) * 10, 10);
        rows[1][c] = bytes.substr(static_cast<size_t>(c) * 10 + 5, 5);
    }
    rows[0][col::No] = "1";
    rows[1][col::No] = "2";
    fill(table, rows);
    for (RowFlag f : {RowFlag::LowBattery, RowFlag::Decrypted, RowFlag::Repeated, RowFlag::MrvTest,
                      RowFlag::MrvProcess, RowFlag::MrvDone})
        for (int r = 1; r <= 3; ++r)
            table.setFlag(f, r, true);
    table.lastReadRow = 2;

    ASSERT_EQ(exportAs("<None>").status, TableCsvResult::Status::Done);
    table.setCell(1, col::MeterId, "changed");
    op.fileAnswers.push_back((dir / "out.csv").string());
    const TableCsvResult r = ImportTableCsv(table, "<None>", options, templates, dir.path(), op, log);
    ASSERT_EQ(r.status, TableCsvResult::Status::Done);
    EXPECT_EQ(r.rows, 2);

    rows.emplace_back(); // the empty row after the imported ones
    EXPECT_EQ(rowsOf(table), rows);
    for (RowFlag f : {RowFlag::LowBattery, RowFlag::Decrypted, RowFlag::Repeated, RowFlag::MrvTest,
                      RowFlag::MrvProcess, RowFlag::MrvDone})
        for (int r = 1; r <= 3; ++r)
            EXPECT_FALSE(table.flag(f, r)) << r;
    EXPECT_EQ(table.mediumCounters().Repeated, 0u);
    EXPECT_EQ(table.lastReadRow, 0);
    EXPECT_EQ(views.rebuilt, 1);
    EXPECT_EQ(views.statusTexts.back(), std::make_pair(1, "2 rows read from " + (dir / "out.csv").string()));
}

TEST_F(TableCsvTest, ImportThatFailsLeavesTheTableAsItWas)
{
    std::string thirtyNine, forty;
    for (int i = 0; i < 39; ++i)
        thirtyNine += "x;";
    forty = thirtyNine + "x;";
    const std::string in = (dir / "in.csv").string();
    const struct {
        const char* name;
        std::optional<std::string> content; // none: no file at all
        TableCsvResult::Status status;
        std::vector<std::string> messages;
        std::string statusText;
    } cases[] = {
        {"unreadable file", std::nullopt, TableCsvResult::Status::FileError,
         {"File Error|You chose wrong file for import!\nContact administrator!"},
         "Nothing read: " + in + " cannot be read, the table is unchanged"},
        {"file without lines", "", TableCsvResult::Status::Done, {},
         "0 rows read from " + in + ": the file is empty, the table is unchanged"},
        {"forty separators on line 3", "1;A;\r\n" + thirtyNine + "\r\n" + forty + "\r\n4;B;\r\n",
         TableCsvResult::Status::TooManyData,
         {"Palvero|You are trying to import too many data!!!\nCorrect csv file and try again!"},
         "Nothing read from " + in + ": line 3 has too many fields, the table is unchanged"},
    };
    fillTwoMeters();
    table.setFlag(RowFlag::Decrypted, 2, true);
    const Rows before = rowsOf(table);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir / "in.csv");
        if (c.content)
            writeFile(dir / "in.csv", *c.content);
        op.messages.clear();
        log.lines.clear();
        op.fileAnswers.push_back(in);
        const TableCsvResult r = ImportTableCsv(table, "<None>", options, templates, dir.path(), op, log);
        EXPECT_EQ(r.status, c.status);
        std::vector<std::string> shown;
        for (const auto& m : op.messages)
            shown.push_back(m.caption + "|" + m.text);
        EXPECT_EQ(shown, c.messages);
        EXPECT_EQ(rowsOf(table), before);
        EXPECT_TRUE(table.flag(RowFlag::Decrypted, 2));
        EXPECT_EQ(views.rebuilt, 0);
        EXPECT_EQ(views.statusTexts.back().second, c.statusText);
        EXPECT_EQ(log.lines.empty(), c.status != TableCsvResult::Status::FileError);
    }
    EXPECT_EQ(views.statusTexts.back().second,
              "Nothing read from " + in + ": line 3 has too many fields, the table is unchanged");
    EXPECT_EQ(log.lines.size(), 0u);

    // Thirty-nine separators are still read, as 39 fields.
    const TableCsvResult r = importFrom("<None>", thirtyNine + "\r\n");
    EXPECT_EQ(r.status, TableCsvResult::Status::Done);
    EXPECT_EQ(table.cell(1, 18), "x");
}

TEST_F(TableCsvTest, UnreadableImportLogsCode11AndItsError)
{
    op.fileAnswers.push_back((dir / "missing.csv").string());
    ImportTableCsv(table, "<None>", options, templates, dir.path(), op, log);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "code 11");
    EXPECT_NE(log.lines[1].find("missing.csv"), std::string::npos);
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].icon, MessageIcon::Warning);

    // A missing template store reads no file and asks for none.
    templates.storeStatus = TemplateLookup::Status::Missing;
    op.dialogs.clear();
    EXPECT_EQ(ImportTableCsv(table, "", options, templates, dir.path(), op, log).status,
              TableCsvResult::Status::NoTemplateFile);
    EXPECT_TRUE(op.dialogs.empty());
    EXPECT_EQ(views.statusTexts.back().second, "Nothing read: the template file tmplates.dat is missing");
}

} // namespace
} // namespace palvero

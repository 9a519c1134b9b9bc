#include "measurement_file.h"
#include "measurement_report.h"
#include "meter_table.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace palvero {
namespace {

using test::readFile;
using test::writeFile;

struct RecordingLog : ErrorLogger {
    std::vector<std::string> lines;
    void LogErrorCode(int code) override { lines.push_back("code " + std::to_string(code)); }
    void LogErrorText(const std::string& text) override { lines.push_back(text); }
};

// A meter table row with every cell named after its column ("c5" in column 5), a meter ID
// and a reading date as the table shows it (FixedFormats: day.month.year).
void fillRow(MeterTable& t, int row, const std::string& id, const std::string& date)
{
    for (int c = 0; c < t.columnCount(); ++c)
        t.setCell(row, c, "c" + std::to_string(c));
    t.setCell(row, col::No, std::to_string(row));
    t.setCell(row, col::MeterId, id);
    t.setCell(row, col::Date, date);
}

MeterTable tableOf(const std::vector<std::pair<std::string, std::string>>& rows, int additional = 3)
{
    MeterTable t(additional);
    for (size_t i = 0; i < rows.size(); ++i)
        fillRow(t, i == 0 ? 1 : t.appendRow(), rows[i].first, rows[i].second);
    return t;
}

// A record as the file holds it, with field 10 set and the others given.
std::string recordBytes(const std::string& id, const std::string& storedDate)
{
    MeasurementRecord r;
    r.fields[1] = id;
    r.fields[MeasurementRecord::kDateField] = storedDate;
    const auto bytes = r.encode();
    return std::string(bytes.begin(), bytes.end());
}

struct MeasurementFileTest : ::testing::Test {
    test::TempDir dir;
    FixedFormats formats;
    RecordingLog log;
    MeasurementFile db{dir.path(), log, formats};
    std::filesystem::path file = dir / "db.mrv";

    void SetUp() override { writeFile(file, ""); }
};

TEST_F(MeasurementFileTest, SavedRowIsThirtyTwoFieldsOfLengthAndText)
{
    // 16 titled columns and 3 additional values: 19 columns, so fields 0..17 are filled.
    MeterTable t = tableOf({{"12345678", "06.03.2021"}});
    t.setCell(1, col::Notes, std::string(40, 'n'));
    ASSERT_TRUE(db.SaveMeasurements(t.grid()));

    const std::string bytes = readFile(file);
    ASSERT_EQ(bytes.size(), 1056u);
    const std::vector<std::string> expected = {
        "1", "12345678", "c2", "c3", "c4", "c5", "c6", "c7", "c8", "c9", "2021-03-06",
        std::string(32, 'n'), // cut to the field's capacity
        "c13", "c14", "c15", "c16", "c17", "c18"};
    for (size_t k = 0; k < 32; ++k) {
        const std::string text = k < expected.size() ? expected[k] : "";
        const std::string field = bytes.substr(k * 33, 33);
        SCOPED_TRACE("field " + std::to_string(k));
        EXPECT_EQ(static_cast<unsigned char>(field[0]), text.size());
        EXPECT_EQ(field.substr(1, text.size()), text);
        EXPECT_EQ(field.substr(1 + text.size()), std::string(32 - text.size(), '\0'));
    }
    // Read back field by field.
    const std::vector<MeasurementRecord> back = db.ReadAll();
    ASSERT_EQ(back.size(), 1u);
    for (size_t k = 0; k < 32; ++k)
        EXPECT_EQ(back[0].fields[k], k < expected.size() ? expected[k] : "") << "field " << k;
}

TEST_F(MeasurementFileTest, TheWidestTablesFillEveryFieldTheyCan)
{
    // The widest meter table (16 additional values, 32 columns) leaves the last field empty.
    MeterTable t = tableOf({{"12345678", "06.03.2021"}}, 16);
    ASSERT_EQ(t.columnCount(), 32);
    ASSERT_TRUE(db.SaveMeasurements(t.grid()));
    // A grid wider still stores up to column 32; the columns after it are not stored.
    TextGrid wide(2, 36);
    for (int c = 0; c < 36; ++c)
        wide.setCell(1, c, "c" + std::to_string(c));
    wide.setCell(1, col::Date, "06.03.2021");
    ASSERT_TRUE(db.SaveMeasurements(wide));

    const std::vector<MeasurementRecord> back = db.ReadAll();
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].fields[30], "c31");
    EXPECT_EQ(back[0].fields[31], "");
    EXPECT_EQ(back[1].fields[30], "c31");
    EXPECT_EQ(back[1].fields[31], "c32");
    EXPECT_EQ(measurementColumnOfField(11), col::Notes);
    EXPECT_EQ(measurementColumnOfField(12), col::FirmwareVersion);
    EXPECT_EQ(measurementColumnOfField(32), -1);
}

TEST_F(MeasurementFileTest, WhichRowsAreSaved)
{
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> rows;
        bool result;
        std::vector<std::string> savedIds;
        std::vector<std::string> log;
    } cases[] = {
        {"only row without a meter ID", {{"", "06.03.2021"}}, false, {}, {}},
        {"row without a date is skipped", {{"11111111", "06.03.2021"}, {"22222222", ""}, {"33333333", "07.03.2021"}},
         true, {"11111111", "33333333"}, {}},
        {"row without a meter ID is skipped", {{"11111111", "06.03.2021"}, {"", "06.03.2021"}}, true, {"11111111"}, {}},
        {"a date that is no date is logged and the other rows are still saved",
         {{"11111111", "06.03.2021"}, {"22222222", "31.02.2021"}, {"33333333", "07.03.2021"}},
         false,
         {"11111111", "33333333"},
         {"code 22", "Date \"31.02.2021\" of meter 22222222 is not a date"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(file, "");
        log.lines.clear();
        MeterTable t = tableOf(c.rows);
        EXPECT_EQ(db.SaveMeasurements(t.grid()), c.result);
        std::vector<std::string> ids;
        for (const auto& r : db.ReadAll())
            ids.push_back(r.fields[1]);
        EXPECT_EQ(ids, c.savedIds);
        EXPECT_EQ(log.lines, c.log);
    }
}

TEST_F(MeasurementFileTest, MissingFileIsLoggedAndNotCreated)
{
    std::filesystem::remove(file);
    MeterTable t = tableOf({{"11111111", "06.03.2021"}});
    EXPECT_FALSE(db.SaveMeasurements(t.grid()));
    EXPECT_EQ(log.lines, std::vector<std::string>{"code 21"});
    EXPECT_FALSE(std::filesystem::exists(file));
    FileOutcome outcome;
    EXPECT_TRUE(db.ReadAll(&outcome).empty());
    EXPECT_EQ(outcome.status, FileStatus::Missing);
    EXPECT_EQ(db.Truncate().status, FileStatus::Missing);
}

TEST_F(MeasurementFileTest, SavingTwiceAppendsTwice)
{
    MeterTable t = tableOf({{"11111111", "06.03.2021"}, {"22222222", "06.03.2021"}});
    ASSERT_TRUE(db.SaveMeasurements(t.grid()));
    ASSERT_TRUE(db.SaveMeasurements(t.grid()));
    std::vector<std::string> ids;
    for (const auto& r : db.ReadAll())
        ids.push_back(r.fields[1]);
    EXPECT_EQ(ids, (std::vector<std::string>{"11111111", "22222222", "11111111", "22222222"}));
}

TEST_F(MeasurementFileTest, SaveAfterAnInterruptedOneGoesOnAfterTheLastWholeRecord)
{
    // Two whole records, then the first 500 bytes of a third: a save stopped mid-record.
    const std::string whole = recordBytes("11111111", "2021-03-06") + recordBytes("22222222", "2021-03-06");
    writeFile(file, whole + recordBytes("99999999", "2021-03-06").substr(0, 500));
    EXPECT_EQ(db.ReadAll().size(), 2u);

    MeterTable t = tableOf({{"33333333", "07.03.2021"}});
    ASSERT_TRUE(db.SaveMeasurements(t.grid()));
    const std::string bytes = readFile(file);
    ASSERT_EQ(bytes.size(), 3 * 1056u);
    EXPECT_EQ(bytes.substr(0, whole.size()), whole);
    std::vector<std::string> ids;
    for (const auto& r : db.ReadAll())
        ids.push_back(r.fields[1]);
    EXPECT_EQ(ids, (std::vector<std::string>{"11111111", "22222222", "33333333"}));
}

TEST_F(MeasurementFileTest, TruncateEmptiesTheFile)
{
    writeFile(file, recordBytes("11111111", "2021-03-06"));
    EXPECT_TRUE(db.Truncate().ok());
    EXPECT_EQ(readFile(file), "");
}

TEST(MeasurementRecord, DamagedLengthBytesNeverReadPastTheirField)
{
    std::string bytes = recordBytes("11111111", "2021-03-06");
    bytes[1 * 33] = char(200); // ID length far beyond 32
    bytes[31 * 33] = char(255); // the last field's length beyond the record
    const MeasurementRecord r = MeasurementRecord::decode(reinterpret_cast<const uint8_t*>(bytes.data()));
    EXPECT_EQ(r.fields[1], std::string("11111111") + std::string(24, '\0'));
    EXPECT_EQ(r.fields[31].size(), 32u);
}

TEST(StoredDate, Format)
{
    const struct {
        DateTime date;
        const char* text;
    } cases[] = {
        {{2021, 3, 6}, "2021-03-06"},
        {{2026, 12, 31}, "2026-12-31"},
        {{5, 1, 2}, "2005-01-02"},   // a two-digit year counts in this century
        {{98, 7, 9}, "2098-07-09"},
        {{99, 7, 9}, "0099-07-09"},  // from 99 on the year is taken as it is, with four digits
        {{999, 10, 11}, "0999-10-11"},
        {{1000, 1, 1}, "1000-01-01"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatStoredDate(c.date), c.text) << c.text;
}

TEST(StoredDate, Parse)
{
    const struct {
        const char* text;
        StoredDate::Kind kind;
        DateTime date;
    } cases[] = {
        {"2021-03-06", StoredDate::Valid, {2021, 3, 6}},
        {"2020-02-29", StoredDate::Valid, {2020, 2, 29}},
        {"0999-10-11", StoredDate::Valid, {999, 10, 11}},
        {"2021/03/06", StoredDate::Valid, {2021, 3, 6}},        // the separators are not read
        {"2021-03-06 trailing", StoredDate::Valid, {2021, 3, 6}},
        {"2021-00-05", StoredDate::None, {}},
        {"0000-01-05", StoredDate::None, {}},
        {"2021-01-00", StoredDate::None, {}},
        {"2021-0x-05", StoredDate::None, {}},                    // not a number: 0
        {"2021-3-6", StoredDate::None, {}},                      // too short
        {"", StoredDate::None, {}},
        {"2021-13-05", StoredDate::Impossible, {}},
        {"2021-02-29", StoredDate::Impossible, {}},
        {"2021-04-31", StoredDate::Impossible, {}},
        {"2021-01-32", StoredDate::Impossible, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const StoredDate d = ParseStoredDate(c.text);
        EXPECT_EQ(d.kind, c.kind);
        if (c.kind == StoredDate::Valid) {
            EXPECT_EQ(d.date, c.date);
        }
    }
    // Every date written is read back as itself.
    for (int year : {1, 99, 999, 2021, 9999})
        for (int month : {1, 2, 12}) {
            const DateTime date{year < 99 ? year + 2000 : year, month, 28};
            EXPECT_EQ(ParseStoredDate(FormatStoredDate(date)).date, date);
        }
}

// Reports over a file of records dated 5, 6, 6, 7 March, one without a date between them.
struct ReportScanTest : ::testing::Test {
    test::TempDir dir;
    FixedFormats formats;
    std::filesystem::path file = dir / "db.mrv";

    void SetUp() override
    {
        writeFile(file, recordBytes("05000001", "2021-03-05") + recordBytes("06000001", "2021-03-06")
                            + recordBytes("00000000", "2021-00-06") + recordBytes("06000002", "2021-03-06")
                            + recordBytes("07000001", "2021-03-07"));
    }

    // The IDs the report finds, reading `perRead` records at a time.
    std::vector<std::string> ids(DateTime from, DateTime to, std::size_t perRead = 1000,
                                 ReportScan::Step* last = nullptr, ReportRows* keep = nullptr)
    {
        ReportRows rows;
        ReportScan scan(file, from, to, formats);
        EXPECT_TRUE(scan.open().ok());
        ReportScan::Step step;
        while ((step = scan.next(rows, perRead)) == ReportScan::Step::More) {
        }
        if (last)
            *last = step;
        std::vector<std::string> out;
        for (int r = 0; r < rows.count(); ++r)
            out.emplace_back(rows.cell(r, 1));
        if (keep)
            *keep = std::move(rows);
        return out;
    }
};

TEST_F(ReportScanTest, RangesCoverWholeDays)
{
    using V = std::vector<std::string>;
    const struct {
        const char* name;
        DateTime from, to;
        V ids;
    } cases[] = {
        {"one day", {2021, 3, 6}, {2021, 3, 6}, {"06000001", "06000002"}},
        {"both end days", {2021, 3, 5}, {2021, 3, 7}, {"05000001", "06000001", "06000002", "07000001"}},
        {"from after to", {2021, 3, 7}, {2021, 3, 5}, {}},
        {"no day", {2022, 1, 1}, {2022, 12, 31}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ids(c.from, c.to), c.ids);
        EXPECT_EQ(ids(c.from, c.to, 1), c.ids); // one record per read gives the same
    }
}

TEST_F(ReportScanTest, RowsHoldTheFieldsWithTheDateInTheShortFormat)
{
    MeterTable t = tableOf({{"12345678", "06.03.2021"}});
    t.setCell(1, col::EncryptionKey, std::string(32, 'K'));
    writeFile(file, "");
    RecordingLog log;
    MeasurementFile db(dir.path(), log, formats);
    ASSERT_TRUE(db.SaveMeasurements(t.grid()));
    ReportRows rows;
    ASSERT_EQ(ids({2021, 3, 6}, {2021, 3, 6}, 1000, nullptr, &rows).size(), 1u);
    const std::vector<std::string> expected = {
        "1", "12345678", "c2", "c3", "c4", "c5", "c6", "c7", "c8", "c9", "06.03.2021", "c11", "c13",
        std::string(32, 'K'), "c15", "c16", "c17", "c18", "", "", "", "", "", "", ""};
    for (int c = 0; c < ReportRows::kColumns; ++c)
        EXPECT_EQ(rows.cell(0, c), expected[static_cast<size_t>(c)]) << "column " << c;
    EXPECT_EQ(rows.cell(1, 0), "");
    EXPECT_EQ(rows.cell(0, 25), "");
}

TEST_F(ReportScanTest, ImpossibleDateFailsAndKeepsTheRowsFoundSoFar)
{
    writeFile(file, readFile(file) + recordBytes("13000001", "2021-13-05") + recordBytes("07000002", "2021-03-07"));
    ReportScan::Step last;
    EXPECT_EQ(ids({2021, 3, 1}, {2021, 3, 31}, 2, &last),
              (std::vector<std::string>{"05000001", "06000001", "06000002", "07000001"}));
    EXPECT_EQ(last, ReportScan::Step::Failed);

    ReportRows rows;
    ReportScan scan(file, {2021, 3, 1}, {2021, 3, 31}, formats);
    ASSERT_TRUE(scan.open().ok());
    EXPECT_EQ(scan.next(rows, 100), ReportScan::Step::Failed);
    EXPECT_NE(scan.error().find("2021-13-05"), std::string::npos);
    EXPECT_NE(scan.error().find("record 6"), std::string::npos);
}

TEST_F(ReportScanTest, FileCutInARecordReadsTheWholeRecordsOnly)
{
    writeFile(file, readFile(file) + recordBytes("07000002", "2021-03-07").substr(0, 700));
    ReportScan::Step last;
    EXPECT_EQ(ids({2021, 3, 7}, {2021, 3, 7}, 1000, &last), std::vector<std::string>{"07000001"});
    EXPECT_EQ(last, ReportScan::Step::Finished);
}

TEST_F(ReportScanTest, MissingAndEmptyFiles)
{
    ReportRows rows;
    std::filesystem::remove(file);
    ReportScan missing(file, {2021, 3, 1}, {2021, 3, 31}, formats);
    EXPECT_EQ(missing.open().status, FileStatus::Missing);

    writeFile(file, "");
    ReportScan empty(file, {2021, 3, 1}, {2021, 3, 31}, formats);
    ASSERT_TRUE(empty.open().ok());
    EXPECT_EQ(empty.recordCount(), 0u);
    EXPECT_EQ(empty.next(rows, 10), ReportScan::Step::Finished);
    EXPECT_EQ(rows.count(), 0);
}

TEST(ReportRows, PackedRowsSpanManyBlocks)
{
    // Rows of full 32-character fields fill a block after about 1270 rows.
    MeasurementRecord r;
    for (size_t k = 0; k < 32; ++k)
        r.fields[k] = std::string(32, char('A' + k % 26));
    const auto bytes = r.encode();
    ReportRows rows;
    for (int i = 0; i < 3000; ++i)
        rows.append(bytes.data(), std::to_string(i));
    ASSERT_EQ(rows.count(), 3000);
    for (int i : {0, 1270, 1271, 2999}) {
        EXPECT_EQ(rows.cell(i, 10), std::to_string(i));
        EXPECT_EQ(rows.cell(i, 24), std::string(32, 'Y'));
        EXPECT_EQ(rows.cell(i, 9), std::string(32, 'J'));
    }
    // A new report over the kept storage overwrites the old rows.
    const std::size_t held = rows.memoryBytes();
    rows.reuse();
    EXPECT_EQ(rows.count(), 0);
    r.fields[24] = "new";
    const auto other = r.encode();
    for (int i = 0; i < 2000; ++i)
        rows.append(other.data(), "d");
    EXPECT_EQ(rows.count(), 2000);
    EXPECT_EQ(rows.memoryBytes(), held);
    for (int i : {0, 1999}) {
        EXPECT_EQ(rows.cell(i, 10), "d");
        EXPECT_EQ(rows.cell(i, 24), "new");
        EXPECT_EQ(rows.cell(i, 23), std::string(32, 'X'));
    }
    rows.clear();
    EXPECT_EQ(rows.count(), 0);
    EXPECT_EQ(rows.cell(0, 0), "");
    EXPECT_LT(rows.memoryBytes(), held);
}

} // namespace
} // namespace palvero

#include "measurement_file.h"
#include "measurement_report.h"
#include "meter_table.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <tuple>

namespace palvero {
namespace {

using test::readFile;
using test::writeFile;

struct RecordingLog : ErrorLogger {
    std::vector<std::string> lines;
    void LogErrorCode(int code) override { lines.push_back("code " + std::to_string(code)); }
    void LogErrorText(const std::string& text) override { lines.push_back(text); }
};

// A table whose rows have a meter ID and a date (FixedFormats: day.month.year) and every
// other cell named after its column ("c5" in column 5).
MeterTable tableOf(const std::vector<std::pair<std::string, std::string>>& rows, int additional = 3)
{
    MeterTable t(additional);
    for (size_t i = 0; i < rows.size(); ++i) {
        const int r = i == 0 ? 1 : t.appendRow();
        for (int c = 0; c < t.columnCount(); ++c)
            t.setCell(r, c, "c" + std::to_string(c));
        t.setCell(r, col::No, std::to_string(r));
        t.setCell(r, col::MeterId, rows[i].first);
        t.setCell(r, col::Date, rows[i].second);
    }
    return t;
}

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
    std::vector<std::string> savedIds()
    {
        std::vector<std::string> ids;
        for (const auto& r : db.ReadAll())
            ids.push_back(r.fields[1]);
        return ids;
    }
};

TEST_F(MeasurementFileTest, SavedRowIsThirtyTwoFieldsOfLengthAndText)
{
    // 19 columns: fields 0..17 hold them without "Full telegram", fields 18..31 are empty.
    MeterTable t = tableOf({{"12345678", "06.03.2021"}});
    t.setCell(1, col::Notes, std::string(40, 'n'));
    ASSERT_TRUE(db.SaveMeasurements(t.grid()));

    const std::string bytes = readFile(file);
    ASSERT_EQ(bytes.size(), 1056u);
    const std::vector<std::string> expected = {"1",  "12345678", "c2", "c3", "c4", "c5", "c6", "c7", "c8", "c9",
                                               "2021-03-06", std::string(32, 'n'), "c13", "c14", "c15", "c16",
                                               "c17", "c18"};
    const MeasurementRecord back = db.ReadAll().at(0);
    for (size_t k = 0; k < 32; ++k) {
        const std::string text = k < expected.size() ? expected[k] : "";
        SCOPED_TRACE("field " + std::to_string(k));
        EXPECT_EQ(bytes.substr(k * 33, 33), char(text.size()) + text + std::string(32 - text.size(), '\0'));
        EXPECT_EQ(back.fields[k], text);
    }

    // A grid of 36 columns stores up to column 32.
    TextGrid wide(2, 36);
    for (int c = 0; c < 36; ++c)
        wide.setCell(1, c, "c" + std::to_string(c));
    wide.setCell(1, col::Date, "06.03.2021");
    ASSERT_TRUE(db.SaveMeasurements(wide));
    EXPECT_EQ(db.ReadAll().at(1).fields[31], "c32");
}

TEST_F(MeasurementFileTest, WhichRowsAreSaved)
{
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> rows;
        bool result;
        std::vector<std::string> ids;
        std::vector<std::string> log;
    } cases[] = {
        {"only row without a meter ID", {{"", "06.03.2021"}}, false, {}, {}},
        {"rows without a date or an ID are skipped",
         {{"11111111", "06.03.2021"}, {"22222222", ""}, {"", "06.03.2021"}, {"33333333", "07.03.2021"}},
         true,
         {"11111111", "33333333"},
         {}},
        {"a date that is no date is logged and the rows after it are still saved",
         {{"11111111", "06.03.2021"}, {"22222222", "31.02.2021"}, {"33333333", "07.03.2021"}},
         false,
         {"11111111", "33333333"},
         {"code 22", "Date \"31.02.2021\" of meter 22222222 is not a date"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(file, "");
        log.lines.clear();
        EXPECT_EQ(db.SaveMeasurements(tableOf(c.rows).grid()), c.result);
        EXPECT_EQ(savedIds(), c.ids);
        EXPECT_EQ(log.lines, c.log);
    }

    std::filesystem::remove(file);
    log.lines.clear();
    EXPECT_FALSE(db.SaveMeasurements(tableOf({{"11111111", "06.03.2021"}}).grid()));
    EXPECT_EQ(log.lines, std::vector<std::string>{"code 21"});
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(MeasurementFileTest, SaveAfterAnInterruptedOneGoesOnAfterTheLastWholeRecord)
{
    // Two whole records, then 500 bytes of a third: a save stopped in the middle of a record.
    const std::string whole = recordBytes("11111111", "2021-03-06") + recordBytes("22222222", "2021-03-06");
    writeFile(file, whole + recordBytes("99999999", "2021-03-06").substr(0, 500));
    EXPECT_EQ(db.ReadAll().size(), 2u);

    ASSERT_TRUE(db.SaveMeasurements(tableOf({{"33333333", "07.03.2021"}}).grid()));
    const std::string bytes = readFile(file);
    ASSERT_EQ(bytes.size(), 3 * 1056u);
    EXPECT_EQ(bytes.substr(0, whole.size()), whole);
    EXPECT_EQ(savedIds(), (std::vector<std::string>{"11111111", "22222222", "33333333"}));
}

TEST_F(MeasurementFileTest, AReadingAlreadyStoredLastForItsMeterIsNotStoredAgain)
{
    // Stored: meter A at 10:00 and then 11:00 on 6 March, meter B at 10:00.
    std::string before;
    for (const auto& [id, time] : {std::pair{"A", "10:00"}, {"B", "10:00"}, {"A", "11:00"}}) {
        MeasurementRecord r;
        r.fields = {{"", id, "", "", "", "", "", "", "", time, "2021-03-06"}};
        const auto bytes = r.encode();
        before.append(bytes.begin(), bytes.end());
    }
    const struct {
        std::vector<std::array<std::string, 3>> rows; // meter, date, time
        int saved, alreadyStored;
    } cases[] = {
        {{{"A", "06.03.2021", "11:00"}, {"B", "06.03.2021", "10:00"}}, 0, 2}, // the last of each
        {{{"A", "06.03.2021", "10:00"}}, 1, 0},                                 // not A's last
        {{{"B", "07.03.2021", "10:00"}, {"A", "06.03.2021", "11:01"}}, 2, 0},
        {{{"C", "06.03.2021", "9:00"}, {"C", "06.03.2021", "9:00"}}, 1, 1},     // twice in the table
    };
    for (const auto& c : cases) {
        writeFile(file, before);
        MeterTable t;
        for (std::size_t i = 0; i < c.rows.size(); ++i) {
            const int r = i == 0 ? 1 : t.appendRow();
            for (int k : {0, 1, 2})
                t.setCell(r, std::array{col::MeterId, col::Date, col::Time}[std::size_t(k)], c.rows[i][std::size_t(k)]);
        }
        const MeasurementSave first = db.saveReadings(t.grid());
        EXPECT_EQ(std::tuple(first.saved, first.alreadyStored, first.allSaved()), std::tuple(c.saved, c.alreadyStored, true));
        // Saved once more, say at exit, nothing is added.
        EXPECT_EQ(db.saveReadings(t.grid()).saved, 0);
        EXPECT_EQ(readFile(file).size(), before.size() + std::size_t(c.saved) * 1056);
    }
}

TEST_F(MeasurementFileTest, ASaveThatFailsTellsHowManyReadingsDidNotReachTheFile)
{
    MeterTable t = tableOf({{"11111111", "06.03.2021"}, {"22222222", "xx"}, {"33333333", "06.03.2021"},
                            {"44444444", "06.03.2021"}});
    MeasurementSave r;
    {
        const ScopedWriteFault full(ENOSPC, 1056 + 500); // one record and a half, which is cut off again
        r = db.saveReadings(t.grid());
    }
    EXPECT_EQ(std::tuple(r.status, r.cause, r.saved, r.notSaved, r.undated),
              std::tuple(FileStatus::IoError, WriteFailure::DiskFull, 1, 2, 1));
    EXPECT_EQ(savedIds(), std::vector<std::string>{"11111111"});
    EXPECT_EQ(log.lines.at(3), "Cannot write " + file.string() + ": No space left on device");
    // With room again the rest goes in, the reading stored the first time is not repeated.
    r = db.saveReadings(t.grid());
    EXPECT_EQ(std::tuple(r.saved, r.alreadyStored, r.notSaved), std::tuple(2, 1, 0));
    std::filesystem::remove(file);
    EXPECT_EQ(db.saveReadings(t.grid()).notSaved, 4);
}

TEST(StoredDate, FormatAndParse)
{
    const struct {
        DateTime date;
        const char* text;
    } formatted[] = {
        {{2021, 3, 6}, "2021-03-06"}, {{5, 1, 2}, "2005-01-02"}, {{98, 7, 9}, "2098-07-09"},
        {{99, 7, 9}, "0099-07-09"},   {{999, 10, 11}, "0999-10-11"},
    };
    for (const auto& c : formatted) {
        EXPECT_EQ(FormatStoredDate(c.date), c.text);
        EXPECT_EQ(ParseStoredDate(c.text).kind, StoredDate::Valid) << c.text;
    }

    const struct {
        const char* text;
        StoredDate::Kind kind;
    } parsed[] = {
        {"2020-02-29", StoredDate::Valid},      {"2021/03/06 and more", StoredDate::Valid},
        {"2021-00-05", StoredDate::None},       {"0000-01-05", StoredDate::None},
        {"2021-01-00", StoredDate::None},       {"2021-0x-05", StoredDate::None},
        {"2021-3-6", StoredDate::None},         {"2021-13-05", StoredDate::Impossible},
        {"2021-02-29", StoredDate::Impossible}, {"2021-04-31", StoredDate::Impossible},
    };
    for (const auto& c : parsed)
        EXPECT_EQ(ParseStoredDate(c.text).kind, c.kind) << c.text;
    EXPECT_EQ(ParseStoredDate("0999-10-11").date, (DateTime{999, 10, 11}));
}

// Reports over records dated 5, 6, (none), 6 and 7 March.
struct ReportScanTest : ::testing::Test {
    test::TempDir dir;
    FixedFormats formats;
    std::filesystem::path file = dir / "db.mrv";

    void SetUp() override
    {
        writeFile(file, recordBytes("05", "2021-03-05") + recordBytes("06a", "2021-03-06")
                            + recordBytes("none", "2021-00-06") + recordBytes("06b", "2021-03-06")
                            + recordBytes("07", "2021-03-07"));
    }

    std::vector<std::string> ids(DateTime from, DateTime to, std::size_t perRead, ReportRows& rows)
    {
        ReportScan scan(file, from, to, formats);
        EXPECT_TRUE(scan.open().ok());
        while (scan.next(rows, perRead) == ReportScan::Step::More) {
        }
        std::vector<std::string> out;
        for (int r = 0; r < rows.count(); ++r)
            out.emplace_back(rows.cell(r, 1));
        return out;
    }
};

TEST_F(ReportScanTest, RangesCoverWholeDaysWhateverTheSlices)
{
    using V = std::vector<std::string>;
    const struct {
        DateTime from, to;
        V ids;
    } cases[] = {
        {{2021, 3, 6}, {2021, 3, 6}, {"06a", "06b"}},
        {{2021, 3, 5}, {2021, 3, 7}, {"05", "06a", "06b", "07"}},
        {{2021, 3, 7}, {2021, 3, 5}, {}},
    };
    for (const auto& c : cases)
        for (std::size_t perRead : {1, 2, 100}) {
            ReportRows rows;
            EXPECT_EQ(ids(c.from, c.to, perRead, rows), c.ids) << c.from.day << ".." << c.to.day << " by " << perRead;
        }
}

TEST_F(ReportScanTest, AnImpossibleDateIsPassedOverAndTheReportGoesOn)
{
    std::string bytes = recordBytes("05", "2021-03-05");
    for (int i = 0; i < 12; ++i)
        bytes += recordBytes("bad", i ? "2021-02-30" : "2021-13-05");
    writeFile(file, bytes + recordBytes("06", "2021-03-06"));
    for (std::size_t perRead : {1, 5, 100}) {
        ReportRows rows;
        ReportScan scan(file, {2021, 1, 1}, {2021, 12, 31}, formats);
        ASSERT_TRUE(scan.open().ok());
        ReportScan::Step step;
        while ((step = scan.next(rows, perRead)) == ReportScan::Step::More) {
        }
        EXPECT_EQ(std::tuple(step, rows.count(), rows.cell(1, 1), scan.skippedCount(), scan.skipped().size()),
                  std::tuple(ReportScan::Step::Finished, 2, "06", 12u, 10u));
        EXPECT_EQ(scan.skipped().at(0), "Invalid date \"2021-13-05\" in record 2 of " + file.string());
    }
}

TEST_F(ReportScanTest, RowsHoldTheStoredFieldsAndTheShortDate)
{
    MeterTable t = tableOf({{"12345678", "06.03.2021"}});
    t.setCell(1, col::EncryptionKey, std::string(32, 'K'));
    writeFile(file, "");
    RecordingLog log;
    ASSERT_TRUE(MeasurementFile(dir.path(), log, formats).SaveMeasurements(t.grid()));
    // A cut record at the end is no record.
    writeFile(file, readFile(file) + recordBytes("cut", "2021-03-06").substr(0, 700));

    ReportRows rows;
    ASSERT_EQ(ids({2021, 3, 6}, {2021, 3, 6}, 100, rows), std::vector<std::string>{"12345678"});
    const std::vector<std::string> expected = {"1",   "12345678", "c2",  "c3",  "c4", "c5", "c6",
                                               "c7",  "c8",       "c9",  "06.03.2021", "c11", "c13",
                                               std::string(32, 'K'), "c15", "c16", "c17", "c18"};
    for (int c = 0; c < ReportRows::kColumns; ++c)
        EXPECT_EQ(rows.cell(0, c), c < 18 ? expected[size_t(c)] : "") << "column " << c;
}

TEST(ReportRows, PackedRowsSpanBlocksAndAreReused)
{
    // Full 32-character fields, and length bytes that claim more than a field holds.
    MeasurementRecord r;
    for (size_t k = 0; k < 32; ++k)
        r.fields[k] = std::string(32, char('A' + k % 26));
    auto bytes = r.encode();
    bytes[9 * 33] = 200;
    ReportRows rows;
    for (int i = 0; i < 3000; ++i)
        rows.append(bytes.data(), std::to_string(i));
    for (int i : {0, 1271, 2999}) {
        EXPECT_EQ(rows.cell(i, 10), std::to_string(i));
        EXPECT_EQ(rows.cell(i, 9), std::string(32, 'J'));
        EXPECT_EQ(rows.cell(i, 24), std::string(32, 'Y'));
    }

    // The next report writes over the kept storage.
    const std::size_t held = rows.memoryBytes();
    rows.reuse();
    r.fields[24] = "new";
    const auto other = r.encode();
    for (int i = 0; i < 2000; ++i)
        rows.append(other.data(), "d");
    EXPECT_EQ(rows.count(), 2000);
    EXPECT_EQ(rows.memoryBytes(), held);
    EXPECT_EQ(rows.cell(1999, 24), "new");
    EXPECT_EQ(rows.cell(1999, 23), std::string(32, 'X'));
    rows.clear();
    EXPECT_EQ(rows.count(), 0);
    EXPECT_LT(rows.memoryBytes(), held);
}

} // namespace
} // namespace palvero

#include "scripted_operator.h"
#include "table_ops.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace palvero {
namespace {

struct RecordingLog : ErrorLogger {
    std::vector<std::string> lines;
    void LogErrorCode(int code) override { lines.push_back("code " + std::to_string(code)); }
    void LogErrorText(const std::string& text) override { lines.push_back(text); }
};

// A table whose rows hold the given meter IDs, media and manufacturers, numbered.
MeterTable tableOf(const std::vector<std::array<const char*, 3>>& rows)
{
    MeterTable t;
    for (size_t i = 0; i < rows.size(); ++i) {
        int r = i == 0 ? 1 : t.appendRow();
        t.setCell(r, col::No, std::to_string(r));
        t.setCell(r, col::MeterId, rows[i][0]);
        t.setCell(r, col::Medium, rows[i][1]);
        t.setCell(r, col::Mfr, rows[i][2]);
    }
    return t;
}

std::vector<std::string> column(const MeterTable& t, int c)
{
    std::vector<std::string> out;
    for (int r = 1; r < t.rowCount(); ++r)
        out.push_back(t.cell(r, c));
    return out;
}

TEST(ExportGridCsv, WritesDataRowsWithASeparatorAfterEveryCell)
{
    test::TempDir dir;
    MeterTable t = tableOf({{"11111111", "Water", "KAM"}, {"22222222", "Gas", "ELS"}});
    test::ScriptedOperator op;
    RecordingLog log;
    op.fileAnswers.push_back(std::string("meters.csv"));
    ASSERT_TRUE(ExportGridCsv(t.grid(), "meters.csv", ";", dir.path(), op, log));
    const std::string expected = "1;11111111;KAM;;;Water;;;;;;;;;;;\r\n2;22222222;ELS;;;Gas;;;;;;;;;;;\r\n";
    EXPECT_EQ(test::readFile(dir / "meters.csv"), expected);
    ASSERT_EQ(op.dialogs.size(), 1u);
    EXPECT_EQ(op.dialogs[0].title, "Export table to CSV");
    EXPECT_EQ(op.dialogs[0].filter, "CSV|*.csv|TXT|*.txt");
    EXPECT_EQ(op.dialogs[0].fileName, "meters.csv");
    EXPECT_TRUE(log.lines.empty());

    // A two-character separator is written whole.
    op.fileAnswers.push_back((dir / "two.csv").string());
    ASSERT_TRUE(ExportGridCsv(t.grid(), "meters.csv", "::", dir.path(), op, log));
    EXPECT_EQ(test::readFile(dir / "two.csv").substr(0, 14), "1::11111111::K");
}

TEST(ExportGridCsv, CancelWritesNothingAndAFailedWriteIsShownAndLogged)
{
    test::TempDir dir;
    MeterTable t;
    test::ScriptedOperator op;
    RecordingLog log;
    EXPECT_FALSE(ExportGridCsv(t.grid(), "meters.csv", ";", dir.path(), op, log));
    EXPECT_TRUE(op.messages.empty());

    op.fileAnswers.push_back((dir / "no-such-folder" / "meters.csv").string());
    EXPECT_FALSE(ExportGridCsv(t.grid(), "meters.csv", ";", dir.path(), op, log));
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].caption, "Error saving file");
    EXPECT_EQ(op.messages[0].text, "File cannot be written, no rights!\nContact administrator.");
    EXPECT_EQ(op.messages[0].icon, MessageIcon::Error);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "code 10");
}

TEST(ExportGridCsv, AnExportThatFailsHalfWayLeavesTheEarlierFileAndNamesTheCause)
{
    const std::pair<int, const char*> cases[] = {
        {ENOSPC, "File cannot be written, the disk is full!\nAny earlier file of that name is unchanged."},
        {EACCES, "File cannot be written, no rights!\nContact administrator."},
    };
    MeterTable t = tableOf({{"11111111", "Water", "KAM"}, {"22222222", "Gas", "ELS"}});
    for (const auto& [error, text] : cases) {
        test::TempDir dir;
        test::writeFile(dir / "meters.csv", "the export of yesterday");
        test::ScriptedOperator op;
        RecordingLog log;
        op.fileAnswers.push_back(std::string("meters.csv"));
        {
            const ScopedWriteFault fault(error, 40); // the first line goes through, the second does not
            EXPECT_FALSE(ExportGridCsv(t.grid(), "meters.csv", ";", dir.path(), op, log));
        }
        EXPECT_EQ(test::readFile(dir / "meters.csv"), "the export of yesterday");
        EXPECT_EQ(op.messages.at(0).text, text);
        EXPECT_EQ(log.lines.at(1), "Cannot write " + (dir / "meters.csv").string() + ": " + std::strerror(error));
    }
}

TEST(RemoveTableRow, OnlyRowIsEmptiedWithItsFlags)
{
    MeterTable t = tableOf({{"11111111", "Water", "KAM"}});
    t.setFlag(RowFlag::LowBattery, 1, true);
    t.setFlag(RowFlag::MrvDone, 1, true);
    EXPECT_EQ(RemoveTableRow(t, 1), "11111111");
    EXPECT_EQ(t.rowCount(), 2);
    EXPECT_EQ(t.grid().row(1), std::vector<std::string>(16));
    EXPECT_FALSE(t.flag(RowFlag::LowBattery, 1));
    EXPECT_FALSE(t.flag(RowFlag::MrvDone, 1));
}

TEST(RemoveTableRow, LaterRowsMoveUpWithTheirFlagsAndAreRenumbered)
{
    MeterTable t = tableOf({{"1", "", ""}, {"2", "", ""}, {"3", "", ""}, {"4", "", ""}, {"5", "", ""}});
    t.setFlag(RowFlag::Decrypted, 3, true);
    t.setFlag(RowFlag::Repeated, 5, true);
    t.lastReadRow = 4;
    EXPECT_EQ(RemoveTableRow(t, 2), "2");
    EXPECT_EQ(column(t, col::MeterId), (std::vector<std::string>{"1", "3", "4", "5"}));
    EXPECT_EQ(column(t, col::No), (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_TRUE(t.flag(RowFlag::Decrypted, 2));
    EXPECT_TRUE(t.flag(RowFlag::Repeated, 4));
    EXPECT_FALSE(t.flag(RowFlag::Repeated, 5));
    EXPECT_EQ(t.lastReadRow, 3) << "the highlight stays on the meter read last";
    EXPECT_EQ(t.findMeterRow("5"), 4);
}

TEST(Reorder, SortByMeterIdRenumbers)
{
    MeterTable t = tableOf({{"30", "", ""}, {"10", "", ""}, {"", "", ""}, {"20", "", ""}});
    RecordingLog log;
    SortByMeterId(t, log);
    EXPECT_EQ(column(t, col::MeterId), (std::vector<std::string>{"10", "20", "30", ""}));
    EXPECT_EQ(column(t, col::No), (std::vector<std::string>{"1", "2", "3", "4"}));
    EXPECT_EQ(t.findMeterRow("30"), 3);
    EXPECT_TRUE(log.lines.empty());
}

// A low-battery colour must stay on the meter that reported it, whatever the order.
TEST(Reorder, FlagsAndTheLastReadMarkMoveWithTheirRows)
{
    using Reorder = void (*)(MeterTable&, ErrorLogger&);
    const std::pair<const char*, Reorder> orders[] = {
        {"by meter ID", SortByMeterId}, {"by medium", GroupByMedium}, {"by manufacturer", GroupByManufacturer}};
    for (const auto& [name, order] : orders) {
        MeterTable t = tableOf({{"30", "Gas", "ZZZ"}, {"10", "Water", "AAA"}, {"20", "Heat", "ZZZ"}});
        t.setFlag(RowFlag::LowBattery, 1, true);
        t.setFlag(RowFlag::Repeated, 1, true);
        t.setFlag(RowFlag::Decrypted, 2, true);
        t.setFlag(RowFlag::MrvDone, 3, true);
        t.lastReadRow = 3;
        RecordingLog log;
        order(t, log);
        const int r30 = t.findMeterRow("30"), r10 = t.findMeterRow("10"), r20 = t.findMeterRow("20");
        EXPECT_EQ(t.rowFlags(r30), (1 << int(RowFlag::LowBattery)) | (1 << int(RowFlag::Repeated))) << name;
        EXPECT_EQ(t.rowFlags(r10), 1 << int(RowFlag::Decrypted)) << name;
        EXPECT_EQ(t.rowFlags(r20), 1 << int(RowFlag::MrvDone)) << name;
        EXPECT_EQ(t.lastReadRow, r20) << name;
        EXPECT_EQ(t.mediumCounters().Repeated, 0u) << name << ": counted only after a telegram";
    }
}

TEST(Reorder, EqualMeterIdsTakeTheOrderOfTheSelection)
{
    // The last row holds the smallest ID: it goes before the earlier row with the same ID.
    MeterTable t = tableOf({{"B", "", "first"}, {"A", "", "second"}, {"A", "", "third"}});
    RecordingLog log;
    SortByMeterId(t, log);
    EXPECT_EQ(column(t, col::Mfr), (std::vector<std::string>{"third", "second", "first"}));
    // Otherwise the topmost row with the smallest ID goes first.
    MeterTable u = tableOf({{"A", "", "first"}, {"A", "", "second"}, {"C", "", "third"}});
    SortByMeterId(u, log);
    EXPECT_EQ(column(u, col::Mfr), (std::vector<std::string>{"first", "second", "third"}));
}

TEST(Reorder, GroupByMediumInTheFixedOrderWithOthersLast)
{
    MeterTable t = tableOf({{"1", "Gas", ""}, {"2", "Water", ""}, {"3", "Steam", ""}, {"4", "Heat", ""},
        {"5", "Water", ""}, {"6", "", ""}, {"7", "Other", ""}});
    RecordingLog log;
    GroupByMedium(t, log);
    EXPECT_EQ(column(t, col::MeterId), (std::vector<std::string>{"2", "5", "4", "1", "7", "6", "3"}));
}

TEST(Reorder, GroupByManufacturerInOrderOfFirstAppearance)
{
    MeterTable t = tableOf({{"1", "", "KAM"}, {"2", "", "ELS"}, {"3", "", "KAM"}, {"4", "", ""}, {"5", "", "ELS"}});
    RecordingLog log;
    GroupByManufacturer(t, log);
    EXPECT_EQ(column(t, col::MeterId), (std::vector<std::string>{"1", "3", "2", "5", "4"}));
    EXPECT_EQ(t.dataRowCount(), 5);
}

} // namespace
} // namespace palvero

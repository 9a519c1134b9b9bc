// Undo of table commands: what a command removed or changed comes back by meter ID, and
// what telegrams brought after the command stays.

#include "undo_stack.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace palvero;

namespace {

constexpr uint8_t kLowBattery = 1 << static_cast<int>(RowFlag::LowBattery);
constexpr uint8_t kDecrypted = 1 << static_cast<int>(RowFlag::Decrypted);

// A telegram as the pipeline applies it: find or append the row, fill it, raise rowUpdated.
void hear(MeterTable& t, const std::string& id, const std::string& value, uint8_t flags = kDecrypted)
{
    int row = t.findMeterRow(id);
    if (row == 0)
        row = t.isFresh() ? 1 : t.appendRow();
    t.setCell(row, col::No, std::to_string(row));
    t.setCell(row, col::MeterId, id);
    t.setCell(row, col::MainValue, value);
    t.setRowFlags(row, flags);
    t.lastReadRow = row;
    t.notifyRowUpdated(row);
}

// "ID=value/flags" per row, in table order.
std::vector<std::string> rows(const MeterTable& t)
{
    std::vector<std::string> out;
    for (int r = 1; r < t.rowCount(); ++r) {
        if (t.cell(r, col::MeterId).empty())
            continue;
        out.push_back(t.cell(r, col::No) + ":" + t.cell(r, col::MeterId) + "=" + t.cell(r, col::MainValue) + "/"
                      + std::to_string(t.rowFlags(r)));
    }
    return out;
}

struct UndoTest : ::testing::Test {
    void SetUp() override
    {
        hear(table, "10000001", "1", kDecrypted | kLowBattery);
        hear(table, "20000002", "2");
        hear(table, "30000003", "3");
        table.setCell(2, col::FreeText, "gate B");
        table.setCell(2, col::EncryptionKey, "000102030405060708090A0B0C0D0E0F");
        before = rows(table);
    }
    void clearTable()
    {
        undo.record("Clear table");
        table.clearData();
        table.clearFlag(RowFlag::LowBattery);
        table.clearFlag(RowFlag::Decrypted);
        undo.commit();
    }

    MeterTable table;
    UndoStack undo{table};
    std::vector<std::string> before;
};

TEST_F(UndoTest, ClearingComesBackWithCellsFlagsOrderAndLastRead)
{
    clearTable();
    EXPECT_TRUE(rows(table).empty());
    ASSERT_EQ(undo.nextCaption(), "Clear table");
    ASSERT_TRUE(undo.undo());
    EXPECT_EQ(rows(table), before);
    EXPECT_EQ(table.cell(2, col::FreeText), "gate B");
    EXPECT_EQ(table.lastReadRow, 3);
    EXPECT_FALSE(undo.canUndo());
    EXPECT_FALSE(undo.undo());
}

TEST_F(UndoTest, TelegramsAfterTheCommandStay)
{
    clearTable();
    hear(table, "20000002", "22", kDecrypted);
    hear(table, "40000004", "4", kDecrypted);
    ASSERT_TRUE(undo.undo());
    // Meter 2 keeps its newer reading in its old place, with the operator's text and key
    // back; meter 4, heard only after the clear, stays too.
    EXPECT_EQ(rows(table), (std::vector<std::string>{"1:10000001=1/3", "2:20000002=22/2", "3:30000003=3/2",
                                                     "4:40000004=4/2"}));
    EXPECT_EQ(table.cell(2, col::FreeText), "gate B");
    EXPECT_EQ(table.cell(2, col::EncryptionKey), "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(table.lastReadRow, 4);
}

TEST_F(UndoTest, ChangedCellsGoBackOnlyWhereTheCommandLeftThem)
{
    table.setCell(1, col::EncryptionKey, "AAAA");
    undo.record("Clear AES-128 keys");
    for (int r = 1; r < table.rowCount(); ++r)
        table.setCell(r, col::EncryptionKey, "");
    undo.commit();
    table.setCell(1, col::EncryptionKey, "BBBB"); // entered again after the command
    hear(table, "20000002", "5");
    ASSERT_TRUE(undo.undo());
    EXPECT_EQ(table.cell(1, col::EncryptionKey), "BBBB");
    EXPECT_EQ(table.cell(2, col::EncryptionKey), "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(table.cell(2, col::MainValue), "5");
}

TEST_F(UndoTest, RemovedRowReturnsToItsPlaceWithItsFlags)
{
    undo.record("Remove selected row");
    table.removeRow(1);
    for (int r = 1; r < table.rowCount(); ++r)
        table.setCell(r, col::No, std::to_string(r));
    undo.commit();
    ASSERT_EQ(rows(table).size(), 2u);
    ASSERT_TRUE(undo.undo());
    EXPECT_EQ(rows(table), before);
}

TEST_F(UndoTest, ReorderingIsTakenBack)
{
    undo.record("Sort by meter ID");
    TextGrid reversed(4, table.columnCount());
    std::vector<uint8_t> flags;
    for (int r = 1; r <= 3; ++r) {
        for (int c = 0; c < table.columnCount(); ++c)
            reversed.setCell(r, c, table.cell(4 - r, c));
        reversed.setCell(r, col::No, std::to_string(r));
        flags.push_back(table.rowFlags(4 - r));
    }
    table.replaceData(reversed);
    for (int r = 1; r <= 3; ++r)
        table.setRowFlags(r, flags[size_t(r) - 1]);
    undo.commit();
    ASSERT_TRUE(undo.undo());
    EXPECT_EQ(rows(table), before);
}

TEST_F(UndoTest, ImportedRowsLeaveUnlessReadSince)
{
    undo.record("Import from CSV");
    TextGrid imported(3, table.columnCount());
    imported.setCell(1, col::No, "1");
    imported.setCell(1, col::MeterId, "50000005");
    imported.setCell(2, col::No, "2");
    imported.setCell(2, col::MeterId, "60000006");
    table.replaceData(imported);
    table.notifyTableRebuilt();
    hear(table, "60000006", "6");
    ASSERT_TRUE(undo.undo());
    std::vector<std::string> expected = before;
    expected.push_back("4:60000006=6/2");
    EXPECT_EQ(rows(table), expected);
}

TEST_F(UndoTest, TelegramBeforeTheCommitIsAReadingNotPartOfTheCommand)
{
    undo.record("Clear AES-128 keys");
    table.setCell(2, col::EncryptionKey, "");
    hear(table, "30000003", "33"); // arrives before anything committed the command
    ASSERT_TRUE(undo.undo());
    EXPECT_EQ(table.cell(2, col::EncryptionKey), "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(table.cell(3, col::MainValue), "33");
}

TEST_F(UndoTest, TelegramWhileTheCommandWaitsBelongsToTheTableBefore)
{
    undo.record("Import from CSV"); // the file dialog is open, the reading goes on
    hear(table, "40000004", "4");
    EXPECT_TRUE(undo.canUndo());
    TextGrid imported(2, table.columnCount());
    imported.setCell(1, col::No, "1");
    imported.setCell(1, col::MeterId, "50000005");
    table.replaceData(imported);
    undo.commit();
    ASSERT_TRUE(undo.undo());
    std::vector<std::string> expected = before;
    expected.push_back("4:40000004=4/2");
    EXPECT_EQ(rows(table), expected);
}

TEST_F(UndoTest, KeepsTheLastStepsAndSkipsCommandsThatChangedNothing)
{
    undo.record("Nothing");
    undo.commit();
    EXPECT_FALSE(undo.canUndo());

    for (int i = 0; i < 25; ++i) {
        undo.record("Step " + std::to_string(i));
        table.setCell(1, col::FreeText, "text " + std::to_string(i));
        undo.commit();
    }
    EXPECT_EQ(undo.size(), UndoStack::kDefaultDepth);
    EXPECT_GE(UndoStack::kDefaultDepth, 10u);
    for (int i = 24; i >= 5; --i) {
        auto done = undo.undo();
        ASSERT_TRUE(done);
        EXPECT_EQ(done->caption, "Step " + std::to_string(i));
    }
    EXPECT_EQ(table.cell(1, col::FreeText), "text 4");
    EXPECT_FALSE(undo.undo());
}

TEST_F(UndoTest, ViewStateTravelsWithTheEntry)
{
    undo.record("Clear table", std::any(std::string("tree")));
    table.clearData();
    undo.commit();
    auto done = undo.undo();
    ASSERT_TRUE(done);
    EXPECT_EQ(std::any_cast<std::string>(done->viewState), "tree");
}

} // namespace

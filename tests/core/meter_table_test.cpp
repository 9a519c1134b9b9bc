#include "meter_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace palvero {
namespace {

struct RecordingListener : MeterTableListener {
    std::vector<std::string> events;
    void rowUpdated(int row) override { events.push_back("updated " + std::to_string(row)); }
    void statusText(int panel, const std::string& text) override
    {
        events.push_back("status " + std::to_string(panel) + " " + text);
    }
    void tableRebuilt() override { events.push_back("rebuilt"); }
    void appearanceChanged() override { events.push_back("appearance"); }
};

TEST(MeterTable, NewTableHasTitlesAndOneEmptyDataRow)
{
    MeterTable t;
    ASSERT_EQ(t.columnCount(), 16);
    ASSERT_EQ(t.rowCount(), 2);
    const std::vector<std::string> expected = {"No. ", "Meter ID ", "MFR ", "Auxiliary ID ", "Control fields ",
        "Medium ", "Main value ", "Units ", "RSSI, dBm ", "Time ", "Date ", "Notes ", "Full telegram ",
        "Firmware version ", "Encryption key ", "Free text/description "};
    for (int c = 0; c < 16; ++c) {
        EXPECT_EQ(t.cell(0, c), expected[static_cast<size_t>(c)]);
        EXPECT_EQ(t.cell(1, c), "");
    }
    EXPECT_TRUE(t.isFresh());
    EXPECT_EQ(t.lastReadRow, 0);
    EXPECT_EQ(t.selectedRow, 1);
}

TEST(MeterTable, AdditionalValueColumnsHaveNoTitles)
{
    MeterTable t(3);
    ASSERT_EQ(t.columnCount(), 19);
    for (int c = 16; c < 19; ++c)
        EXPECT_EQ(t.cell(0, c), "");
    t.setCell(1, 18, "x");
    EXPECT_EQ(t.cell(1, 18), "x");
    t.setCell(1, 19, "outside");
    EXPECT_EQ(t.cell(1, 19), "");
}

TEST(MeterTable, CountIsBoundedTo16AdditionalColumns)
{
    EXPECT_EQ(MeterTable(40).columnCount(), 32);
    EXPECT_EQ(MeterTable(-2).columnCount(), 16);
}

TEST(MeterTable, FindsLastRowWithTheMeterIdAndFollowsEdits)
{
    MeterTable t;
    t.setCell(1, col::MeterId, "11111111");
    int r2 = t.appendRow();
    t.setCell(r2, col::MeterId, "22222222");
    int r3 = t.appendRow();
    t.setCell(r3, col::MeterId, "11111111");
    EXPECT_EQ(t.findMeterRow("11111111"), 3);
    EXPECT_EQ(t.findMeterRow("22222222"), 2);
    EXPECT_EQ(t.findMeterRow("33333333"), 0);
    EXPECT_EQ(t.findMeterRow(""), 0);

    t.setCell(3, col::MeterId, "33333333");
    EXPECT_EQ(t.findMeterRow("11111111"), 1);
    EXPECT_EQ(t.findMeterRow("33333333"), 3);

    t.removeRow(1);
    EXPECT_EQ(t.findMeterRow("11111111"), 0);
    EXPECT_EQ(t.findMeterRow("22222222"), 1);
    EXPECT_EQ(t.findMeterRow("33333333"), 2);

    t.clearData();
    EXPECT_EQ(t.rowCount(), 2);
    EXPECT_EQ(t.findMeterRow("22222222"), 0);
}

TEST(MeterTable, MatchIsCaseSensitive)
{
    MeterTable t;
    t.setCell(1, col::MeterId, "0000ABCD");
    EXPECT_EQ(t.findMeterRow("0000abcd"), 0);
}

TEST(MeterTable, RemovingTheOnlyRowEmptiesIt)
{
    MeterTable t;
    t.setCell(1, col::No, "1");
    t.setCell(1, col::MeterId, "12345678");
    t.removeRow(1);
    EXPECT_EQ(t.rowCount(), 2);
    EXPECT_TRUE(t.isFresh());
    EXPECT_EQ(t.findMeterRow("12345678"), 0);
}

TEST(MeterTable, FlagsMoveWithRemovedRowsAndSurviveClearing)
{
    MeterTable t;
    t.appendRow();
    t.appendRow(); // rows 1..3
    t.setFlag(RowFlag::LowBattery, 2, true);
    t.setFlag(RowFlag::Decrypted, 3, true);
    t.removeRow(1);
    EXPECT_TRUE(t.flag(RowFlag::LowBattery, 1));
    EXPECT_TRUE(t.flag(RowFlag::Decrypted, 2));
    EXPECT_FALSE(t.flag(RowFlag::Decrypted, 3));

    t.clearData();
    EXPECT_TRUE(t.flag(RowFlag::LowBattery, 1)) << "clearing the rows keeps the flags";
    t.clearFlag(RowFlag::LowBattery);
    EXPECT_FALSE(t.flag(RowFlag::LowBattery, 1));
}

TEST(MeterTable, FlagsGrowBeyondFiveHundredRows)
{
    MeterTable t;
    for (int i = 0; i < 700; ++i)
        t.appendRow();
    t.setFlag(RowFlag::Repeated, 650, true);
    EXPECT_TRUE(t.flag(RowFlag::Repeated, 650));
    EXPECT_FALSE(t.flag(RowFlag::Repeated, 649));
    EXPECT_FALSE(t.flag(RowFlag::Repeated, 100000));
}

MediumCounters fullRecount(const MeterTable& t)
{
    MediumCounters c;
    for (int r = 1; r < t.rowCount(); ++r) {
        const std::string& m = t.cell(r, col::Medium);
        if (m == "Electricity")
            ++c.Electricity;
        else if (m == "Gas")
            ++c.Gas;
        else if (m == "Heat")
            ++c.Heat;
        else if (m == "Heat/Cool")
            ++c.HeatCool;
        else if (m == "Hot water")
            ++c.HotWater;
        else if (m == "Cold water")
            ++c.ColdWater;
        else if (m == "Water")
            ++c.Water;
        else if (m == "H.C.A")
            ++c.HCA;
        else if (!m.empty())
            ++c.Other;
        if (t.flag(RowFlag::Repeated, r))
            ++c.Repeated;
    }
    return c;
}

TEST(MeterTable, CountersMatchAFullRecountAfterEveryKindOfChange)
{
    MeterTable t;
    const std::vector<std::string> media = {"Water", "Oil", "", "Heat", "Gas", "Water", "Cold water", "H.C.A",
        "Heat/Cool", "Hot water", "Electricity", "water"};
    for (size_t i = 0; i < media.size(); ++i) {
        int r = i == 0 ? 1 : t.appendRow();
        t.setCell(r, col::Medium, media[i]);
        t.setFlag(RowFlag::Repeated, r, i % 3 == 0);
        t.recountMediumCounters();
        ASSERT_EQ(t.mediumCounters(), fullRecount(t)) << "after row " << r;
    }
    EXPECT_EQ(t.mediumCounters().Water, 2u);
    EXPECT_EQ(t.mediumCounters().Other, 2u) << "Oil and lower-case water count as Other, empty nowhere";

    t.setCell(4, col::Medium, "Gas");
    t.removeRow(2);
    t.setFlag(RowFlag::Repeated, 5, true);
    t.recountMediumCounters();
    EXPECT_EQ(t.mediumCounters(), fullRecount(t));

    t.clearData();
    EXPECT_NE(t.mediumCounters(), fullRecount(t)) << "counters show the last recount until the next telegram";
    t.recountMediumCounters();
    EXPECT_EQ(t.mediumCounters(), fullRecount(t));
}

TEST(MeterTable, NotificationsReachEveryListenerInOrder)
{
    MeterTable t;
    RecordingListener a, b;
    t.addListener(&a);
    t.addListener(&b);
    t.notifyRowUpdated(1);
    t.notifyStatusText(0, "Last read device: 12345678");
    t.notifyTableRebuilt();
    t.setAppearance(2, 10, true);
    const std::vector<std::string> expected = {
        "updated 1", "status 0 Last read device: 12345678", "rebuilt", "appearance"};
    EXPECT_EQ(a.events, expected);
    EXPECT_EQ(b.events, expected);
    EXPECT_EQ(t.columnCount(), 18);
    EXPECT_EQ(t.appearance().rowHeight(), 22);
    EXPECT_TRUE(t.appearance().bold);

    t.removeListener(&a);
    t.notifyTableRebuilt();
    EXPECT_EQ(a.events.size(), 4u);
    EXPECT_EQ(b.events.size(), 5u);
}

} // namespace
} // namespace palvero

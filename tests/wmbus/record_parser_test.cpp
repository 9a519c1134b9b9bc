#include "device_types.h"
#include "reading_settings.h"
#include "record_parser.h"
#include "telegram_data.h"
#include "temp_dir.h"
#include "transport_layer.h"

#include <gtest/gtest.h>

namespace palvero {
namespace {

using test::fromHex;

// A frame from a water meter (type 0x07) with the given CI and the bytes after it, an
// RSSI byte and the stop byte.
ReceiverFrame frameWith(const std::string& ciAndAfter, const std::string& link = "44 2D 2C 78 56 34 12 01 07")
{
    auto telegram = fromHex("00 " + link + " " + ciAndAfter);
    return test::receiverFrame(telegram);
}

struct Decoded {
    DecodedRecords records;
    explicit Decoded(const ReceiverFrame& f, const ReadingSettings& s = {}) { decodeTelegram(f, s, '.', records); }
    std::string cell(int r, int c) const { return records.cell(r, c); }
};

TEST(RecordParser, FillBytesAreSkippedAndTheRecordFillsSevenColumns)
{
    Decoded d(frameWith("7A 01 00 00 00 2F 2F 04 13 E8 03 00 00"));
    ASSERT_EQ(d.records.recordCount(), 1);
    EXPECT_EQ(d.records.rowCount(), 2);
    const std::vector<std::string> expected = {"1", "1.000", "m3", "", "04 ", "13", ""};
    for (int c = 0; c < 7; ++c)
        EXPECT_EQ(d.cell(0, c), expected[static_cast<size_t>(c)]) << "column " << c;
    for (int c = 0; c < 7; ++c)
        EXPECT_EQ(d.cell(1, c), "");
}

TEST(RecordParser, DifeAndVifeBytesAreListedButNotInterpreted)
{
    Decoded d(frameWith("7A 01 00 00 00 84 10 13 E8 03 00 00 04 93 3B 02 00 00 00"));
    ASSERT_EQ(d.records.recordCount(), 2);
    EXPECT_EQ(d.cell(0, DecodedRecords::DifBytes), "84 10 ");
    EXPECT_EQ(d.cell(0, DecodedRecords::Value), "1.000");
    EXPECT_EQ(d.cell(1, DecodedRecords::Vif), "93");
    EXPECT_EQ(d.cell(1, DecodedRecords::VifeBytes), "3B ");
    EXPECT_EQ(d.cell(1, DecodedRecords::Unit), "m3");
    EXPECT_EQ(d.cell(1, DecodedRecords::Number), "2");
}

TEST(RecordParser, ManufacturerBlockEndsTheWalk)
{
    for (const char* dif : {"0F", "1F", "FF"}) {
        Decoded d(frameWith(std::string("7A 01 00 00 00 02 5A E8 03 ") + dif + " AA BB CC"));
        ASSERT_EQ(d.records.recordCount(), 2) << dif;
        EXPECT_EQ(d.cell(1, DecodedRecords::Number), "2");
        EXPECT_EQ(d.cell(1, DecodedRecords::Value), "AA BB CC ");
        EXPECT_EQ(d.cell(1, DecodedRecords::Description), "Manf. secific");
        EXPECT_EQ(d.cell(1, DecodedRecords::Unit), "");
        EXPECT_EQ(d.cell(1, DecodedRecords::DifBytes), "");
    }
}

TEST(RecordParser, ChainsReachingTheDataEndGiveNoRow)
{
    // The VIF would be the RSSI byte: no row.
    EXPECT_EQ(Decoded(frameWith("7A 01 00 00 00 02 5A E8 03 84")).records.recordCount(), 1);
    // DIF with extension bit as last data byte.
    EXPECT_EQ(Decoded(frameWith("7A 01 00 00 00 84 90")).records.recordCount(), 0);
    // VIF with extension bit as last data byte.
    EXPECT_EQ(Decoded(frameWith("7A 01 00 00 00 04 93")).records.recordCount(), 0);
}

TEST(RecordParser, DataFieldPastTheFrameGivesAnExceptionRowAndEndsTheWalk)
{
    // A 6-byte field with only two data bytes before the RSSI and stop bytes.
    Decoded d(frameWith("7A 01 00 00 00 06 13 01 02"));
    ASSERT_EQ(d.records.recordCount(), 1);
    EXPECT_EQ(d.cell(0, DecodedRecords::Value), "Exception ");
    // A field reaching into the RSSI and stop bytes has run out of telegram data.
    Decoded inside(frameWith("7A 01 00 00 00 04 13 01 02"));
    ASSERT_EQ(inside.records.recordCount(), 1);
    EXPECT_EQ(inside.cell(0, DecodedRecords::Value), "Exception ");
}

TEST(RecordParser, PlainTextUnits)
{
    Decoded d(frameWith("7A 01 00 00 00 04 7C 02 6D 33 0A 00 00 00 02 7C 00 05 00"));
    ASSERT_EQ(d.records.recordCount(), 2);
    EXPECT_EQ(d.cell(0, DecodedRecords::Unit), "m3");
    EXPECT_EQ(d.cell(0, DecodedRecords::Description), "text");
    EXPECT_EQ(d.cell(0, DecodedRecords::Value), "10.000");
    EXPECT_EQ(d.cell(0, DecodedRecords::VifeBytes), "02 6D 33 ");
    // A length byte of 0 is skipped too.
    EXPECT_EQ(d.cell(1, DecodedRecords::Unit), "Not supported");
    EXPECT_EQ(d.cell(1, DecodedRecords::Value), "5.000");
    // 0xFC: VIFE chain first, then the length byte and the characters.
    Decoded fc(frameWith("7A 01 00 00 00 02 FC 0E 01 41 07 00"));
    ASSERT_EQ(fc.records.recordCount(), 1);
    EXPECT_EQ(fc.cell(0, DecodedRecords::Unit), "VIF is user ASCII string: A");
    EXPECT_EQ(fc.cell(0, DecodedRecords::VifeBytes), "0E 01 41 ");
    EXPECT_EQ(fc.cell(0, DecodedRecords::Value), "7.000");
}

TEST(RecordParser, FirstRecordByCiAndInnerHeader)
{
    struct Case {
        const char* ciAndHeader;
        int offset;
    } cases[] = {
        {"7A 01 00 00 00", 16},
        {"72 78 56 34 12 2D 2C 01 07 01 00 00 00", 24},
        {"78", 12},
        {"71", 12},
        {"8C 20 01 7A 01 00 00 00", 19},
        {"8C 20 01 72 78 56 34 12 2D 2C 01 07 01 00 00 00", 27},
        {"8C 20 01 78", 15},
        {"8E 20 01 11 22 33 44 55 66 77 88 7A 01 00 00 00", 27},
        {"8E 20 01 11 22 33 44 55 66 77 88 72 78 56 34 12 2D 2C 01 07 01 00 00 00", 35},
        {"8E 20 01 11 22 33 44 55 66 77 88 78", 23},
        {"A0", 12},
    };
    for (const auto& c : cases) {
        ReceiverFrame f = frameWith(std::string(c.ciAndHeader) + " 02 13 0A 00");
        EXPECT_EQ(firstRecordOffset(f), c.offset) << c.ciAndHeader;
        Decoded d(f);
        ASSERT_EQ(d.records.recordCount(), 1) << c.ciAndHeader;
        EXPECT_EQ(d.cell(0, DecodedRecords::Value), "0.010") << c.ciAndHeader;
    }
    EXPECT_EQ(Decoded(frameWith("72 78 56")).records.recordCount(), 0) << "a header longer than the frame";
}

TEST(RecordParser, DeviceTypeOfTheMeterBehindAConverter)
{
    // Link layer says "Other" (0x00); the long header carries a heat meter (0x04).
    const std::string link = "44 2D 2C 11 11 11 11 01 00";
    EXPECT_EQ(transportLayout(frameWith("72 78 56 34 12 2D 2C 01 04 01 00 00 00", link)).deviceTypeOffset(), 19);
    EXPECT_EQ(transportLayout(frameWith("8C 20 01 72 78 56 34 12 2D 2C 01 04 01 00 00 00", link)).deviceTypeOffset(),
              22);
    EXPECT_EQ(transportLayout(
                  frameWith("8E 20 01 11 22 33 44 55 66 77 88 72 78 56 34 12 2D 2C 01 04 01 00 00 00", link))
                  .deviceTypeOffset(),
              30);
    EXPECT_EQ(transportLayout(frameWith("8C 20 01 7A 01 00 00 00", link)).deviceTypeOffset(), 10);
    EXPECT_EQ(transportLayout(frameWith("7A 01 00 00 00", link)).deviceTypeOffset(), 10);
}

TEST(RecordParser, DataEndFollowsTheReceiverTrailer)
{
    ReadingSettings v1crc;
    v1crc.V1 = true;
    v1crc.V2 = false;
    v1crc.Protocol = "MORVANE with CRC";
    auto telegram = fromHex("00 44 2D 2C 78 56 34 12 01 07 7A 01 00 00 00 02 13 0A 00");
    // With the CRC bytes, neither the RSSI nor the CRC bytes are walked as a record.
    DecodedRecords r;
    decodeTelegram(test::receiverFrame(telegram, 0x9A, true), v1crc, '.', r);
    EXPECT_EQ(r.recordCount(), 1);
    // Without an RSSI byte the last record ends right before the stop byte.
    ReadingSettings noRssi;
    noRssi.RSSI_v2 = false;
    auto last = fromHex("00 44 2D 2C 78 56 34 12 01 07 7A 01 00 00 00 01 13 0A");
    decodeTelegram(test::receiverFrame(last, 0, false, false), noRssi, '.', r);
    ASSERT_EQ(r.recordCount(), 1);
    EXPECT_EQ(r.cell(0, DecodedRecords::Value), "0.010");
}

TEST(ManufacturerSpecific, PrivateFormatsAreNotDecoded)
{
    const std::string records = " 02 13 0A 00";
    struct Case {
        const char* link;
        const char* ci;
        bool decodeQundis;
        bool skipped;
    } cases[] = {
        {"44 68 50 78 56 34 12 01 07", "A0", false, true},
        {"44 68 50 78 56 34 12 01 07", "A2", false, true},
        {"44 68 50 78 56 34 12 01 07", "7A 01 00 00 00", false, false},
        {"44 2D 2C 78 56 34 12 01 07", "8D", false, true},
        {"44 93 44 78 56 34 12 01 07", "78", false, false},
        {"44 93 44 78 56 34 12 01 07", "78", true, true},
        {"44 93 44 78 56 34 12 01 07", "7A 01 00 00 00", true, false},
    };
    for (const auto& c : cases) {
        ReadingSettings s;
        s.DecodeQundis = c.decodeQundis;
        Decoded d(frameWith(c.ci + records, c.link), s);
        EXPECT_EQ(d.records.recordCount(), c.skipped ? 0 : 1) << c.link << " CI " << c.ci;
        EXPECT_EQ(d.records.rowCount(), c.skipped ? 1 : 2);
    }
}

TEST(ManufacturerSpecific, ApatorSettingChangesNothing)
{
    ReadingSettings on;
    on.Apator = true;
    ReceiverFrame f = frameWith("7A 01 00 00 00 02 13 0A 00 0F 01 02");
    Decoded a(f), b(f, on);
    ASSERT_EQ(a.records.rowCount(), b.records.rowCount());
    for (int r = 0; r < a.records.rowCount(); ++r)
        EXPECT_EQ(a.records.row(r), b.records.row(r));
}

TEST(Picks, MainValueIsTheFirstRecordInTheMainUnit)
{
    Decoded d(frameWith("7A 01 00 00 00 02 5A E8 03 04 13 E8 03 00 00 44 13 D0 07 00 00"));
    EXPECT_EQ(pickMainRow(d.records, "m3"), 1);
    EXPECT_EQ(pickMainRow(d.records, "kWh"), -1);
    Decoded hca(frameWith("7A 01 00 00 00 02 6E 05 00"));
    EXPECT_EQ(pickMainRow(hca.records, mainUnitText(0x08)), 0);
}

TEST(Picks, AdditionalValuesSkipTheMainRow)
{
    // Four records; record 2 is the main one.
    Decoded d(frameWith("7A 01 00 00 00 02 5A E8 03 04 13 E8 03 00 00 02 5E D0 07 01 FD 0C 07"));
    auto slots = pickAdditionalValues(d.records, 1, 3, false);
    EXPECT_EQ(slots, (std::vector<std::string>{"100.000 deg. C", "200.000 deg. C", "7.000 Model/Version"}));
    EXPECT_EQ(pickAdditionalValues(d.records, 1, 3, true), (std::vector<std::string>{"100.000", "200.000", "7.000"}));
}

TEST(Picks, SlotsPastTheLastRecordTakeTheEmptyRow)
{
    Decoded d(frameWith("7A 01 00 00 00 04 13 E8 03 00 00 02 5A E8 03"));
    EXPECT_EQ(pickAdditionalValues(d.records, 0, 5, false),
              (std::vector<std::string>{"100.000 deg. C", " ", " ", " ", " "}));
    EXPECT_EQ(pickAdditionalValues(d.records, 0, 5, true), (std::vector<std::string>{"100.000", "", "", "", ""}));
    EXPECT_TRUE(pickAdditionalValues(d.records, 0, 0, false).empty());
}

TEST(Picks, SlotTextIsCutTo32Characters)
{
    Decoded d(frameWith("7A 01 00 00 00 07 13 01 02 03 04 05 06 07 08"));
    auto slots = pickAdditionalValues(d.records, -1, 1, false);
    EXPECT_EQ(slots[0], "64-bit integer not supported, bu");
}

TEST(Picks, FullDecodeLines)
{
    Decoded d(frameWith("7A 01 00 00 00 04 13 39 30 00 00 04 6D 05 08 05 33"));
    auto lines = fullDecodeLines(d.records, "12345678");
    EXPECT_EQ(lines, (std::vector<std::string>{"Decode of telegram for device 12345678", "1. 12.345 m3, ",
                         "2. 8:05, 5.3.24 Time point, Date and time (hh:mm, dd.mm.yyyy)", ""}));
    Decoded none(frameWith("A0 02 13 0A 00", "44 68 50 78 56 34 12 01 07"));
    EXPECT_EQ(fullDecodeLines(none.records, "1").size(), 2u);
}

TEST(Picks, RecordsKeepNoTextFromAnEarlierTelegram)
{
    DecodedRecords r;
    decodeTelegram(frameWith("7A 01 00 00 00 04 13 39 30 00 00 02 5A E8 03"), {}, '.', r);
    decodeTelegram(frameWith("7A 01 00 00 00 01 13 05"), {}, '.', r);
    ASSERT_EQ(r.recordCount(), 1);
    for (int c = 0; c < DecodedRecords::kColumns; ++c)
        EXPECT_EQ(r.cell(1, c), "");
}

// Every real telegram that needs no key decodes to the value the meter table must show.
TEST(RealTelegrams, UnencryptedOnesGiveTheirMainValue)
{
    auto rows = test::loadRealTelegrams(PALVERO_TELEGRAMS);
    ASSERT_GE(rows.size(), 40u);
    int checked = 0;
    for (const auto& t : rows) {
        if (!t.key.empty())
            continue;
        ReceiverFrame f = test::receiverFrame(fromHex(t.telegramHex));
        DecodedRecords r;
        decodeTelegram(f, {}, '.', r);
        const std::string unit = mainUnitText(byteAt(f, transportLayout(f).deviceTypeOffset()));
        int main = pickMainRow(r, unit);
        if (t.mainValue.empty()) {
            EXPECT_EQ(main, -1) << t.source;
        } else {
            ASSERT_GE(main, 0) << t.source << " " << t.meterId;
            EXPECT_EQ(r.cell(main, DecodedRecords::Value), t.mainValue) << t.source << " " << t.meterId;
            EXPECT_EQ(unit, t.units) << t.source;
        }
        EXPECT_EQ(mediumText(byteAt(f, transportLayout(f).deviceTypeOffset())), t.medium) << t.source;
        ++checked;
    }
    EXPECT_GE(checked, 30);
}

} // namespace
} // namespace palvero

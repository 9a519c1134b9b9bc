#include "telegram_description.h"

#include "telegram_data.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace palvero {
namespace {

using test::fromHex;

// A water meter's frame (type 0x07) with the given CI and the bytes after it.
ReceiverFrame frameWith(const std::string& ciAndAfter, const std::string& link = "44 2D 2C 78 56 34 12 01 07")
{
    return test::receiverFrame(fromHex("00 " + link + " " + ciAndAfter));
}

TelegramDescription described(const ReceiverFrame& f)
{
    static const CompactFormats compact;
    TelegramDescription d;
    describeTelegram(f, DecodeOptions{}, &compact, nullptr, d);
    return d;
}

// Each record says where its bytes lie, what its VIF means and the number it holds.
TEST(TelegramDescription, RecordsGiveTheirPlacesMeaningsAndNumbers)
{
    // Fill bytes; a volume with a storage DIFE; a BCD energy; a real; a date; a text unit;
    // a manufacturer block.
    const ReceiverFrame f = frameWith("7A 01 00 00 00 2F 2F 84 01 13 E8 03 00 00 0C 03 78 56 34 12 05 2A 00 00 80 3F "
                                      "02 6C 05 33 01 7C 02 61 62 07 0F AA BB");
    const TelegramDescription d = described(f);
    const struct {
        RecordDescription::Kind kind;
        int dif, vif, data, end;
        const char* unit;
        FieldNumber::Kind number;
        int64_t integer;
        int64_t storage;
    } expected[] = {
        {RecordDescription::Kind::Record, 18, 20, 21, 25, "m3", FieldNumber::Kind::Integer, 1000, 2},
        {RecordDescription::Kind::Record, 25, 26, 27, 31, "kWh", FieldNumber::Kind::Integer, 12345678, 0},
        {RecordDescription::Kind::Record, 31, 32, 33, 37, "W", FieldNumber::Kind::Real, 0, 0},
        {RecordDescription::Kind::Record, 37, 38, 39, 41, "Time point", FieldNumber::Kind::None, 0, 0},
        {RecordDescription::Kind::Record, 41, 42, 46, 47, "ab", FieldNumber::Kind::Integer, 7, 0},
        {RecordDescription::Kind::ManufacturerBlock, 47, -1, 48, 50, "", FieldNumber::Kind::None, 0, 0},
    };
    ASSERT_EQ(d.recordCount(), static_cast<int>(std::size(expected)));
    ASSERT_EQ(d.data.size(), f.size() - 2) << "the telegram data end before RSSI and stop byte";
    for (int r = 0; r < d.recordCount(); ++r) {
        const auto& e = expected[r];
        const RecordDescription& rec = d.record(r);
        EXPECT_EQ(rec.kind, e.kind) << r;
        EXPECT_EQ(rec.dif, e.dif) << r;
        if (e.kind == RecordDescription::Kind::Record)
            EXPECT_EQ(rec.vif, e.vif) << r;
        EXPECT_EQ(rec.data, e.data) << r;
        EXPECT_EQ(rec.end, e.end) << r;
        EXPECT_EQ(rec.unit(), e.unit) << r;
        const FieldNumber number = recordNumber(d, r);
        EXPECT_EQ(number.kind, e.number) << r;
        if (e.number == FieldNumber::Kind::Integer)
            EXPECT_EQ(number.integer, e.integer) << r;
        EXPECT_EQ(rec.place.storage, e.storage) << r;
    }
    EXPECT_DOUBLE_EQ(recordNumber(d, 2).real, 0.1) << "1.0 times the scale of VIF 2B";
    EXPECT_EQ(d.record(0).meaning.exponent, -3);
    EXPECT_EQ(d.record(5).description(), "Manf. secific");
    std::string value;
    renderRecordValue(d, 1, ',', value);
    EXPECT_EQ(value, "12345,678");
    renderRecordValue(d, 5, ',', value);
    EXPECT_EQ(value, "AA BB ");
    // The main value of a water meter: the current volume only behind the further layers;
    // here the first volume, whatever its storage.
    EXPECT_EQ(d.mainRecord, 0);
    EXPECT_FALSE(d.mainInOwnUnit);
    EXPECT_EQ(d.meterId(), "12345678");
    EXPECT_FALSE(d.headersCut);
}

// The slots of the additional values: the records after the main one is left out, and the
// empty row after the last record (-1) for every slot past them.
TEST(TelegramDescription, AdditionalValueSlotsSkipTheMainRecord)
{
    const struct {
        int records, main, count;
        std::vector<int> slots;
    } cases[] = {
        {4, 1, 3, {0, 2, 3}},
        {2, 0, 5, {1, -1, -1, -1, -1}},
        {0, -1, 2, {-1, -1}},
        {3, 2, 4, {0, 1, -1, -1}},
        {1, 0, 0, {}},
    };
    for (const auto& c : cases) {
        std::vector<int> slots;
        additionalValueRecords(c.records, c.main, c.count, slots);
        EXPECT_EQ(slots, c.slots) << c.records << " records, main " << c.main;
    }
}

// Where a telegram ends early, or a layer names fields its length leaves out, no offset
// points at bytes the telegram does not hold for it.
TEST(TelegramDescription, OffsetsStayWhereTheLayersAre)
{
    const struct {
        const char* telegram;
        bool headersCut;
        int messageCounter; // of the authentication layer
    } cases[] = {
        {"7A 01 00 00 00 02 13 0A 00", false, -1},
        {"72 01 02", true, -1},
        // AFLL 7: control word 0x2800 (message control, counter) and the counter's 4 bytes.
        {"90 07 00 28 05 01 02 03 04 7A 01 00 00 00", false, 16},
        // AFLL 2: the same control word, but no room for its fields.
        {"90 02 00 28 7A 01 00 00 00 02 13", false, -1},
    };
    for (const auto& c : cases) {
        const ReceiverFrame f = frameWith(c.telegram);
        const TelegramDescription d = described(f);
        EXPECT_EQ(d.headersCut, c.headersCut) << c.telegram;
        EXPECT_EQ(d.layers.auth.messageCounter, c.messageCounter) << c.telegram;
        if (!d.headersCut)
            for (int at : {d.layers.auth.messageControl, d.layers.auth.mac, d.layers.transport.status,
                           d.layers.transport.configuration})
                EXPECT_LT(at, static_cast<int>(f.size())) << c.telegram;
    }
}

} // namespace
} // namespace palvero

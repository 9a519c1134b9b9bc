#include "frame_assembler.h"
#include "reception.h"
#include "telegram_data.h"
#include "telegram_processor.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace palvero {
namespace {

using test::fromHex;

struct Listener : MeterTableListener {
    std::vector<int> updated;
    std::vector<std::string> status;
    void rowUpdated(int row) override { updated.push_back(row); }
    void statusText(int panel, const std::string& text) override
    {
        status.push_back(std::to_string(panel) + ":" + text);
    }
};

struct Reader {
    MeterTable table{3};
    ReadingSettings settings;
    FixedFormats formats;
    Listener listener;
    TelegramProcessor processor{table, settings, formats};
    Reader()
    {
        settings.Count = 3;
        table.addListener(&listener);
    }
    // A telegram from its C field on ("44 2D 2C ..."), wrapped with RSSI 0x9A.
    void receive(const std::string& fromC, uint8_t rssi = 0x9A)
    {
        ReceiverFrame f = test::receiverFrame(fromHex("00 " + fromC), rssi);
        processor.process(f);
    }
    std::vector<std::string> row(int r) const { return table.grid().row(r); }
};

// Water meter 12345678 of KAM, CI 0x7A, two records: volume 1.000 m3 and flow temperature.
const std::string kWater = "44 2D 2C 78 56 34 12 01 07 7A 01 00 00 00 04 13 E8 03 00 00 02 5A E8 03";

TEST(TelegramProcessor, FillsEveryCellOfANewRow)
{
    Reader r;
    r.receive(kWater);
    const std::vector<std::string> expected = {"1", "12345678", "KAM", "", "L=0x19, C=0x44, Status=0x00", "Water",
        "1.000", "m3", "-77", "14:03:22", "06.12.2026", "", "N/A", "1", "", "", "100.000 deg. C", " ", " "};
    EXPECT_EQ(r.row(1), expected);
    EXPECT_EQ(r.table.lastReadRow, 1);
    EXPECT_EQ(r.listener.updated, std::vector<int>{1});
    EXPECT_EQ(r.listener.status, std::vector<std::string>{"0:Last read device: 12345678"});
    EXPECT_EQ(r.table.mediumCounters().Water, 1u);
}

// A view that follows the reading is told once per delivery, after every row of it, however
// many frames the delivery held (none, a part of one, several).
TEST(TelegramProcessor, OneDeliveryDoneAfterEveryRowOfTheDelivery)
{
    struct Order : MeterTableListener {
        std::string events;
        void rowUpdated(int row) override { events += std::to_string(row); }
        void deliveryDone() override { events += "|"; }
    };
    MeterTable table{3};
    ReadingSettings settings;
    FixedFormats formats;
    Order order;
    table.addListener(&order);
    Reception reception(table, settings, formats, nullptr);
    const auto frame = [](const char* id) {
        return test::receiverFrame(fromHex("00 44 2D 2C " + std::string(id) + " 01 07 7A 01 00 00 00 04 13 E8 03 00 00"));
    };
    std::vector<uint8_t> burst;
    for (const char* id : {"78 56 34 12", "79 56 34 12", "78 56 34 12"}) {
        const auto f = frame(id);
        burst.insert(burst.end(), f.begin(), f.end());
    }
    const auto half = frame("80 56 34 12");
    reception.receive(burst);
    reception.receive(half.data(), half.size() / 2);
    reception.receive(half.data() + half.size() / 2, half.size() - half.size() / 2);
    reception.receive(nullptr, 0);
    EXPECT_EQ(order.events, "121||3||");
}

TEST(TelegramProcessor, SameMeterUpdatesItsRowAndNumbersFollowTheRowAbove)
{
    Reader r;
    r.receive(kWater);
    r.receive("44 2D 2C 11 11 11 11 01 03 7A 01 00 00 00 04 13 E8 03 00 00");
    r.formats.setNow({2026, 12, 6, 15, 0, 0});
    r.receive("44 2D 2C 78 56 34 12 01 07 7A 02 00 00 00 04 13 D0 07 00 00");
    ASSERT_EQ(r.table.rowCount(), 3);
    EXPECT_EQ(r.table.cell(1, col::MainValue), "2.000");
    EXPECT_EQ(r.table.cell(1, col::Time), "15:00:00");
    EXPECT_EQ(r.table.cell(2, col::Medium), "Gas");
    r.table.setCell(1, col::No, "7");
    r.receive("44 2D 2C 11 11 11 11 01 03 7A 01 00 00 00 04 13 E8 03 00 00");
    EXPECT_EQ(r.table.cell(2, col::No), "8");
    r.table.setCell(1, col::No, "x");
    r.receive("44 2D 2C 11 11 11 11 01 03 7A 01 00 00 00 04 13 E8 03 00 00");
    EXPECT_EQ(r.table.cell(2, col::No), "1");
    EXPECT_EQ(r.table.lastReadRow, 2);
}

TEST(TelegramProcessor, LongHeaderGivesAuxiliaryIdAndTheMetersOwnType)
{
    Reader r;
    // Link layer: a converter of type 0x31; the long header: meter 04030201, heat (0x04).
    r.receive("44 2D 2C 78 56 34 12 01 31 72 01 02 03 04 2D 2C 01 04 01 00 00 00 04 06 10 00 00 00");
    EXPECT_EQ(r.table.cell(1, col::AuxiliaryId), "04030201");
    EXPECT_EQ(r.table.cell(1, col::Medium), "Heat");
    EXPECT_EQ(r.table.cell(1, col::MainValue), "16.000");
    EXPECT_EQ(r.table.cell(1, col::Units), "kWh");
    // The next telegram of the same meter without a long header empties the auxiliary ID.
    r.receive(kWater);
    EXPECT_EQ(r.table.cell(1, col::AuxiliaryId), "");
}

TEST(TelegramProcessor, MainValueKeepsItsLastTextWhenNoRecordHasTheUnit)
{
    Reader r;
    r.receive(kWater);
    r.receive("44 2D 2C 78 56 34 12 01 07 7A 02 00 00 00 02 5A 10 00");
    EXPECT_EQ(r.table.cell(1, col::MainValue), "1.000");
    EXPECT_EQ(r.table.cell(1, col::Units), "m3");
    EXPECT_EQ(r.table.cell(1, 16), "1.600 deg. C");
}

TEST(TelegramProcessor, AdditionalValuesFollowTheCountAndTheUnitSetting)
{
    Reader r;
    r.settings.RemoveUnit = true;
    r.receive(kWater);
    EXPECT_EQ(r.table.cell(1, 16), "100.000");
    EXPECT_EQ(r.table.cell(1, 17), "");
    EXPECT_EQ(r.table.cell(1, 18), "");
    r.settings.Count = 1; // an edit not yet applied to the table: only slot 1 is written
    r.table.setCell(1, 17, "kept");
    r.receive(kWater);
    EXPECT_EQ(r.table.cell(1, 17), "kept");
}

TEST(TelegramProcessor, FiltersDropTelegrams)
{
    struct Case {
        const char* name;
        void (*setup)(Reader&);
        std::string telegram;
        bool dropped;
    } cases[] = {
        {"repeated bit with Exclude repeated", [](Reader& r) { r.settings.DiscardRepeated = true; },
            "44 2D 2C 78 56 34 12 01 07 7A 01 00 01 00 04 13 E8 03 00 00", true},
        {"long header repeated bit", [](Reader& r) { r.settings.DiscardRepeated = true; },
            "44 2D 2C 78 56 34 12 01 07 72 01 02 03 04 2D 2C 01 07 01 00 01 00", true},
        {"0x8C with CC 0x10", [](Reader& r) { r.settings.DiscardRepeated = true; },
            "44 2D 2C 78 56 34 12 01 07 8C 10 01 7A 01 00 00 00", true},
        {"0x8E with CC 0x10", [](Reader& r) { r.settings.DiscardRepeated = true; },
            "44 2D 2C 78 56 34 12 01 07 8E 10 01 00 00 00 00 00 00 00 00 7A 01 00 00 00", true},
        {"0x8E with the bit only in the second address", [](Reader& r) { r.settings.DiscardRepeated = true; },
            "44 2D 2C 78 56 34 12 01 07 8E 00 01 00 00 00 00 00 00 10 00 7A 01 00 00 00", false},
        {"repeated kept without the filter", [](Reader&) {},
            "44 2D 2C 78 56 34 12 01 07 7A 01 00 01 00 04 13 E8 03 00 00", false},
        {"do not add new devices", [](Reader& r) { r.table.doNotAddNew = true; }, kWater, true},
        {"unknown CI with the filter off", [](Reader&) {}, "44 2D 2C 78 56 34 12 01 07 51 04 13 E8 03 00 00", false},
    };
    for (const auto& c : cases) {
        Reader r;
        c.setup(r);
        r.receive(c.telegram);
        EXPECT_EQ(r.table.isFresh(), c.dropped) << c.name;
        EXPECT_EQ(r.listener.updated.empty(), c.dropped) << c.name;
    }
}

TEST(TelegramProcessor, RepeatedAndLowBatteryFlags)
{
    Reader r;
    r.receive("44 2D 2C 78 56 34 12 01 07 7A 01 04 01 00 04 13 E8 03 00 00");
    EXPECT_TRUE(r.table.flag(RowFlag::Repeated, 1));
    EXPECT_TRUE(r.table.flag(RowFlag::LowBattery, 1));
    EXPECT_EQ(r.table.mediumCounters().Repeated, 1u);
    EXPECT_EQ(r.table.cell(1, col::ControlFields), "L=0x15, C=0x44, Status=0x04");
    r.receive(kWater);
    EXPECT_FALSE(r.table.flag(RowFlag::Repeated, 1));
    EXPECT_FALSE(r.table.flag(RowFlag::LowBattery, 1));
    EXPECT_EQ(r.table.mediumCounters().Repeated, 0u);
}

TEST(TelegramProcessor, ReadOnceKeepsCellsButUpdatesFlags)
{
    Reader r;
    r.settings.ReadOnce = true;
    r.receive(kWater);
    const auto before = r.row(1);
    r.receive("44 2D 2C 78 56 34 12 01 07 7A 02 04 01 00 04 13 D0 07 00 00");
    EXPECT_EQ(r.row(1), before);
    EXPECT_TRUE(r.table.flag(RowFlag::LowBattery, 1));
    EXPECT_TRUE(r.table.flag(RowFlag::Repeated, 1));
    EXPECT_EQ(r.listener.updated.size(), 1u);
}

TEST(TelegramProcessor, WrongCiIsLoggedWithTheWholeFrame)
{
    Reader r;
    r.settings.DiscardCI = true;
    r.receive("44 2D 2C 78 56 34 12 01 07 51 04 13");
    ASSERT_EQ(r.table.readerLog.size(), 2u);
    EXPECT_EQ(r.table.readerLog[0], "Wrong CI-field - 51, full frame below, at 14:03:22, 06.12.2026");
    EXPECT_EQ(r.table.readerLog[1], "68 0D 44 2D 2C 78 56 34 12 01 07 51 04 13 9A 16 ");
    EXPECT_EQ(r.listener.status, std::vector<std::string>{"0:Wrong CI-field - 51"});
    EXPECT_TRUE(r.table.isFresh());
}

TEST(TelegramProcessor, NotesFromTheTelegramWhenAllowed)
{
    struct Case {
        std::string telegram;
        const char* notes;
        bool decrypted;
    } cases[] = {
        {"44 2D 2C 78 56 34 12 01 07 7A 01 00 20 05 2F 2F", "AES-128, Mode 5 (Dedicated IV). 2 blocks to decrypt. ",
            false},
        {"44 2D 2C 78 56 34 12 01 07 72 01 02 03 04 2D 2C 01 07 01 00 B0 04 2F 2F",
            "AES-128, Mode 4 (Zero IV).  11 blocks to decrypt. ", false},
        {"44 2D 2C 78 56 34 12 01 07 7A 01 00 00 00 2F 2F", "Not encrypted ", false},
        {"44 2D 2C 78 56 34 12 01 07 78 04 13 E8 03 00 00", "Not encrypted (no header)", true},
        {"44 2D 2C 78 56 34 12 01 07 71 00", "Alarm request by the meter", false},
        {"44 2D 2C 78 56 34 12 01 07 8C 00 01 7A 01 00 20 05 2F 2F", "untouched", false},
    };
    for (const auto& c : cases) {
        Reader r;
        r.settings.UseNotes = true;
        r.table.setCell(1, col::Notes, "untouched");
        r.receive(c.telegram);
        EXPECT_EQ(r.table.cell(1, col::Notes), c.notes) << c.telegram;
        EXPECT_EQ(r.table.flag(RowFlag::Decrypted, 1), c.decrypted) << c.telegram;
    }
    Reader off;
    off.receive("44 2D 2C 78 56 34 12 01 07 78 04 13 E8 03 00 00");
    EXPECT_EQ(off.table.cell(1, col::Notes), "");
    EXPECT_FALSE(off.table.flag(RowFlag::Decrypted, 1));
}

TEST(TelegramProcessor, FullDecodeModeListsTheRecords)
{
    Reader r;
    r.table.fullDecodeMode = true;
    r.receive(kWater);
    EXPECT_EQ(r.table.fullDecodeListing,
              (std::vector<std::string>{"Decode of telegram for device 12345678", "1. 1.000 m3, ",
                  "2. 100.000 deg. C, Flow Temp.", ""}));
}

TEST(TelegramProcessor, ShortFrameIsLoggedAndCostsOnlyItself)
{
    Reader r;
    FrameAssembler a(r.table, [&](ReceiverFrame& f) { r.processor.process(f); });
    a.receive(fromHex("00 11 68 04 44 AA BB CC 16 68 04"));
    ASSERT_EQ(r.table.readerLog.size(), 1u);
    EXPECT_EQ(r.table.readerLog[0], "Exception receiving - Frame of 7 bytes is too short for a telegram");
    EXPECT_EQ(a.pendingBytes(), 2u); // the start of the next frame waits for its rest
    EXPECT_TRUE(r.table.isFresh());
}

TEST(TelegramProcessor, HeaderLongerThanTheFrameReadsNothingOutside)
{
    Reader r;
    // CI 0x8E announces 12 header bytes but the telegram ends after two.
    r.receive("44 2D 2C 78 56 34 12 01 07 8E 10 01");
    EXPECT_EQ(r.table.cell(1, col::MeterId), "12345678");
    EXPECT_EQ(r.table.cell(1, col::ControlFields), "L=0x0D, C=0x44, Status=0x00");
}

// What an encrypted telegram that could not be read leaves in a row: nothing of its payload.
TEST(TrustedReadings, UndecryptableTelegramsGiveNoValue)
{
    struct Case {
        const char* name;
        bool decrypt;
        bool withKey;
        bool wrongKey;
    } cases[] = {
        {"decryption off", false, true, false},
        {"no key", true, false, false},
        {"wrong key", true, true, true},
    };
    int checked = 0;
    for (const auto& t : test::loadRealTelegrams(PALVERO_TELEGRAMS)) {
        if (t.key.empty())
            continue;
        ++checked;
        for (const auto& c : cases) {
            for (bool earlierReading : {false, true}) {
                Reader r;
                r.settings.AES128_5 = c.decrypt;
                r.table.fullDecodeMode = true;
                r.table.setCell(1, col::MeterId, t.meterId);
                r.table.setCell(1, col::No, "1");
                if (c.withKey)
                    r.table.setCell(1, col::EncryptionKey, c.wrongKey ? "FF" + t.key.substr(2) : t.key);
                const std::string value = earlierReading ? "7.000" : "", units = earlierReading ? "m3" : "";
                r.table.setCell(1, col::MainValue, value);
                r.table.setCell(1, col::Units, units);
                r.table.setCell(1, 16, value);
                ReceiverFrame f = test::receiverFrame(fromHex(t.telegramHex));
                r.processor.process(f);
                const std::string name = t.source + " " + t.meterId + ", " + c.name;
                EXPECT_EQ(r.table.cell(1, col::MainValue), value) << name;
                EXPECT_EQ(r.table.cell(1, col::Units), units) << name;
                EXPECT_EQ(r.table.cell(1, 16), value) << name;
                EXPECT_EQ(r.table.cell(1, col::Medium), t.medium) << name << ": the other cells are updated";
                EXPECT_FALSE(r.table.flag(RowFlag::Decrypted, 1)) << name;
                ASSERT_EQ(r.table.fullDecodeListing.size(), 3u) << name;
                EXPECT_EQ(r.table.fullDecodeListing[1].rfind("Payload is encrypted (security mode ", 0), 0u) << name;
            }
        }
    }
    EXPECT_GE(checked, 5);
}

// A key entered after a meter was heard without one is used by its next telegram, even
// with "Read meters only ONCE": a value made from ciphertext no longer counts as a reading.
TEST(TrustedReadings, KeyEnteredLaterIsUsedByTheNextTelegram)
{
    for (const auto& t : test::loadRealTelegrams(PALVERO_TELEGRAMS)) {
        if (t.key.empty() || t.mainValue.empty())
            continue;
        Reader r;
        r.settings.AES128_5 = true;
        r.settings.ReadOnce = true;
        ReceiverFrame f = test::receiverFrame(fromHex(t.telegramHex));
        ReceiverFrame again = f;
        r.processor.process(f);
        EXPECT_EQ(r.table.cell(1, col::MainValue), "") << t.source;
        r.table.setCell(1, col::EncryptionKey, t.key);
        r.processor.process(again);
        EXPECT_EQ(r.table.cell(1, col::MainValue), t.mainValue) << t.source;
        EXPECT_TRUE(r.table.flag(RowFlag::Decrypted, 1)) << t.source;
    }
}

// Manufacturer-defined application layers (CI 0xA0 to 0xB7) are never walked as records.
TEST(TrustedReadings, ManufacturerApplicationLayersGiveNoValue)
{
    int checked = 0;
    for (const auto& t : test::loadFurtherTelegrams(PALVERO_FURTHER_TELEGRAMS)) {
        if (t.category != "manufacturer CI")
            continue;
        Reader r;
        r.table.fullDecodeMode = true;
        for (const auto& hex : t.telegramsHex) {
            ReceiverFrame f = test::receiverFrame(fromHex(hex));
            r.processor.process(f);
        }
        EXPECT_EQ(r.table.cell(1, col::MeterId), t.meterId) << t.source;
        EXPECT_EQ(r.table.cell(1, col::MainValue), "") << t.source;
        EXPECT_EQ(r.table.cell(1, 16), "") << t.source << ": additional values keep what they held";
        ASSERT_GE(r.table.fullDecodeListing.size(), 3u) << t.source;
        EXPECT_EQ(r.table.fullDecodeListing[1].rfind("Manufacturer data (CI ", 0), 0u) << t.source;
        ++checked;
    }
    EXPECT_EQ(checked, 22);

    // Whatever the manufacturer: a value the row held before stays.
    Reader r;
    r.receive(kWater);
    r.receive("44 2D 2C 78 56 34 12 01 07 A2 04 13 99 99 00 00");
    EXPECT_EQ(r.table.cell(1, col::MainValue), "1.000");
    EXPECT_EQ(r.table.cell(1, 16), "100.000 deg. C");
}

TEST(TrustedReadings, TelegramTextReachesCellsPrintable)
{
    Reader r;
    r.settings.Count = 2;
    // LVAR text with CR, LF, NUL, DEL and a Latin-1 e-acute; a plain-text unit with a tab.
    r.receive("44 2D 2C 78 56 34 12 01 07 7A 01 00 00 00 0D FD 11 06 41 0D 0A 00 7F E9 "
              "01 7C 03 61 09 62 05");
    EXPECT_EQ(r.table.cell(1, 16), "A....\xE9 Customer");
    EXPECT_EQ(r.table.cell(1, 17), "5.000 a.b");
}

TEST(TrustedReadings, MeterBehindARadioConverterKeepsItsOwnId)
{
    const std::string longHeader = "72 21 43 65 87 08 1C 33 07 42 00 00 00 04 13 E8 03 00 00";
    const std::string cases[] = {
        "44 2D 2C 78 56 34 12 01 31 " + longHeader,
        "44 2D 2C 78 56 34 12 01 31 8C 00 01 " + longHeader,
        "44 2D 2C 78 56 34 12 01 31 8E 00 01 11 22 33 44 55 66 77 88 " + longHeader,
    };
    for (const auto& telegram : cases) {
        Reader r;
        r.receive(telegram);
        EXPECT_EQ(r.table.cell(1, col::AuxiliaryId), "87654321") << telegram;
        EXPECT_EQ(r.table.cell(1, col::MainValue), "1.000") << telegram;
    }
}

TEST(TrustedReadings, RowNumberNeverWraps)
{
    const std::pair<const char*, const char*> cases[] = {
        {"41", "42"},
        {"2147483647", "2147483648"},
        {"9223372036854775806", "9223372036854775807"},
        {"9223372036854775807", "9223372036854775807"},
        {"123456789012345678901234567890", "9223372036854775807"},
        {"-5", "-4"},
        {"12a", "1"},
    };
    for (const auto& [above, expected] : cases) {
        Reader r;
        r.receive(kWater);
        r.table.setCell(1, col::No, above);
        r.receive("44 2D 2C 11 11 11 11 01 03 7A 01 00 00 00 04 13 E8 03 00 00");
        EXPECT_EQ(r.table.cell(2, col::No), expected) << above;
    }
}

} // namespace
} // namespace palvero

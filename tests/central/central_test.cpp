// The central module without a server: the outbox file, the text crossing, COPY lines,
// connection texts, days and settings.

#include "cell_codec.h"
#include "central_config.h"
#include "office.h"
#include "outbox.h"
#include "pg_connection.h"
#include "reading_sender.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace palvero::test {
namespace {

using namespace central;

OutboxReading reading(int i)
{
    OutboxReading r;
    r.id = newReadingId();
    r.heardAt = utcTimestamp(std::chrono::system_clock::time_point(std::chrono::milliseconds(1777887000123LL + i)));
    r.laptop = "laptop\t7";
    r.meterId = "12345678";
    r.manufacturer = "KAM";
    r.medium = "Water";
    r.rssi = "-67";
    r.mainValue = "1,250";
    r.unit = "m3";
    r.additional = {"back\\slash", "line\nend", "\xE9t\xE9"};
    r.decrypted = i % 2 == 0;
    r.telegram = {0x68, 0x0A, 0x00, 0xFF, 0x16};
    return r;
}

TEST(CellCodec, CellsAndDatabaseTextCrossBothWays)
{
    struct Case {
        const char* name;
        std::string cell;
        std::string utf8;
    };
    const Case cases[] = {
        {"plain", "12345678", "12345678"},
        {"Latin-1 letters", "Stra\xDF" "e \xE9", "Stra\xC3\x9F" "e \xC3\xA9"},
        {"top byte", "\xFF", "\xC3\xBF"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(databaseText(c.cell), c.utf8);
        EXPECT_EQ(cellText(c.utf8), c.cell);
    }
    EXPECT_EQ(databaseText(std::string("a\0b", 3)), "a\xEF\xBF\xBD" "b");
}

TEST(CellCodec, TextOutsideTheCodePageIsNeverTurnedIntoQuestionMarksUnasked)
{
    const char* const unmappable[] = {"\xD0\x9B\xD0\xB8\xD0\xBF\xD0\xB0", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                      "\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xFF"};
    for (const char* text : unmappable) {
        SCOPED_TRACE(text);
        EXPECT_EQ(cellText(text), std::nullopt);
        int replaced = 0;
        EXPECT_EQ(cellText(std::string("a") + text, &replaced).value_or("").substr(0, 2), "a?");
        EXPECT_GE(replaced, 1);
    }
    EXPECT_TRUE(isUtf8("Ul. \xD0\x9B\xD0\xB8\xD0\xBF\xD0\xB0 \xE2\x82\xAC"));
    EXPECT_FALSE(isUtf8("Stra\xDF" "e"));
}

TEST(Outbox, ReadingsAreKeptUntilConfirmedAndCompactionKeepsTheRest)
{
    TempDir dir;
    Outbox outbox(dir.path());
    std::string error;
    ASSERT_TRUE(outbox.load(error)) << "a missing outbox is an empty one";
    EXPECT_EQ(outbox.waitingCount(), 0);
    std::vector<OutboxReading> added;
    for (int i = 0; i < 4; ++i) {
        added.push_back(reading(i));
        ASSERT_TRUE(outbox.add(added.back(), error)) << error;
    }
    ASSERT_TRUE(outbox.confirm({added[0].id, added[2].id}, error));
    EXPECT_EQ(outbox.waitingCount(), 2);

    Outbox again(dir.path());
    ASSERT_TRUE(again.load(error));
    std::vector<OutboxReading> waiting;
    ASSERT_TRUE(again.waitingReadings(waiting, error));
    EXPECT_EQ(waiting, (std::vector<OutboxReading>{added[1], added[3]}));

    ASSERT_TRUE(again.compact(error));
    EXPECT_EQ(readFile(again.path()), Outbox::encode(added[1]) + "\n" + Outbox::encode(added[3]) + "\n");
    EXPECT_FALSE(again.hasConfirmations());
}

TEST(Outbox, ALineCutShortOrDamagedIsNeitherSentNorDropped)
{
    TempDir dir;
    const OutboxReading first = reading(1), second = reading(2), third = reading(3);
    std::string damaged = Outbox::encode(second);
    damaged[40] = damaged[40] == 'x' ? 'y' : 'x';
    const std::string torn = Outbox::encode(third).substr(0, 30);
    writeFile(dir / kOutboxFileName, Outbox::encode(first) + "\n" + damaged + "\n" + torn);
    Outbox outbox(dir.path());
    std::string error;
    ASSERT_TRUE(outbox.load(error));
    EXPECT_EQ(outbox.waitingCount(), 1);
    EXPECT_EQ(outbox.damagedCount(), 2);

    // The reading after the torn line starts a line of its own.
    const OutboxReading fourth = reading(4);
    ASSERT_TRUE(outbox.add(fourth, error));
    std::vector<OutboxReading> waiting;
    ASSERT_TRUE(outbox.waitingReadings(waiting, error));
    EXPECT_EQ(waiting, (std::vector<OutboxReading>{first, fourth}));
    ASSERT_TRUE(outbox.confirm({first.id}, error));
    ASSERT_TRUE(outbox.compact(error));
    EXPECT_EQ(readFile(outbox.path()), damaged + "\n" + torn + "\n" + Outbox::encode(fourth) + "\n");
}

TEST(Outbox, EveryFieldSurvivesItsLine)
{
    OutboxReading r = reading(0);
    r.mainValue = std::string("\x01\x7F\t\\x", 5);
    r.additional.clear();
    for (const OutboxReading& original : {reading(0), reading(1), r}) {
        const std::string line = Outbox::encode(original);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        OutboxReading back;
        ASSERT_TRUE(Outbox::decode(line, back)) << line;
        EXPECT_EQ(back, original);
    }
    // The server would refuse a reading whose ID or time is not its own form.
    OutboxReading odd = reading(0);
    for (std::string OutboxReading::*field : {&OutboxReading::id, &OutboxReading::heardAt}) {
        OutboxReading bad = odd;
        bad.*field = "2026-05-04";
        OutboxReading back;
        EXPECT_FALSE(Outbox::decode(Outbox::encode(bad), back));
    }
}

TEST(Outbox, ALineWrittenByAnEarlierRunStillReads)
{
    // The outbox outlives program versions: its form stays.
    const std::string line = readFile(std::string(PALVERO_FUZZ_CORPUS) + "/outbox/reading.txt");
    OutboxReading r;
    ASSERT_TRUE(Outbox::decode(line.substr(0, line.find('\n')), r));
    EXPECT_EQ(r.id, "0b9a3c5e-1f2d-4c3b-8a79-6e5d4c3b2a19");
    EXPECT_EQ(r.heardAt, "2026-05-04T09:30:00.123Z");
    EXPECT_EQ(r.laptop, "laptop\t7");
    EXPECT_EQ(r.mainValue, "1,250");
    EXPECT_EQ(r.additional, (std::vector<std::string>{"back\\slash", "\xE9t\xE9"}));
    EXPECT_TRUE(r.decrypted);
    EXPECT_EQ(r.telegram, (std::vector<uint8_t>{0x68, 0x0A, 0x00, 0xFF, 0x16}));
    TempDir dir;
    writeFile(dir / kOutboxFileName, line);
    Outbox outbox(dir.path());
    std::string error;
    ASSERT_TRUE(outbox.load(error));
    EXPECT_EQ(outbox.waitingCount(), 0) << "the second line confirms the first";
    EXPECT_EQ(outbox.damagedCount(), 0);
}

TEST(ReadingSender, CopyLinesEscapeWhatWouldEndAFieldOrARow)
{
    OutboxReading r = reading(0);
    r.id = "0b9a3c5e-1f2d-4c3b-8a79-6e5d4c3b2a19";
    r.heardAt = "2026-05-04T09:30:00.123Z";
    EXPECT_EQ(copyLine(r),
              "0b9a3c5e-1f2d-4c3b-8a79-6e5d4c3b2a19\t12345678\tlaptop\\t7\t2026-05-04T09:30:00.123Z\tKAM\tWater\t-67\t"
              "1,250\tm3\t{\"back\\\\\\\\slash\",\"line\\nend\",\"\xC3\xA9t\xC3\xA9\"}\tt\t\\\\x680a00ff16\n");
    for (const char* rssi : {"", "N/A", "-67 dBm", "99999"}) {
        r.rssi = rssi;
        EXPECT_NE(copyLine(r).find("\tWater\t\\N\t"), std::string::npos) << rssi;
    }
}

TEST(CentralSettings, ConnectionTextsAndDays)
{
    const std::pair<const char*, const char*> texts[] = {
        {"palvero", "service=palvero"},
        {"  office  ", "service=office"},
        {"host=db.example.com dbname=meters sslmode=verify-full", "host=db.example.com dbname=meters sslmode=verify-full"},
        {"postgresql://anna@db/meters", "postgresql://anna@db/meters"},
        {"", ""},
    };
    for (const auto& [setting, conninfo] : texts)
        EXPECT_EQ(connectionString(setting), conninfo) << setting;

    const std::pair<const char*, bool> days[] = {
        {"2026-05-04", true}, {"2024-02-29", true}, {"2026-02-29", false}, {"2026-13-01", false},
        {"2026-5-4", false},  {"04.05.2026", false}, {"", false},
    };
    for (const auto& [text, valid] : days)
        EXPECT_EQ(parseDay(text).has_value(), valid) << text;
    EXPECT_EQ(parseDay("2026-12-31")->next().text(), "2027-01-01");
    EXPECT_EQ(parseDay("2026-03-29")->next().start() - parseDay("2026-03-29")->start() > 0, true);

    TempDir dir;
    writeFile(dir / "palvero.ini", "[Palvero]\r\nCentralDatabase=host=db sslmode=verify-full\r\nCentralSendOnStop=1\r\n");
    const CentralConfig c = readCentralConfig(dir / "palvero.ini");
    EXPECT_EQ(c.database, "host=db sslmode=verify-full");
    EXPECT_TRUE(c.sendOnStop);
    EXPECT_EQ(c.laptop, "");
    EXPECT_FALSE(readCentralConfig(dir / "missing.ini").configured());
}

} // namespace
} // namespace palvero::test

// The central module without a server: the outbox file, the text crossing, COPY lines,
// connection texts, days and settings.

#include "cell_codec.h"
#include "central_config.h"
#include "my_routes.h"
#include "office.h"
#include "outbox.h"
#include "pg_connection.h"
#include "reading_sender.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>

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

TEST(CellCodec, TextsCrossInTheCodePageAndWhatItCannotHoldIsNeverAQuestionMarkUnasked)
{
    constexpr CodePage k1251 = CodePage::Windows1251, k1252 = CodePage::Windows1252;
    struct Case {
        const char* name;
        CodePage page;
        std::optional<std::string> cell; // none: the code page cannot hold it
        std::string utf8;
    };
    const Case cases[] = {
        {"plain", k1251, "12345678", "12345678"},
        {"Cyrillic in 1251", k1251, "\xD3\xEB. \xCB\xE8\xEF\xE0", "\xD0\xA3\xD0\xBB. \xD0\x9B\xD0\xB8\xD0\xBF\xD0\xB0"},
        {"Western in 1252", k1252, "Stra\xDF" "e \xE9", "Stra\xC3\x9F" "e \xC3\xA9"},
        {"euro sign in 1252", k1252, "\x80", "\xE2\x82\xAC"},
        {"euro sign in 1251", k1251, "\x88", "\xE2\x82\xAC"},
        {"top byte in 1251", k1251, "\xFF", "\xD1\x8F"},
        {"a byte 1252 leaves undefined", k1252, "\x81", "\xC2\x81"},
        {"Cyrillic in 1252", k1252, std::nullopt, "\xD0\x9B\xD0\xB8"},
        {"Western in 1251", k1251, std::nullopt, "\xC3\x9F"},
        {"emoji", k1251, std::nullopt, "\xF0\x9F\x98\x80"},
        {"the replacement character", k1252, std::nullopt, "\xEF\xBF\xBD"},
        {"cut, over-long, surrogate", k1252, std::nullopt, "\xC3 \xC0\xAF \xED\xA0\x80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cellText("ID " + c.utf8, c.page), c.cell ? std::optional<std::string>("ID " + *c.cell) : std::nullopt);
        int replaced = 0;
        const std::string shown = cellText(c.utf8, c.page, &replaced).value_or("");
        EXPECT_EQ(replaced == 0, c.cell.has_value());
        if (c.cell)
            EXPECT_EQ(databaseText(*c.cell, c.page), c.utf8);
        else
            EXPECT_EQ(shown.substr(0, 1), "?");
    }
    EXPECT_EQ(databaseText(std::string("a\0b", 3), k1251), "a\xEF\xBF\xBD" "b");
    EXPECT_TRUE(isUtf8("Ul. \xD0\x9B\xD0\xB8\xD0\xBF\xD0\xB0 \xE2\x82\xAC \xEF\xBF\xBD"));
    for (const char* notUtf8 : {"Stra\xDF" "e", "\xC0\xAF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBD"})
        EXPECT_FALSE(isUtf8(notUtf8)) << notUtf8;
}

TEST(MyRoutes, TheKeptRoutesReadTheirIdsInTheCodePage)
{
    TempDir dir;
    writeFile(dir / kRoutesFileName, "# routes\nNorth\t2026-05-04\t11110001\t\nNorth\t2026-05-04\t1111000\xD0\x9B\t\n");
    // An ID with a character the code page lacks is no meter of the route, never "1111000?".
    EXPECT_EQ(routeMeterIds(dir.path(), CodePage::Windows1252), (std::vector<std::string>{"11110001"}));
    Outcome outcome;
    ASSERT_TRUE(saveRoutes(dir.path(), readRoutes(dir.path(), CodePage::Windows1251), CodePage::Windows1251, outcome));
    EXPECT_EQ(routeMeterIds(dir.path(), CodePage::Windows1251), (std::vector<std::string>{"11110001", "1111000\xCB"}));
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
        ASSERT_TRUE(outbox.add(added.back()));
    }
    ASSERT_TRUE(outbox.confirm({added[0].id, added[2].id}));
    EXPECT_EQ(outbox.waitingCount(), 2);

    Outbox again(dir.path());
    ASSERT_TRUE(again.load(error));
    std::vector<OutboxReading> waiting;
    ASSERT_TRUE(again.waitingReadings(waiting, error));
    EXPECT_EQ(waiting, (std::vector<OutboxReading>{added[1], added[3]}));

    ASSERT_TRUE(again.compact());
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
    ASSERT_TRUE(outbox.add(fourth));
    std::vector<OutboxReading> waiting;
    ASSERT_TRUE(outbox.waitingReadings(waiting, error));
    EXPECT_EQ(waiting, (std::vector<OutboxReading>{first, fourth}));
    ASSERT_TRUE(outbox.confirm({first.id}));
    ASSERT_TRUE(outbox.compact());
    EXPECT_EQ(readFile(outbox.path()), damaged + "\n" + torn + "\n" + Outbox::encode(fourth) + "\n");
}

TEST(Outbox, AWriteThatFailsKeepsItsCauseAndTheNextReadingWhole)
{
    struct Case {
        int error;
        std::uint64_t afterBytes;
        WriteFailure cause;
        int damaged; // the torn line left behind
    };
    for (const Case& c : {Case{ENOSPC, 0, WriteFailure::DiskFull, 0}, Case{ENOSPC, 30, WriteFailure::DiskFull, 1},
                          Case{EIO, 30, WriteFailure::DeviceError, 1}}) {
        SCOPED_TRACE(std::to_string(c.error) + " after " + std::to_string(c.afterBytes));
        TempDir dir;
        Outbox outbox(dir.path());
        const OutboxReading first = reading(1), next = reading(3);
        ASSERT_TRUE(outbox.add(first));
        {
            ScopedWriteFault fault(c.error, c.afterBytes);
            EXPECT_EQ(outbox.add(reading(2)).failure, c.cause);
            EXPECT_EQ(outbox.confirm({first.id}).failure, c.cause);
            EXPECT_EQ(outbox.compact().failure, c.cause);
        }
        ASSERT_TRUE(outbox.add(next));
        Outbox again(dir.path());
        std::string error;
        std::vector<OutboxReading> waiting;
        ASSERT_TRUE(again.load(error) && again.waitingReadings(waiting, error));
        EXPECT_EQ(waiting, (std::vector<OutboxReading>{first, next}));
        EXPECT_EQ(again.damagedCount(), c.damaged);
    }
    // A folder where the outbox should be is never read as an empty outbox.
    TempDir dir;
    std::filesystem::create_directory(dir / kOutboxFileName);
    Outbox outbox(dir.path());
    std::string error;
    EXPECT_FALSE(outbox.load(error));
    EXPECT_NE(error.find(kOutboxFileName), std::string::npos) << error;
    EXPECT_FALSE(outbox.compact());
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
    EXPECT_EQ(copyLine(r, CodePage::Windows1252),
              "0b9a3c5e-1f2d-4c3b-8a79-6e5d4c3b2a19\t12345678\tlaptop\\t7\t2026-05-04T09:30:00.123Z\tKAM\tWater\t-67\t"
              "1,250\tm3\t{\"back\\\\\\\\slash\",\"line\\nend\",\"\xC3\xA9t\xC3\xA9\"}\tt\t\\\\x680a00ff16\n");
    EXPECT_NE(copyLine(r, CodePage::Windows1251).find("\"\xD0\xB9t\xD0\xB9\"}"), std::string::npos);
    for (const char* rssi : {"", "N/A", "-67 dBm", "99999"}) {
        r.rssi = rssi;
        EXPECT_NE(copyLine(r, CodePage::Windows1252).find("\tWater\t\\N\t"), std::string::npos) << rssi;
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

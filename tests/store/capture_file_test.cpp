// Capture files: written byte for byte into the captures folder, read back a receive event
// at a time, raw or hex.

#include "capture_file.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <memory>

using namespace palvero;
using palvero::test::TempDir;

namespace {

namespace fs = std::filesystem;

const DateTime kStart{2026, 5, 4, 9, 3, 7};

std::vector<std::vector<uint8_t>> readAll(const fs::path& p, CaptureReader::Kind kind, size_t chunk,
                                          std::string* error = nullptr)
{
    CaptureReader reader;
    std::string e;
    EXPECT_TRUE(reader.open(p, kind, chunk, e)) << e;
    std::vector<std::vector<uint8_t>> events;
    std::vector<uint8_t> event;
    while (reader.next(event))
        events.push_back(event);
    if (error)
        *error = reader.error();
    return events;
}

TEST(CaptureFileTest, WriterKeepsEveryEventWithItsStampInAFileNamedByTheStart)
{
    TempDir dir;
    fs::create_directories(dir / "files");
    CaptureWriter w;
    std::string error;
    ASSERT_TRUE(w.open(dir / "files", kStart, error)) << error;
    EXPECT_EQ(w.path(), dir / "files" / "captures" / "2026-05-04_09-03-07.cap");
    const uint8_t a[] = {0x68, 0x00, 0x16};
    const uint8_t b[] = {0xFF, 0x0A, 0x0D};
    // 2026-05-04 07:03:08.250 UTC, two hours ahead locally.
    const CaptureStamp first{1777878188250, 7200};
    const CaptureStamp second{1777878189999, 7200};
    ASSERT_TRUE(w.write(a, 3, first, error));
    const std::string signature("\x89PVCAP1\n", 8);
    const std::string event1 = std::string("\xDA\x40\xCC\xF1\x9D\x01\x00\x00" "\x20\x1C\x00\x00" "\x03\x00\x00\x00", 16)
        + std::string("\x68\x00\x16", 3);
    // On disk at once, before the capture is closed.
    EXPECT_EQ(palvero::test::readFile(w.path()), signature + event1);
    ASSERT_TRUE(w.write(b, 3, second, error));
    w.close();
    EXPECT_EQ(palvero::test::readFile(dir / "files" / "captures" / "2026-05-04_09-03-07.cap").size(),
              signature.size() + 2 * (16 + 3));

    CaptureReader reader;
    ASSERT_TRUE(reader.open(dir / "files" / "captures" / "2026-05-04_09-03-07.cap", CaptureReader::Kind::Raw, 5, error));
    EXPECT_TRUE(reader.hasTimes());
    std::vector<uint8_t> event;
    ASSERT_TRUE(reader.next(event));
    EXPECT_EQ(event, (std::vector<uint8_t>{0x68, 0x00, 0x16}));
    EXPECT_EQ(reader.stamp(), first);
    EXPECT_EQ(reader.stamp().localTime(), (DateTime{2026, 5, 4, 9, 3, 8}));
    ASSERT_TRUE(reader.next(event));
    EXPECT_EQ(reader.stamp().localTime(), (DateTime{2026, 5, 4, 9, 3, 9}));
    EXPECT_FALSE(reader.next(event));
    EXPECT_EQ(reader.error(), "");

    CaptureWriter again;
    ASSERT_TRUE(again.open(dir / "files", kStart, error));
    EXPECT_EQ(again.path().filename(), "2026-05-04_09-03-07-2.cap");
}

TEST(CaptureFileTest, WriterNeverMakesTheDataFolder)
{
    TempDir dir;
    CaptureWriter w;
    std::string error;
    EXPECT_FALSE(w.open(dir / "files", kStart, error));
    EXPECT_FALSE(fs::exists(dir / "files"));
    EXPECT_NE(error.find("data folder"), std::string::npos);

    // A file where the folder should be.
    fs::create_directories(dir / "files");
    palvero::test::writeFile(dir / "files" / "captures", "x");
    EXPECT_FALSE(w.open(dir / "files", kStart, error));
    EXPECT_FALSE(w.isOpen());
}

TEST(CaptureFileTest, ReaderCutsRawAndHexCaptures)
{
    TempDir dir;
    std::string raw(150, '\0');
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = char(i);
    palvero::test::writeFile(dir / "raw.cap", raw);
    auto events = readAll(dir / "raw.cap", CaptureReader::Kind::Raw, 0);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].size(), 64u);
    EXPECT_EQ(events[2].size(), 22u);
    EXPECT_EQ(events[2].back(), 149);
    EXPECT_EQ(readAll(dir / "raw.cap", CaptureReader::Kind::Raw, 100).size(), 2u);

    palvero::test::writeFile(dir / "hex.txt", "# walk\r\n68 03 44\r\n\r\n  # again\n16AB\nCD");
    events = readAll(dir / "hex.txt", CaptureReader::Kind::Hex, 0);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0], (std::vector<uint8_t>{0x68, 0x03, 0x44}));
    EXPECT_EQ(events[1], (std::vector<uint8_t>{0x16, 0xAB}));
    EXPECT_EQ(events[2], (std::vector<uint8_t>{0xCD}));
    events = readAll(dir / "hex.txt", CaptureReader::Kind::Hex, 4);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], (std::vector<uint8_t>{0x68, 0x03, 0x44, 0x16}));
    EXPECT_EQ(events[1], (std::vector<uint8_t>{0xAB, 0xCD}));

    palvero::test::writeFile(dir / "bad.txt", "68 03\n6G\n");
    std::string error;
    events = readAll(dir / "bad.txt", CaptureReader::Kind::Hex, 0, &error);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(error, (dir / "bad.txt").string() + ":2: not hexadecimal byte pairs");
}

TEST(CaptureFileTest, AStampGivesTheLocalTimeOfTheWalk)
{
    const struct {
        CaptureStamp stamp;
        DateTime local;
    } cases[] = {
        {{0, 0}, {1970, 1, 1, 0, 0, 0}},
        {{-1, 0}, {1969, 12, 31, 23, 59, 59}},
        {{1709164800999, 3600}, {2024, 2, 29, 1, 0, 0}},           // a leap day, an hour ahead
        {{1709164800000, -5 * 3600}, {2024, 2, 28, 19, 0, 0}},     // behind UTC, the day before
        {{1711846800000, 3 * 3600}, {2024, 3, 31, 4, 0, 0}},       // summer time in Sofia
        {{4102444799000, 0}, {2099, 12, 31, 23, 59, 59}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.stamp.localTime(), c.local) << c.stamp.unixMs;

    // Now, as the operator's clock shows it.
    const CaptureStamp now = CaptureStamp::now();
    const std::time_t t = static_cast<std::time_t>(now.unixMs / 1000);
    std::tm local{};
    localtime_r(&t, &local);
    EXPECT_EQ(now.localTime(), (DateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                         local.tm_min, local.tm_sec}));
}

TEST(CaptureFileTest, ACaptureStopsGrowingAtItsLimitsAndSaysSo)
{
    TempDir dir;
    fs::create_directories(dir / "files");
    std::uint64_t free = 10000;
    std::int64_t clock = 0;
    auto writer = [&] {
        return std::make_unique<CaptureWriter>(CaptureLimits{200, 1000},
                                               [&](const fs::path&) { return free; }, [&] { return clock; });
    };
    const uint8_t bytes[40] = {0x68};
    std::string message;

    // The size: 8 bytes of signature and 56 per event of 40 bytes leave room for three.
    auto w = writer();
    ASSERT_TRUE(w->open(dir / "files", kStart, message)) << message;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(w->write(bytes, sizeof bytes, {i, 0}, message));
    EXPECT_FALSE(w->write(bytes, sizeof bytes, {3, 0}, message));
    EXPECT_TRUE(w->limitReached());
    EXPECT_FALSE(w->isOpen());
    EXPECT_EQ(message, "the capture " + w->path().string() + " has reached 200 bytes and stops growing here");
    EXPECT_EQ(fs::file_size(w->path()), 8u + 3 * 56);
    EXPECT_FALSE(w->write(bytes, sizeof bytes, {4, 0}, message)); // closed: takes nothing more

    // The disk: looked at once a second, and before the capture starts.
    w = writer();
    ASSERT_TRUE(w->open(dir / "files", kStart, message));
    ASSERT_TRUE(w->write(bytes, 10, {0, 0}, message));
    free = 1020;
    ASSERT_TRUE(w->write(bytes, 10, {0, 0}, message)); // not looked at yet
    clock = 1000;
    EXPECT_FALSE(w->write(bytes, 10, {1, 0}, message));
    EXPECT_TRUE(w->limitReached());
    EXPECT_EQ(message, "less than 1000 bytes of disk is left: the capture " + w->path().string()
                           + " stops growing here");
    free = 999;
    w = writer();
    EXPECT_FALSE(w->open(dir / "files", kStart, message));
    EXPECT_EQ(message, "less than 1000 bytes of disk is left in " + (dir / "files" / "captures").string());

    // The real limits: 1 GiB, and 100 MiB left.
    EXPECT_EQ(CaptureLimits{}.maxBytes, std::uint64_t(1) << 30);
    CaptureWriter real({}, [](const fs::path&) { return std::uint64_t(99) << 20; });
    EXPECT_FALSE(real.open(dir / "files", kStart, message));
    EXPECT_EQ(message, "less than 100 MiB of disk is left in " + (dir / "files" / "captures").string());
}

TEST(CaptureFileTest, ACaptureIsOnTheDiskAtLeastOnceASecond)
{
    TempDir dir;
    fs::create_directories(dir / "files");
    std::int64_t clock = 0;
    CaptureWriter w({}, [](const fs::path&) { return std::uint64_t(1) << 40; }, [&] { return clock; });
    std::string message;
    const uint8_t b[] = {0x68};
    ASSERT_TRUE(w.open(dir / "files", kStart, message));
    EXPECT_EQ(w.syncCount(), 1); // the empty capture with its name
    const struct {
        std::int64_t at;
        int syncs;
    } writes[] = {{100, 1}, {999, 1}, {1000, 2}, {1500, 2}, {1800, 2}};
    for (const auto& c : writes) {
        clock = c.at;
        ASSERT_TRUE(w.write(b, 1, {c.at, 0}, message));
        EXPECT_EQ(w.syncCount(), c.syncs) << c.at;
    }
    // The timer of the reading between telegrams, and Stop.
    w.sync();
    EXPECT_EQ(w.syncCount(), 3);
    w.sync();
    EXPECT_EQ(w.syncCount(), 3); // nothing waiting
    clock = 2200;
    ASSERT_TRUE(w.write(b, 1, {2200, 0}, message));
    EXPECT_EQ(w.syncCount(), 3);
    w.close();
    EXPECT_EQ(w.syncCount(), 4);
}

TEST(CaptureFileTest, AStampedCaptureCutShortOrDamaged)
{
    TempDir dir;
    fs::create_directories(dir / "files");
    CaptureWriter w;
    std::string error;
    ASSERT_TRUE(w.open(dir / "files", kStart, error));
    const uint8_t a[] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(w.write(a, 5, {1000, 0}, error));
    ASSERT_TRUE(w.write(a, 5, {2000, 0}, error));
    w.close();
    const std::string whole = palvero::test::readFile(w.path());
    ASSERT_EQ(whole.size(), 8u + 2 * 21);

    std::string damaged = whole;
    damaged[8 + 21 + 14] = '\x7F'; // the second event claims 8 MiB
    const struct {
        const char* name;
        std::string bytes;
        std::vector<std::vector<uint8_t>> events;
        std::string error;
    } cases[] = {
        {"whole", whole, {{1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}}, ""},
        {"cut in the bytes of the last event", whole.substr(0, whole.size() - 2), {{1, 2, 3, 4, 5}, {1, 2, 3}}, ""},
        {"cut in a stamp", whole.substr(0, 8 + 21 + 7), {{1, 2, 3, 4, 5}}, ""},
        {"only the signature", whole.substr(0, 8), {}, ""},
        {"a damaged count", damaged, {{1, 2, 3, 4, 5}},
         (dir / "c").string() + ": damaged at byte 29: an event of 8323077 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        palvero::test::writeFile(dir / "c", c.bytes);
        EXPECT_EQ(CaptureReader::detect(dir / "c"), CaptureReader::Kind::Stamped);
        std::string readError;
        // Whatever kind and chunk are asked for, the events come as they were received.
        EXPECT_EQ(readAll(dir / "c", CaptureReader::Kind::Hex, 2, &readError), c.events);
        EXPECT_EQ(readError, c.error);
    }
}

TEST(CaptureFileTest, KindIsToldByContent)
{
    TempDir dir;
    const std::pair<std::string, CaptureReader::Kind> cases[] = {
        {"68 0A 44\n", CaptureReader::Kind::Hex},
        {"# only a comment with h\n680A\n", CaptureReader::Kind::Hex},
        {std::string("\x68\x0A\x44\x2D", 4), CaptureReader::Kind::Raw},
        {"h1", CaptureReader::Kind::Raw},
        {"", CaptureReader::Kind::Raw},
        {std::string("\x89PVCAP1\n", 8), CaptureReader::Kind::Stamped},
        {std::string("\x89PVCAP2\n", 8), CaptureReader::Kind::Raw},
    };
    int n = 0;
    for (const auto& [content, kind] : cases) {
        const fs::path p = dir / ("c" + std::to_string(n++));
        palvero::test::writeFile(p, content);
        EXPECT_EQ(CaptureReader::detect(p), kind) << n;
    }
}

} // namespace

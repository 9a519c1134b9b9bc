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
    // 2026-05-04 07:03:08.250 UTC, two hours ahead locally.
    const uint8_t a[] = {0x68, 0x00, 0x16};
    ASSERT_TRUE(w.write(a, 3, {1777878188250, 7200}, error));
    // On disk at once: the signature, the stamp (milliseconds, offset, count) and the bytes.
    EXPECT_EQ(palvero::test::readFile(w.path()),
              std::string("\x89PVCAP1\n" "\xDA\x40\xCC\xF1\x9D\x01\x00\x00" "\x20\x1C\x00\x00" "\x03\x00\x00\x00"
                          "\x68\x00\x16",
                          27));
    w.close();
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
    // A leap day an hour ahead of UTC, and the day before five hours behind it.
    EXPECT_EQ((CaptureStamp{1709164800999, 3600}.localTime()), (DateTime{2024, 2, 29, 1, 0, 0}));
    EXPECT_EQ((CaptureStamp{1709164800000, -5 * 3600}.localTime()), (DateTime{2024, 2, 28, 19, 0, 0}));
    const CaptureStamp now = CaptureStamp::now();
    const std::time_t t = static_cast<std::time_t>(now.unixMs / 1000);
    std::tm l{};
    localtime_r(&t, &l);
    EXPECT_EQ(now.localTime(), (DateTime{l.tm_year + 1900, l.tm_mon + 1, l.tm_mday, l.tm_hour, l.tm_min, l.tm_sec}));
}

TEST(CaptureFileTest, ACaptureIsOnTheDiskOnceASecondAndStopsGrowingAtItsLimits)
{
    TempDir dir;
    fs::create_directories(dir / "files");
    std::uint64_t free = 10000;
    std::int64_t clock = 0;
    CaptureWriter w(CaptureLimits{260, 1000}, [&](const fs::path&) { return free; }, [&] { return clock; });
    const uint8_t bytes[40] = {0x68};
    std::string message;
    ASSERT_TRUE(w.open(dir / "files", kStart, message)) << message;
    // A sync a second while events come, one at sync() when one is waiting.
    for (const auto& [at, syncs] : {std::pair{0, 1}, {999, 1}, {1000, 2}, {1500, 2}}) {
        clock = at;
        ASSERT_TRUE(w.write(bytes, sizeof bytes, {at, 0}, message));
        EXPECT_EQ(w.syncCount(), syncs) << at;
    }
    w.sync();
    w.sync();
    EXPECT_EQ(w.syncCount(), 3);
    // 8 bytes of signature and 56 per event of 40 bytes: a fifth passes 260 bytes.
    EXPECT_FALSE(w.write(bytes, sizeof bytes, {1600, 0}, message));
    EXPECT_TRUE(w.limitReached() && !w.isOpen());
    EXPECT_EQ(message, "the capture " + w.path().string() + " has reached 260 bytes and stops growing here");
    EXPECT_EQ(fs::file_size(w.path()), 8u + 4 * 56);

    // The disk: looked at once a second, and before a capture starts.
    ASSERT_TRUE(w.open(dir / "files", kStart, message));
    free = 1020;
    clock = 3000;
    EXPECT_FALSE(w.write(bytes, 10, {0, 0}, message));
    EXPECT_EQ(message, "less than 1000 bytes of disk is left: the capture " + w.path().string()
                           + " stops growing here");
    CaptureWriter real({}, [](const fs::path&) { return std::uint64_t(99) << 20; });
    EXPECT_FALSE(real.open(dir / "files", kStart, message));
    EXPECT_EQ(message, "less than 100 MiB of disk is left in " + (dir / "files" / "captures").string());
    EXPECT_EQ(CaptureLimits{}.maxBytes, std::uint64_t(1) << 30);
}

TEST(CaptureFileTest, AStampedCaptureCutShortOrDamaged)
{
    TempDir dir;
    const std::string event = std::string(8, '\0') + std::string(4, '\0') + std::string("\x05\0\0\0\x01\x02\x03\x04\x05", 9);
    const std::string whole = std::string("\x89PVCAP1\n", 8) + event + event;
    std::string damaged = whole;
    damaged[8 + 21 + 14] = '\x7F'; // the second event claims 8 MiB
    const std::vector<uint8_t> five{1, 2, 3, 4, 5};
    const struct {
        std::string bytes;
        std::vector<std::vector<uint8_t>> events;
        std::string error;
    } cases[] = {
        {whole.substr(0, whole.size() - 2), {five, {1, 2, 3}}, ""}, // cut in the bytes of the last event
        {whole.substr(0, 8 + 21 + 7), {five}, ""},                   // cut in a stamp
        {damaged, {five}, (dir / "c").string() + ": damaged at byte 29: an event of 8323077 bytes"},
    };
    for (const auto& c : cases) {
        palvero::test::writeFile(dir / "c", c.bytes);
        std::string error;
        // Whatever kind and chunk are asked for, the events come as they were received.
        EXPECT_EQ(readAll(dir / "c", CaptureReader::Kind::Hex, 2, &error), c.events);
        EXPECT_EQ(error, c.error);
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

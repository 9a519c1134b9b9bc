// Capture files: written byte for byte into the captures folder, read back a receive event
// at a time, raw or hex.

#include "capture_file.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

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

TEST(CaptureFileTest, WriterKeepsEveryByteInAFileNamedByTheStart)
{
    TempDir dir;
    fs::create_directories(dir / "files");
    CaptureWriter w;
    std::string error;
    ASSERT_TRUE(w.open(dir / "files", kStart, error)) << error;
    EXPECT_EQ(w.path(), dir / "files" / "captures" / "2026-05-04_09-03-07.cap");
    const uint8_t a[] = {0x68, 0x00, 0x16};
    const uint8_t b[] = {0xFF, 0x0A, 0x0D};
    ASSERT_TRUE(w.write(a, 3, error));
    // On disk at once, before the capture is closed.
    EXPECT_EQ(palvero::test::readFile(w.path()), std::string("\x68\x00\x16", 3));
    ASSERT_TRUE(w.write(b, 3, error));
    w.close();
    EXPECT_EQ(palvero::test::readFile(dir / "files" / "captures" / "2026-05-04_09-03-07.cap"),
              std::string("\x68\x00\x16\xFF\x0A\x0D", 6));

    CaptureWriter second;
    ASSERT_TRUE(second.open(dir / "files", kStart, error));
    EXPECT_EQ(second.path().filename(), "2026-05-04_09-03-07-2.cap");
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

TEST(CaptureFileTest, KindIsToldByContent)
{
    TempDir dir;
    const std::pair<std::string, CaptureReader::Kind> cases[] = {
        {"68 0A 44\n", CaptureReader::Kind::Hex},
        {"# only a comment with h\n680A\n", CaptureReader::Kind::Hex},
        {std::string("\x68\x0A\x44\x2D", 4), CaptureReader::Kind::Raw},
        {"h1", CaptureReader::Kind::Raw},
        {"", CaptureReader::Kind::Raw},
    };
    int n = 0;
    for (const auto& [content, kind] : cases) {
        const fs::path p = dir / ("c" + std::to_string(n++));
        palvero::test::writeFile(p, content);
        EXPECT_EQ(CaptureReader::detect(p), kind) << n;
    }
}

} // namespace

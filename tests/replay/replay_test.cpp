#include "capture_file.h"
#include "error_log.h"
#include "meters_file.h"
#include "reception.h"
#include "replay.h"
#include "scripted_operator.h"
#include "settings.h"
#include "telegram_data.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>

namespace palvero {
namespace {

using test::fromHex;
using test::TempDir;

std::vector<std::vector<std::string>> parseCsv(const std::string& text, char sep = ';')
{
    std::vector<std::vector<std::string>> rows;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
        if (end == std::string::npos)
            break;
        std::string line = text.substr(at, end - at);
        EXPECT_TRUE(!line.empty() && line.back() == sep) << "every cell is followed by the separator";
        std::vector<std::string> cells;
        std::string cell;
        for (char c : line) {
            if (c == sep) {
                cells.push_back(cell);
                cell.clear();
            } else {
                cell += c;
            }
        }
        rows.push_back(cells);
        at = end + 2;
    }
    return rows;
}

std::string hexLine(const std::vector<uint8_t>& bytes)
{
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
        s += ' ';
    }
    return s;
}

// A program folder with the real telegrams' keys in meters.mrv and the settings that the
// telegram table assumes; the capture holds one frame per line.
struct RealWalk {
    TempDir dir;
    std::vector<test::RealTelegram> telegrams = test::loadRealTelegrams(PALVERO_TELEGRAMS);
    std::filesystem::path ini = dir / "palvero.ini";
    std::filesystem::path data = dir / "files";
    std::filesystem::path capture = dir / "walk.txt";

    RealWalk()
    {
        std::filesystem::create_directory(data);
        test::writeFile(data / "meters.mrv", "");
        FixedFormats formats;
        test::ScriptedOperator op;
        ErrorLog log(data, formats, op);
        MetersFile meters(data, log);
        std::string hex = "# real telegrams, one receiver frame per line\n";
        for (const auto& t : telegrams) {
            if (!t.key.empty()) {
                EXPECT_EQ(meters.SaveMeter(t.meterId, t.key), 1);
            }
            hex += hexLine(test::receiverFrame(fromHex(t.telegramHex))) + "\n";
        }
        test::writeFile(capture, hex);
        test::writeFile(ini, "[Misc]\r\nUseDBMeters=1\r\n[Wireless]\r\nAES128_5=1\r\n");
    }
};

TEST(RealTelegrams, ReplayShowsWhatEveryMeterMustShow)
{
    RealWalk walk;
    const std::string command = std::string(PALVERO_REPLAY) + " --ini " + walk.ini.string() + " --data "
        + walk.data.string() + " --hex " + walk.capture.string() + " 2>" + (walk.dir / "stderr.txt").string();
    FILE* p = ::popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    ASSERT_EQ(::pclose(p), 0) << test::readFile(walk.dir / "stderr.txt");

    auto rows = parseCsv(out);
    ASSERT_EQ(rows.size(), walk.telegrams.size());
    std::map<std::string, std::vector<std::string>> byId;
    for (const auto& r : rows) {
        ASSERT_EQ(r.size(), 16u);
        byId[r[1]] = r;
    }
    for (const auto& t : walk.telegrams) {
        SCOPED_TRACE(t.source + " " + t.meterId);
        ASSERT_TRUE(byId.count(t.meterId));
        const auto& r = byId[t.meterId];
        EXPECT_EQ(r[2], t.mfr);
        EXPECT_EQ(r[5], t.medium);
        EXPECT_EQ(r[6], t.mainValue);
        EXPECT_EQ(r[7], t.units);
        EXPECT_EQ(r[14], t.key) << "a stored key is copied into the row";
    }
    // Nothing went wrong on the way; a hex capture only has no times of its own.
    EXPECT_EQ(test::readFile(walk.dir / "stderr.txt"),
              "palvero-replay: " + walk.capture.string() + " " + kNoTimesText + "\n");
}

// The same walk in-process, where the row flags are visible: every meter would show in
// the tree as read.
TEST(RealTelegrams, EncryptedOnesDecrypt)
{
    RealWalk walk;
    Settings settings;
    settings.AES128_5 = true;
    settings.UseDBMeters = true;
    FixedFormats formats;
    test::ScriptedOperator op;
    ErrorLog log(walk.data, formats, op);
    MetersFile meters(walk.data, log);
    MeterTable table;
    Reception reception(table, settings, formats, &meters);
    for (const auto& t : walk.telegrams)
        reception.receive(test::receiverFrame(fromHex(t.telegramHex)));
    for (const auto& t : walk.telegrams) {
        SCOPED_TRACE(t.source + " " + t.meterId);
        int row = table.findMeterRow(t.meterId);
        ASSERT_GT(row, 0);
        EXPECT_EQ(table.flag(RowFlag::Decrypted, row), t.decrypted);
        EXPECT_EQ(table.cell(row, col::MainValue), t.mainValue);
    }
    EXPECT_TRUE(op.messages.empty());
}

TEST(Replay, OptionsAndUnreadableFiles)
{
    TempDir dir;
    test::writeFile(dir / "c.bin", "");
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* message;
    } cases[] = {
        {{}, 2, "no capture given"},
        {{"--bogus", (dir / "c.bin").string()}, 2, "unknown option --bogus"},
        {{"--chunk", "0", (dir / "c.bin").string()}, 2, "--chunk needs a whole number"},
        {{"--chunk", "x", (dir / "c.bin").string()}, 2, "--chunk needs a whole number"},
        {{"--ini"}, 2, "option --ini needs a value"},
        {{(dir / "missing.bin").string()}, 2, "cannot read capture"},
        {{(dir / "c.bin").string()}, 0, ""},
    };
    for (const auto& c : cases) {
        std::ostringstream out, err;
        EXPECT_EQ(runReplay(c.args, out, err), c.code);
        const std::string message = err.str();
        if (c.code == 2) {
            EXPECT_NE(message.find(c.message), std::string::npos) << message;
            EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << "one line";
            EXPECT_EQ(out.str(), "");
        }
    }
}

TEST(Replay, BadHexLineNamesItsLine)
{
    TempDir dir;
    test::writeFile(dir / "c.txt", "# comment\n68 04 44 AA BB CC 16\n68 0\n");
    std::ostringstream out, err;
    EXPECT_EQ(runReplay({"--hex", (dir / "c.txt").string()}, out, err), 2);
    EXPECT_NE(err.str().find("c.txt:3:"), std::string::npos) << err.str();
}

TEST(Replay, RawCaptureInAnyChunkingGivesTheSameTable)
{
    TempDir dir;
    std::string raw;
    for (const char* telegram : {"1E44AE4C9956341268077A36001000 2F2F0413181E0000023B00000259C9F2",
                                 "00 44 2D 2C 78 56 34 12 01 07 7A 01 00 00 00 04 13 E8 03 00 00"}) {
        auto f = test::receiverFrame(fromHex(telegram));
        raw.append(f.begin(), f.end());
        raw += "\x11\x68\x03"; // stray bytes between frames
    }
    test::writeFile(dir / "c.bin", raw);
    std::string first;
    for (const char* chunk : {"1", "5", "64", "4096"}) {
        std::ostringstream out, err;
        ASSERT_EQ(runReplay({"--chunk", chunk, (dir / "c.bin").string()}, out, err), 0);
        if (first.empty())
            first = out.str();
        EXPECT_EQ(out.str(), first) << "chunk " << chunk;
    }
    EXPECT_EQ(parseCsv(first).size(), 2u);
}

TEST(Replay, RowsOfAStampedCaptureHaveTheTimeTheirTelegramWasHeard)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "files");
    CaptureWriter w;
    std::string error;
    ASSERT_TRUE(w.open(dir / "files", {2026, 5, 4, 9, 0, 0}, error)) << error;
    const CaptureStamp heard[] = {{1777885201500, 7200}, {1777971599000, 7200}}; // 4 and 5 May
    for (int i : {0, 1}) {
        const auto f = test::receiverFrame(fromHex(std::string("00 44 2D 2C 7") + char('0' + i)
                                                   + " 56 34 12 01 07 7A 01 00 00 00 04 13 E8 03 00 00"));
        ASSERT_TRUE(w.write(f.data(), f.size(), heard[i], error));
    }
    w.close();
    std::ostringstream out, err;
    ASSERT_EQ(runReplay({w.path().string()}, out, err), 0) << err.str();
    const auto rows = parseCsv(out.str());
    ASSERT_EQ(rows.size(), 2u);
    SystemFormats formats;
    for (std::size_t r : {0, 1})
        EXPECT_EQ(rows[r][col::Time] + " " + rows[r][col::Date],
                  formats.timeText(heard[r].localTime()) + " " + formats.dateText(heard[r].localTime()));
    EXPECT_EQ(err.str(), "") << "a stamped capture needs no note";
}

} // namespace
} // namespace palvero

#include "sim_process.h"
#include "telegram_data.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <set>
#include <sstream>

namespace palvero::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

std::string arg(int n)
{
    return std::to_string(n);
}

Bytes telegram(const std::string& source)
{
    for (const auto& t : loadRealTelegrams(PALVERO_TELEGRAMS))
        if (t.source == source)
            return fromHex(t.telegramHex);
    throw std::runtime_error("no telegram " + source);
}

std::string hex(const Bytes& b, bool spaced)
{
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (uint8_t v : b) {
        s.push_back(digits[v >> 4]);
        s.push_back(digits[v & 15]);
        if (spaced)
            s.push_back(' ');
    }
    return s;
}

long msSince(Clock::time_point t)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// Ends the run by closing the port (the simulator stops lingering) and gives its report.
std::string finish(SimProcess& sim, SlavePort& port)
{
    port.close();
    EXPECT_TRUE(sim.waitExit(10000));
    EXPECT_EQ(sim.exitCode(), 0);
    return sim.errorText();
}

class Capture {
public:
    explicit Capture(const std::string& text)
    {
        writeFile(m_dir / "capture.txt", text);
    }
    std::string path() const { return (m_dir / "capture.txt").string(); }
    std::filesystem::path file(const std::string& name) const { return m_dir / name; }

private:
    TempDir m_dir;
};

// One whole frame line, one telegram line without spaces, the same telegram spaced with its
// own signal byte.
const Bytes kFrameLine = fromHex("68 0B 44 2D 2C 78 56 34 12 01 07 7A 9A 16");

std::string mixedCapture()
{
    Bytes t = telegram("iperl");
    return "# test capture\n\n" + hex(kFrameLine, true) + "\n  " + hex(t, false) + "   # trailing note\n" + hex(t, true)
        + "rssi=B4\n";
}

struct FramingCase {
    std::string name;
    std::vector<std::string> args;
    bool rssi;
    bool crc;
};

void PrintTo(const FramingCase& c, std::ostream* os)
{
    *os << c.name;
}

class SimFraming : public ::testing::TestWithParam<FramingCase> {};

TEST_P(SimFraming, FrameLinesPlayUnchangedAndTelegramLinesAreWrapped)
{
    const auto& c = GetParam();
    Capture capture(mixedCapture());
    std::vector<std::string> args = {"--rate", "0", "--start-delay", "0", "--count", "3"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(capture.path());
    SimProcess sim(args);
    ASSERT_FALSE(sim.port().empty()) << sim.errorText();
    SlavePort port(sim.port());
    ASSERT_TRUE(port.isOpen());

    Bytes t = telegram("iperl");
    std::vector<Bytes> expected = {kFrameLine, receiverFrame(t, 0x9A, c.crc, c.rssi), receiverFrame(t, 0xB4, c.crc, c.rssi)};
    for (size_t i = 0; i < expected.size(); ++i) {
        Bytes got = port.frame();
        ASSERT_EQ(got.size(), expected[i].size()) << "frame " << i;
        if (c.crc && i > 0) {
            // the check bytes are the receiver's own; only their place is fixed
            expected[i][got.size() - 3] = got[got.size() - 3];
            expected[i][got.size() - 2] = got[got.size() - 2];
        }
        EXPECT_EQ(got, expected[i]) << "frame " << i;
    }
    EXPECT_TRUE(port.readFor(200).empty()) << "nothing after the counted frames";
    EXPECT_NE(finish(sim, port).find("frames sent: 3\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Options, SimFraming,
                         ::testing::Values(FramingCase{"Plain", {}, true, false},
                                           FramingCase{"NoRssi", {"--no-rssi"}, false, false},
                                           FramingCase{"Crc", {"--protocol", "crc"}, true, true},
                                           FramingCase{"CrcNoRssi", {"--protocol=crc", "--no-rssi"}, false, true}),
                         [](const auto& info) { return info.param.name; });

TEST(WmbusSim, LoopRepeatsTheCaptureUpToTheCount)
{
    Capture capture(mixedCapture());
    SimProcess sim({"--rate", "0", "--start-delay", "0", "--loop", "--count", "7", capture.path()});
    SlavePort port(sim.port());
    std::vector<Bytes> frames;
    for (int i = 0; i < 7; ++i)
        frames.push_back(port.frame());
    for (int i = 3; i < 7; ++i)
        EXPECT_EQ(frames[i], frames[i - 3]) << "frame " << i;
    EXPECT_EQ(frames[0], kFrameLine);
    EXPECT_TRUE(port.readFor(200).empty());
    EXPECT_NE(finish(sim, port).find("frames sent: 7\n"), std::string::npos);
}

TEST(WmbusSim, PlaybackWaitsForTheStartDelayKeepsItsRateAndPausesWhileThePortIsClosed)
{
    Capture capture(mixedCapture());
    SimProcess sim({"--rate", "10", "--start-delay", "400", "--loop", capture.path()});
    SlavePort port(sim.port());
    auto opened = Clock::now();
    ASSERT_FALSE(port.frame().empty());
    EXPECT_GE(msSince(opened), 390);
    auto first = Clock::now();
    for (int i = 0; i < 3; ++i)
        ASSERT_FALSE(port.frame().empty());
    EXPECT_GE(msSince(first), 270) << "three intervals at 10 frames per second";

    // Frames played into a closed port would be waiting for the next opener.
    port.close();
    poll(nullptr, 0, 500);
    port.reopen();
    auto reopened = Clock::now();
    Bytes f = port.frame();
    ASSERT_FALSE(f.empty()) << "playback resumes with a whole frame";
    EXPECT_GE(msSince(reopened), 390);
    ASSERT_FALSE(port.frame().empty());

    sim.signal(SIGTERM);
    ASSERT_TRUE(sim.waitExit(10000));
    EXPECT_EQ(sim.exitCode(), 0);
    std::string report = sim.errorText();
    auto at = report.find("frames sent: ");
    ASSERT_NE(at, std::string::npos) << report;
    EXPECT_GE(std::stol(report.substr(at + 13)), 6);
}

TEST(WmbusSim, V1ExchangeIsAnsweredAndLogged)
{
    Capture capture(mixedCapture());
    auto log = capture.file("received.bin");
    SimProcess sim({"--start-delay", "60000", "--log", log.string(), capture.path()});
    SlavePort port(sim.port());

    struct Step {
        Bytes send;
        std::string answer;
    };
    const std::vector<Step> steps = {
        {{0x00}, ">"},                                // Start: accept-all mode in RAM
        {{'I', 0x02, 'X'}, ""},
        {{0x00}, ">"},                                // Start: radio mode S2 in RAM, its value a zero byte
        {{'G', 0x00, 'X'}, ""},
        {{0x00}, ">"},                                // memory: mode T1+C and RSSI on
        {{'M'}, ">"},
        {{0x03, 0x0A, 0x05, 0x01, 0xFF, 'X'}, ""},
        {{0x00}, ">"},                                // an exchange given up after the prompt
        {{0xFF, 'X'}, ""},
        {{0x00}, ">"},                                // value and X lost to the program's purge:
        {{'I'}, ""},                                  // the next exchange is still answered
        {{0x00}, ">"},
        {{'G', 0x01, 'X'}, ""},
    };
    Bytes sent;
    for (const auto& s : steps) {
        port.write(s.send);
        sent.insert(sent.end(), s.send.begin(), s.send.end());
        Bytes got = port.read(s.answer.size(), 5000);
        EXPECT_EQ(std::string(got.begin(), got.end()), s.answer) << "after " << hex(s.send, true);
    }
    EXPECT_TRUE(port.readFor(200).empty()) << "no answer to parameters or X";

    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (readFile(log).size() < sent.size() && Clock::now() < deadline)
        poll(nullptr, 0, 10);
    std::string logged = readFile(log);
    EXPECT_EQ(Bytes(logged.begin(), logged.end()), sent);
}

TEST(WmbusSim, CommandModeHoldsTelegramsUntilX)
{
    Capture capture(mixedCapture());
    SimProcess sim({"--rate", "20", "--start-delay", "0", "--loop", capture.path()});
    SlavePort port(sim.port());
    ASSERT_FALSE(port.frame().empty());

    port.write(Bytes{0x00});
    // Frames already on their way come whole, then the prompt.
    for (;;) {
        Bytes b = port.read(1, 5000);
        ASSERT_EQ(b.size(), 1u);
        if (b[0] == '>')
            break;
        ASSERT_EQ(b[0], 0x68) << "the prompt lands between frames";
        Bytes len = port.read(1, 5000);
        ASSERT_EQ(len.size(), 1u);
        ASSERT_EQ(port.read(len[0] + 1u, 5000).size(), len[0] + 1u);
    }
    EXPECT_TRUE(port.readFor(400).empty()) << "no telegrams in command mode";
    port.write(std::string("X"));
    EXPECT_FALSE(port.frame().empty()) << "telegrams again after X";
}

TEST(WmbusSim, V2TextCommandsAreAnsweredAndRemembered)
{
    Capture capture(mixedCapture());
    SimProcess sim({"--start-delay", "60000", capture.path()});
    SlavePort port(sim.port());

    struct Step {
        std::string send;
        std::vector<std::string> answerHolds;
    };
    const std::string key = "000102030405060708090A0B0C0D0E0F";
    const std::vector<Step> steps = {
        {"get main", {"RXL-IoT", "wmod=1 (T1)", "decr off", "rssi on", "mkey none"}},
        {"set wmod=3", {"OK\r\n"}},
        {"set rssi=0", {"OK\r\n"}},
        {"set decr=1\r\n", {"OK\r\n"}}, // a line ending is tolerated, not answered twice
        {"set mkey=" + key, {"OK\r\n"}},
        {"set decr=7", {"ERROR\r\n"}},
        {"set mkey=ABCD", {"ERROR\r\n"}}, // ends by the pause
        {"hello", {}},                    // not a receiver command: no answer
        {"get main", {"wmod=3 (S1)", "decr on", "rssi off", "mkey set"}},
        {"set wmod=2", {"OK\r\n"}},
        {"get main", {"wmod=2,"}},
    };
    for (const auto& s : steps) {
        port.write(s.send);
        if (s.answerHolds.empty()) {
            EXPECT_TRUE(port.readFor(300).empty()) << s.send;
            continue;
        }
        std::string answer = port.line();
        for (const auto& part : s.answerHolds)
            EXPECT_NE(answer.find(part), std::string::npos) << s.send << " -> " << answer;
        if (s.answerHolds[0] == "OK\r\n" || s.answerHolds[0] == "ERROR\r\n") {
            EXPECT_EQ(answer, s.answerHolds[0]) << s.send;
        }
    }
    EXPECT_TRUE(port.readFor(200).empty());
}

TEST(WmbusSim, VaryIdCyclesThroughBcdMeterIds)
{
    Capture capture(hex(kFrameLine, true) + "\n");
    SimProcess sim({"--rate", "0", "--start-delay", "0", "--loop", "--vary-id", "12", "--count", "14", capture.path()});
    SlavePort port(sim.port());
    const std::vector<Bytes> ids = {{0x01, 0, 0, 0}, {0x02, 0, 0, 0}, {0x03, 0, 0, 0}, {0x04, 0, 0, 0}, {0x05, 0, 0, 0},
                                    {0x06, 0, 0, 0}, {0x07, 0, 0, 0}, {0x08, 0, 0, 0}, {0x09, 0, 0, 0}, {0x10, 0, 0, 0},
                                    {0x11, 0, 0, 0}, {0x12, 0, 0, 0}, {0x01, 0, 0, 0}, {0x02, 0, 0, 0}};
    for (size_t i = 0; i < ids.size(); ++i) {
        Bytes f = port.frame();
        ASSERT_EQ(f.size(), kFrameLine.size());
        EXPECT_EQ(Bytes(f.begin() + 5, f.begin() + 9), ids[i]) << "frame " << i;
        Bytes rest = f;
        std::copy(kFrameLine.begin() + 5, kFrameLine.begin() + 9, rest.begin() + 5);
        EXPECT_EQ(rest, kFrameLine) << "only the ID changes";
    }
    finish(sim, port);
}

TEST(WmbusSim, CloseAfterPullsTheReceiverOut)
{
    Capture capture(mixedCapture());
    auto link = capture.file("ttyWMBUS");
    SimProcess sim({"--rate", "0", "--start-delay", "0", "--loop", "--close-after", "2", "--link", link.string(),
                    capture.path()});
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.port());
    SlavePort port(link.string());
    ASSERT_TRUE(port.isOpen());
    EXPECT_TRUE(port.hangsUp(5000));
    ASSERT_TRUE(sim.waitExit(10000));
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_NE(sim.errorText().find("frames sent: 2\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(WmbusSim, SignalEndsTheRunAndRemovesTheLink)
{
    Capture capture(mixedCapture());
    auto link = capture.file("ttyWMBUS");
    std::filesystem::create_symlink("/nonexistent/old", link); // left by an earlier run
    SimProcess sim({"--link", link.string(), capture.path()});
    ASSERT_FALSE(sim.port().empty()) << sim.errorText();
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.port());
    sim.signal(SIGINT);
    ASSERT_TRUE(sim.waitExit(10000));
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_EQ(sim.errorText(), "frames sent: 0\n");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

struct BadStart {
    std::string name;
    std::string capture; // empty: no capture file is written
    std::vector<std::string> args;
    std::string message;
};

void PrintTo(const BadStart& c, std::ostream* os)
{
    *os << c.name;
}

class SimRefuses : public ::testing::TestWithParam<BadStart> {};

TEST_P(SimRefuses, WithExitCode2AndOneLine)
{
    const auto& c = GetParam();
    Capture capture(c.capture);
    std::vector<std::string> args = c.args;
    args.push_back(c.capture.empty() ? capture.file("missing.txt").string() : capture.path());
    SimProcess sim(args);
    EXPECT_TRUE(sim.port().empty());
    ASSERT_TRUE(sim.waitExit(10000));
    EXPECT_EQ(sim.exitCode(), 2);
    std::string text = sim.errorText();
    EXPECT_NE(text.find(c.message), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

const std::string kGood = "68 0B 44 2D 2C 78 56 34 12 01 07 7A 9A 16\n";

INSTANTIATE_TEST_SUITE_P(
    BadInput, SimRefuses,
    ::testing::Values(
        BadStart{"NotHex", kGood + "# fine\n\n68 0B 44 2D 2C 78 56 34 12 01 07 7A 9A 1G\n", {}, "line 4:"},
        BadStart{"SplitPair", kGood + "68 0B 44 2 D2C\n", {}, "line 2:"},
        BadStart{"TelegramLengthOff", kGood + kGood + "0B 44 2D 2C 78 56 34 12 01 07 7A\n", {}, "line 3:"},
        BadStart{"FrameLengthOff", "68 0C 44 2D 2C 78 56 34 12 01 07 7A 9A 16\n", {}, "line 1:"},
        BadStart{"ShorterThanLinkHeader", "09 44 2D 2C 78 56 34 12 01 07\n", {}, "line 1:"},
        BadStart{"RssiOnFrameLine", "68 0B 44 2D 2C 78 56 34 12 01 07 7A 9A 16 rssi=80\n", {}, "line 1:"},
        BadStart{"RssiNotHex", "0A 44 2D 2C 78 56 34 12 01 07 7A rssi=XY\n", {}, "line 1:"},
        BadStart{"NoFrames", "# only a comment\n", {}, "no frames"},
        BadStart{"MissingFile", "", {}, "cannot read"},
        BadStart{"RateNotANumber", kGood, {"--rate", "fast"}, "--rate"},
        BadStart{"UnknownProtocol", kGood, {"--protocol", "morvane"}, "--protocol"},
        BadStart{"CountZero", kGood, {"--count", "0"}, "--count"},
        BadStart{"VaryIdBeyondEightDigits", kGood, {"--vary-id", "100000000"}, "--vary-id"},
        BadStart{"UnknownOption", kGood, {"--loud"}, "unknown option --loud"}),
    [](const auto& info) { return info.param.name; });

TEST(WmbusSimDemo, HoldsEveryRealTelegramAndEveryKeyAndPlays)
{
    std::ifstream in(WMBUS_SIM_DEMO);
    ASSERT_TRUE(in);
    std::set<std::string> telegrams;
    std::set<std::pair<std::string, std::string>> keys;
    std::string line;
    int frames = 0;
    while (std::getline(in, line)) {
        if (line.rfind("# key ", 0) == 0) {
            std::istringstream fields(line.substr(6));
            std::string id, key, more;
            fields >> id >> key >> more;
            EXPECT_EQ(id.size(), 8u) << line;
            EXPECT_EQ(key.size(), 32u) << line;
            EXPECT_TRUE(more.empty()) << line;
            keys.insert({id, key});
        } else if (!line.empty() && line[0] != '#') {
            telegrams.insert(line.substr(0, line.find(' ')));
            ++frames;
        }
    }
    for (const auto& t : loadRealTelegrams(PALVERO_TELEGRAMS)) {
        EXPECT_EQ(telegrams.count(t.telegramHex), 1u) << t.source;
        if (!t.key.empty()) {
            EXPECT_EQ(keys.count({t.meterId, t.key}), 1u) << t.source;
        }
    }
    EXPECT_GT(frames, 40) << "some meters are heard more than once";

    SimProcess sim({"--rate", "0", "--start-delay", "0", "--count", arg(frames), WMBUS_SIM_DEMO});
    SlavePort port(sim.port());
    for (int i = 0; i < frames; ++i)
        ASSERT_FALSE(port.frame().empty()) << "frame " << i;
    EXPECT_NE(finish(sim, port).find("frames sent: " + arg(frames) + "\n"), std::string::npos);
}

} // namespace
} // namespace palvero::test

#include "fake_serial_port.h"
#include "scripted_operator.h"
#include "v2_commands.h"

#include <gtest/gtest.h>

namespace palvero {
namespace {

using Lines = std::vector<std::string>;

struct StatusListener : MeterTableListener {
    Lines texts; // "panel:text"
    void statusText(int panel, const std::string& text) override
    {
        texts.push_back(std::to_string(panel) + ":" + text);
    }
};

// The v2 commands over a fake command port and a fake reply timer. Everything the
// Settings window would be told is recorded: "status 1:...", "label shown", "reply ...",
// "port open".
struct Rig {
    Lines transcript;
    test::FakeSerialPort port{transcript};
    test::FakeSleeper sleeper{transcript};
    test::FakeTimer timer{transcript};
    Settings settings;
    MeterTable table;
    test::ScriptedOperator op;
    StatusListener status;
    V2Commands commands{port, sleeper, timer, settings, table, op};
    Lines window;

    Rig()
    {
        settings.Name = "COM3";
        settings.Speed = "19200";
        settings.Parity = "None";
        table.addListener(&status);
        commands.onWindowStatus = [this](int panel, const std::string& text) {
            window.push_back("status " + std::to_string(panel) + ":" + text);
        };
        commands.onErrorLabel = [this](bool shown) { window.push_back(shown ? "label shown" : "label hidden"); };
        commands.onReply = [this](const std::string& reply) { window.push_back("reply " + reply); };
        commands.onPortChanged = [this](bool open) { window.push_back(open ? "port open" : "port closed"); };
    }
    ~Rig() { table.removeListener(&status); }

    std::string device() const { return deviceForPortName(settings.Name); }
    std::string written() const { return std::string(port.written.begin(), port.written.end()); }
};

TEST(V2Commands, EachCommandGoesOutAsItsTextWithoutTerminator)
{
    struct Case {
        std::string name;
        std::function<void(V2Commands&)> press;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"mode T1", [](V2Commands& c) { c.sendMode("T1"); }, "set wmod=1"},
        {"mode S1", [](V2Commands& c) { c.sendMode("S1"); }, "set wmod=3"},
        {"mode C", [](V2Commands& c) { c.sendMode("C (Frame B)"); }, "set wmod=5"},
        {"decryption on", [](V2Commands& c) { c.sendDecryption(true); }, "set decr=1"},
        {"decryption off", [](V2Commands& c) { c.sendDecryption(false); }, "set decr=0"},
        {"rssi on", [](V2Commands& c) { c.sendRssi(true); }, "set rssi=1"},
        {"rssi off", [](V2Commands& c) { c.sendRssi(false); }, "set rssi=0"},
        {"get main", [](V2Commands& c) { c.sendGetMain(); }, "get main"},
        {"key in lower case",
         [](V2Commands& c) { c.sendMasterKey("00112233445566778899aabbccddeeff"); },
         "set mkey=00112233445566778899AABBCCDDEEFF"},
        {"free command", [](V2Commands& c) { c.sendFree("set wmod=1\r\n "); }, "set wmod=1\r\n "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        c.press(rig.commands);
        EXPECT_EQ(rig.written(), c.text);
        EXPECT_EQ(rig.transcript, (Lines{"probe " + rig.device(), "open " + rig.device() + " 19200 None", "purge",
                                         "write " + test::hexBytes(rig.port.written), "timer start 1700"}));
        EXPECT_TRUE(rig.commands.portOpen());
        EXPECT_TRUE(rig.op.messages.empty());
        EXPECT_EQ(rig.table.readerLog, Lines{"COM3 - 19200,8,None"});
        EXPECT_EQ(rig.status.texts, Lines{"0:COM3 - 19200,8,None"});
    }
}

TEST(V2Commands, TickCollectsTheReplyAndReleasesThePort)
{
    Rig rig;
    rig.commands.sendMode("S1");
    rig.port.arrive({'O', 'K', '\r', '\n'});
    rig.transcript.clear();
    rig.commands.replyTick();
    EXPECT_EQ(rig.transcript, (Lines{"read 1024/0 -> 4", "read 1024/0 -> 0", "timer stop", "purge", "sleep 40", "close"}));
    EXPECT_EQ(rig.window, (Lines{"label hidden", "port open", "reply OK\r\n", "port closed"}));
    EXPECT_FALSE(rig.commands.portOpen());
    EXPECT_FALSE(rig.commands.waiting());

    // No answer: nothing for the reply log, the port is released all the same.
    rig.window.clear();
    rig.commands.sendGetMain();
    rig.commands.replyTick();
    EXPECT_EQ(rig.window, (Lines{"label hidden", "port open", "port closed"}));
}

TEST(V2Commands, SecondCommandWhileWaitingDiscardsTheFirstAnswerAndKeepsTheTick)
{
    Rig rig;
    rig.commands.sendDecryption(true);
    rig.port.arrive({'O', 'K'});
    rig.transcript.clear();
    rig.commands.sendRssi(false);
    EXPECT_EQ(rig.transcript, (Lines{"purge", "write 73 65 74 20 72 73 73 69 3D 30"})) << "no second timer start";
    rig.port.arrive({'E', 'R'});
    rig.commands.replyTick();
    EXPECT_EQ(rig.window.at(rig.window.size() - 2), "reply ER");
}

TEST(V2Commands, EmptyFreeCommandOpensArmsAndClosesWithoutSending)
{
    Rig rig;
    rig.commands.sendFree("");
    rig.commands.replyTick();
    EXPECT_TRUE(rig.port.written.empty());
    EXPECT_EQ(rig.transcript, (Lines{"probe " + rig.device(), "open " + rig.device() + " 19200 None", "purge", "write ",
                                     "timer start 1700", "read 1024/0 -> 0", "timer stop", "purge", "sleep 40",
                                     "close"}));
    // "Error command" belongs to the command that was refused: the next one hides it.
    EXPECT_EQ(rig.window, (Lines{"label hidden", "port open", "port closed"}));
}

TEST(V2Commands, ModeOutsideTheListIsRefusedBeforeThePortIsTouched)
{
    for (const std::string mode : {"T2", "t1", "C", "", "S1 "}) {
        SCOPED_TRACE("mode '" + mode + "'");
        EXPECT_EQ(V2Commands::modeCommand(mode), std::nullopt);
        Rig rig;
        rig.commands.sendMode(mode);
        EXPECT_TRUE(rig.transcript.empty());
        EXPECT_EQ(rig.window, (Lines{"status 1:Not a valid command", "label shown"}));
    }
}

TEST(V2Commands, KeyThatIsNotThirtyTwoHexDigitsIsRefusedBeforeThePortIsTaken)
{
    for (const std::string key : {"", "0011223344556677889900AABBCCDDE", "00112233445566778899AABBCCDDEEFF0",
                                  "00112233445566778899AABBCCDD EFF", "00112233445566778899AABBCCDDEEFG"}) {
        SCOPED_TRACE("key '" + key + "'");
        EXPECT_EQ(V2Commands::masterKeyCommand(key), std::nullopt);
        Rig rig;
        rig.commands.sendMasterKey(key);
        EXPECT_TRUE(rig.port.written.empty());
        EXPECT_TRUE(rig.transcript.empty());
        EXPECT_EQ(rig.window, Lines{"label shown"});
    }
    // While an earlier command waits for its answer, the port stays with it until the tick.
    Rig rig;
    rig.commands.sendGetMain();
    rig.transcript.clear();
    rig.commands.sendMasterKey("abc");
    EXPECT_TRUE(rig.transcript.empty());
    EXPECT_TRUE(rig.commands.portOpen());
    EXPECT_TRUE(rig.commands.waiting());
}

TEST(V2Commands, PastedKeyGoesOutAsItsDigitsAndRepliesShowTheirBytes)
{
    const std::string digits = "00112233445566778899AABBCCDDEEFF";
    for (const std::string key : {"00112233445566778899aabbccddeeff", "0x00112233445566778899AABBCCDDEEFF",
                                  "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF",
                                  "0011-2233-4455-6677-8899-AABB-CCDD-EEFF", "  00112233 44556677 8899AABB CCDDEEFF\t"})
        EXPECT_EQ(V2Commands::masterKeyCommand(key), "set mkey=" + digits) << key;

    const struct {
        std::string reply, shown;
    } replies[] = {
        {"OK", "OK"},
        {"wmod=3\r\nrssi=1\r\n", "wmod=3\r\nrssi=1\r\n"},
        {std::string("OK\0\xFF", 4), "OK[00 FF]"},
        {std::string("\x01ver\x7F", 5), "[01]ver[7F]"},
        {"", ""},
    };
    for (const auto& r : replies)
        EXPECT_EQ(V2Commands::replyText(r.reply), r.shown) << r.shown;
}

TEST(V2Commands, PortThatTheReadingHoldsIsNamedNotProbed)
{
    for (const std::string held : {"COM3", "COM4", ""}) {
        SCOPED_TRACE("reading holds '" + held + "'");
        Rig rig;
        rig.commands.readingPort = [&held] { return held; };
        rig.commands.sendGetMain();
        if (held == "COM3") {
            EXPECT_TRUE(rig.transcript.empty()) << "the program's own port is not probed";
            ASSERT_EQ(rig.op.messages.size(), 1u);
            EXPECT_EQ(rig.op.messages[0].text, V2Commands::kReadingHoldsPortText);
            EXPECT_EQ(rig.window, (Lines{"label hidden", "status 1:Stop the reading first"}));
            EXPECT_TRUE(rig.table.readerLog.empty());
        } else {
            EXPECT_EQ(rig.written(), "get main");
            EXPECT_TRUE(rig.op.messages.empty());
        }
    }
}

TEST(V2Commands, PortThatCannotBeUsedIsReportedAndNothingIsSent)
{
    struct Case {
        std::string name;
        bool held, missing;
        std::string speed;
        Lines window;
        std::string logLine;
        Lines mainStatus;
    };
    const std::vector<Case> cases = {
        {"held", true, false, "19200", {"label hidden", "status 0:COM3 is closed", "status 1:Serial port opened or not existing"},
         "The selected serial port (COM3) is in use by another program!", {}},
        {"missing", false, true, "19200", {"label hidden", "status 0:COM3 is closed", "status 1:Serial port opened or not existing"},
         "The selected serial port (COM3) does not exist!", {}},
        {"speed not a number", false, false, "19k2", {"label hidden", "status 1:Serial port opened or not existing"},
         "Unknown Exception on opening serial port...", {"0:COM3 is closed"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.port.probeFails = c.held;
        rig.port.deviceMissing = c.missing;
        rig.settings.Speed = c.speed;
        rig.commands.sendGetMain();
        EXPECT_TRUE(rig.port.written.empty());
        EXPECT_FALSE(rig.commands.waiting());
        ASSERT_EQ(rig.op.messages.size(), 1u);
        EXPECT_EQ(rig.op.messages[0].text, "Unable to use selected COM port!");
        EXPECT_EQ(rig.window, c.window);
        EXPECT_EQ(rig.table.readerLog, Lines{c.logLine});
        EXPECT_EQ(rig.status.texts, c.mainStatus);
    }
}

TEST(V2Commands, PortOpensWithTheWindowsFallbacks)
{
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"14400", "Even", "19200 Even"}, {"57600", "Bogus", "57600 None"},
    };
    for (const auto& [speed, parity, line] : cases) {
        SCOPED_TRACE(speed + " " + parity);
        Rig rig;
        rig.settings.Speed = speed;
        rig.settings.Parity = parity;
        rig.commands.openOrClose();
        EXPECT_EQ(rig.transcript.back(), "open " + rig.device() + " " + line);
        EXPECT_EQ(rig.table.readerLog, Lines{"COM3 - " + speed + ",8," + parity});
        rig.commands.openOrClose();
        EXPECT_FALSE(rig.commands.portOpen());
    }
}

TEST(V2Commands, StuckOutputAndALostReceiverAreReported)
{
    Rig rig;
    rig.port.purgeTimesOut = true;
    rig.commands.sendGetMain();
    EXPECT_EQ(rig.table.readerLog.back(),
              "The serial port (COM3) did not send its data within 1000 ms; the rest was discarded!");

    rig.port.loseDevice("Input/output error");
    EXPECT_FALSE(rig.commands.portOpen());
    EXPECT_EQ(rig.table.readerLog.back(), "The receiver on COM3 was lost: Input/output error");
    EXPECT_EQ(rig.window.back(), "port closed");
    // The tick finds nothing and closes nothing more.
    rig.transcript.clear();
    rig.commands.replyTick();
    EXPECT_EQ(rig.transcript, (Lines{"timer stop", "purge"}));
}

} // namespace
} // namespace palvero

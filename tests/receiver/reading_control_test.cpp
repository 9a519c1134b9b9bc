#include "fake_serial_port.h"
#include "reading_control.h"
#include "scripted_operator.h"
#include "telegram_data.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace palvero {

// Found by argument-dependent lookup from the comparisons of state lists below.
static bool operator==(const ReadingControl::State& a, const ReadingControl::State& b)
{
    return a.portOpen == b.portOpen && a.reading == b.reading;
}

[[maybe_unused]] static void PrintTo(const ReadingControl::State& s, std::ostream* os)
{
    *os << "{portOpen " << s.portOpen << ", reading " << s.reading << "}";
}

namespace {

using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

struct StatusListener : MeterTableListener {
    Lines texts; // "panel:text"
    int updatedRows = 0;
    void statusText(int panel, const std::string& text) override
    {
        texts.push_back(std::to_string(panel) + ":" + text);
    }
    void rowUpdated(int) override { ++updatedRows; }
};

// The reading control over a fake port, a fake clock and a scripted operator.
struct Rig {
    Lines transcript;
    test::FakeSerialPort port{transcript};
    test::FakeSleeper sleeper{transcript};
    Settings settings;
    MeterTable table;
    FixedFormats formats;
    Reception reception{table, settings, formats, nullptr};
    test::ScriptedOperator op;
    StatusListener status;
    std::chrono::steady_clock::time_point clock{std::chrono::hours(1000)};
    std::vector<ReadingControl::State> states;
    ReadingControl control{port, sleeper, settings, table, reception, op, formats};

    Rig()
    {
        settings.Name = "COM3";
        settings.Speed = "9600";
        settings.Parity = "None";
        setV1(settings, false);
        table.addListener(&status);
        control.now = [this] { return clock; };
        control.onStateChanged = [this](const ReadingControl::State& s) { states.push_back(s); };
    }
    ~Rig() { table.removeListener(&status); }

    // A v1 receiver that answers the wake byte with ">".
    void useV1(bool setModeRam, const std::string& mode = "T1")
    {
        setV1(settings, true);
        settings.SetModeRAM = setModeRam;
        settings.CMode = mode;
        port.wakeAnswer = {'>'};
    }
    std::string device() const { return deviceForPortName(settings.Name); }
    void clearRecords()
    {
        transcript.clear();
        status.texts.clear();
        states.clear();
        table.readerLog.clear();
        port.written.clear();
    }
};

// --- Opening ---------------------------------------------------------------------------

struct OpenCase {
    std::string name, speed, parity;
    std::string expectedOpen; // baud and parity handed to the port
    std::string expectedText;
};

TEST(ReadingControlOpen, TakesLineSettingsWithTheirFallbacks)
{
    const std::vector<OpenCase> cases = {
        {"COM12", "19200", "Odd", "19200 Odd", "COM12 - 19200,8,Odd"},
        {"COM3", "9600", "None", "9600 None", "COM3 - 9600,8,None"},
        {"COM3", "115200", "Mark", "115200 Mark", "COM3 - 115200,8,Mark"},
        {"COM3", "300", "Space", "300 Space", "COM3 - 300,8,Space"},
        // A number outside the list opens at 2400; the text shows what was typed.
        {"COM3", "14400", "Even", "2400 Even", "COM3 - 14400,8,Even"},
        // An unknown parity text means even parity.
        {"COM3", "4800", "Bogus", "4800 Even", "COM3 - 4800,8,Bogus"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + " " + c.speed + " " + c.parity);
        Rig rig;
        rig.settings.Name = c.name;
        rig.settings.Speed = c.speed;
        rig.settings.Parity = c.parity;
        rig.control.openOrClose();
        EXPECT_EQ(rig.transcript, (Lines{"probe " + rig.device(), "open " + rig.device() + " " + c.expectedOpen}));
        EXPECT_TRUE(rig.control.portOpen());
        EXPECT_EQ(rig.status.texts, Lines{"0:" + c.expectedText});
        EXPECT_EQ(rig.table.readerLog, Lines{c.expectedText});
        EXPECT_EQ(rig.states, (std::vector<ReadingControl::State>{{true, false}}));
    }
}

TEST(ReadingControlOpen, SpeedThatIsNotAWholeNumberFailsAfterTheProbe)
{
    for (const std::string speed : {"fast", "", "96 00", "9600.0", "-", "99999999999999999999"}) {
        SCOPED_TRACE("speed '" + speed + "'");
        Rig rig;
        rig.settings.Speed = speed;
        rig.control.openOrClose();
        EXPECT_EQ(rig.transcript, Lines{"probe " + rig.device()});
        EXPECT_FALSE(rig.control.portOpen());
        EXPECT_EQ(rig.table.readerLog, Lines{"Unknown Exception on opening serial port..."});
        EXPECT_EQ(rig.status.texts, Lines{"0:COM3 is closed"});
        EXPECT_TRUE(rig.states.empty());
    }
}

TEST(ReadingControlOpen, PortHeldByAnotherProgramIsReportedNotOpened)
{
    Rig rig;
    rig.port.probeFails = true;
    rig.control.startStop();
    EXPECT_EQ(rig.transcript, Lines{"probe " + rig.device()});
    EXPECT_EQ(rig.table.readerLog, Lines{"The selected serial port (COM3) is in use by another program!"});
    EXPECT_EQ(rig.status.texts, Lines{"0:COM3 is closed"});
    EXPECT_FALSE(rig.control.portOpen());
    EXPECT_EQ(rig.control.buttonCaption(), "Start");
    EXPECT_TRUE(rig.states.empty());
    // Start says so out loud as well (the texts: StartThatCannotOpenThePortSaysWhyAndWhere).
    EXPECT_EQ(rig.op.messages.size(), 1u);
}

TEST(ReadingControlOpen, StartThatCannotOpenThePortSaysWhyAndWhere)
{
    const std::string settings = "choose the receiver's port under Tools \xE2\x80\xBA Settings.";
    struct Case {
        std::string name;
        std::function<void(Rig&)> arrange;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"missing", [](Rig& r) { r.port.deviceMissing = true; },
         "Reading cannot start: the serial port COM3 does not exist.\nIs the receiver plugged in? Plug it in, or "
             + settings},
        {"held",
         [](Rig& r) {
             r.port.probeFails = true;
             r.port.probeError = "Device or resource busy";
         },
         "Reading cannot start: the serial port COM3 is in use by another program or may not be opened (Device or "
         "resource busy).\nClose the other program, check your rights on the port, or "
             + settings},
        {"speed", [](Rig& r) { r.settings.Speed = "fast"; },
         "Reading cannot start: the speed \"fast\" of the serial port COM3 is not a number.\nChoose a speed under "
         "Tools \xE2\x80\xBA Settings."},
        {"open",
         [](Rig& r) {
             r.port.openFails = true;
             r.port.error = "Permission denied";
         },
         "Reading cannot start: the serial port COM3 cannot be opened (Permission denied).\nCheck the receiver, or "
             + settings},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        c.arrange(rig);
        rig.control.startStop();
        EXPECT_EQ(rig.control.buttonCaption(), "Start");
        ASSERT_EQ(rig.op.messages.size(), 1u);
        EXPECT_EQ(rig.op.messages[0].caption, "Palvero");
        EXPECT_EQ(rig.op.messages[0].text, c.text);
        EXPECT_EQ(rig.op.messages[0].icon, MessageIcon::Warning);
        // The reader log and the status bar keep their lines as before.
        EXPECT_EQ(rig.status.texts, Lines{"0:COM3 is closed"});
        EXPECT_EQ(rig.table.readerLog.size(), 1u);
    }
    // Send data and the receiver commands have messages of their own.
    Rig rig;
    rig.port.probeFails = true;
    rig.control.sendData("x");
    EXPECT_TRUE(rig.op.messages.empty());
}

TEST(ReadingControlOpen, MissingDeviceIsToldApartFromAHeldOne)
{
    Rig rig;
    rig.settings.Name = "ttyUSB0";
    rig.port.deviceMissing = true;
    rig.control.startStop();
    EXPECT_EQ(rig.transcript, Lines{"probe " + rig.device()});
    EXPECT_EQ(rig.table.readerLog, Lines{"The selected serial port (ttyUSB0) does not exist!"});
    EXPECT_EQ(rig.status.texts, Lines{"0:ttyUSB0 is closed"});
    EXPECT_EQ(rig.control.buttonCaption(), "Start");
}

TEST(ReadingControlOpen, CommandFallbacksAreTheSettingsWindows)
{
    Rig rig;
    rig.settings.Speed = "14400";
    rig.settings.Parity = "Bogus";
    EXPECT_TRUE(rig.control.ensureOpen(kCommandFallback));
    EXPECT_EQ(rig.transcript, (Lines{"probe " + rig.device(), "open " + rig.device() + " 19200 None", "purge"}));
    EXPECT_EQ(rig.status.texts, Lines{"0:COM3 - 14400,8,Bogus"});
}

TEST(ReadingControlOpen, OutputThatCannotLeaveIsReportedAndTheReadingGoesOn)
{
    Rig rig;
    rig.port.purgeTimesOut = true;
    rig.control.startStop();
    EXPECT_TRUE(rig.control.reading());
    const std::string stuck = "The serial port (COM3) did not send its data within 1000 ms; the rest was discarded!";
    EXPECT_EQ(rig.table.readerLog, (Lines{"COM3 - 9600,8,None", stuck}));
    rig.control.startStop();
    EXPECT_EQ(rig.table.readerLog.back(), stuck);
    EXPECT_FALSE(rig.control.portOpen());
}

TEST(ReadingControlOpen, FailingOpenIsReducedToTheFixedText)
{
    Rig rig;
    rig.port.openFails = true;
    EXPECT_FALSE(rig.control.ensureOpen());
    EXPECT_EQ(rig.table.readerLog, Lines{"Unknown Exception on opening serial port..."});
    EXPECT_EQ(rig.status.texts, Lines{"0:COM3 is closed"});
    EXPECT_FALSE(rig.control.portOpen());
}

// --- Start with a v1 receiver ------------------------------------------------------------

TEST(ReadingControlStart, V1ReceiverGetsAcceptAllThenTheModeInRam)
{
    Rig rig;
    rig.useV1(true, "T2");
    rig.control.startStop();
    const std::string d = rig.device();
    EXPECT_EQ(rig.transcript, (Lines{
                                  "probe " + d, "open " + d + " 9600 None", "purge",
                                  // accept all: I 2
                                  "purge", "purge", "write 00", "sleep 40", "read 1/1000 -> 1", "purge", "write 49",
                                  "sleep 1", "write 02", "write 58",
                                  // mode in RAM: G 2
                                  "purge", "purge", "write 00", "sleep 40", "read 1/1000 -> 1", "purge", "write 47",
                                  "sleep 1", "write 02", "write 58",
                              }));
    EXPECT_EQ(rig.sleeper.waits, (std::vector<int>{40, 1, 40, 1}));
    EXPECT_TRUE(rig.op.messages.empty());
    EXPECT_EQ(rig.control.buttonCaption(), "Stop");
    EXPECT_EQ(rig.states, (std::vector<ReadingControl::State>{{true, false}, {true, true}}));
    // The ">" was announced with a receive event during the exchange; it went to the
    // exchange, not to frame assembly.
    EXPECT_EQ(rig.reception.assembler().pendingBytes(), 0u);
}

TEST(ReadingControlStart, ModeTextSelectsTheGParameter)
{
    const std::vector<std::pair<std::string, std::optional<uint8_t>>> cases = {
        {"T1", 1}, {"T2", 2}, {"S1", 3}, {"S2", 0}, {"R", 4}, {"T1+C", 10}, {"T2+C", 11},
        {"C1", std::nullopt}, {"t1", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& [mode, parameter] : cases) {
        SCOPED_TRACE("mode " + mode);
        EXPECT_EQ(ReadingControl::v1ModeParameter(mode), parameter);
        Rig rig;
        rig.useV1(true, mode);
        rig.control.start();
        std::vector<uint8_t> expected = {0x00, 'I', 0x02, 'X'};
        if (parameter)
            expected.insert(expected.end(), {0x00, 'G', *parameter, 'X'});
        EXPECT_EQ(test::hexBytes(rig.port.written), test::hexBytes(expected));
        EXPECT_TRUE(rig.control.reading());
    }
}

TEST(ReadingControlStart, WithoutSetInRamOnlyAcceptAllIsSent)
{
    Rig rig;
    rig.useV1(false, "S2");
    rig.control.start();
    EXPECT_EQ(test::hexBytes(rig.port.written), "00 49 02 58");
    EXPECT_TRUE(rig.control.reading());
}

TEST(ReadingControlStart, ReceiverThatDoesNotPromptGetsXAndTheReadingStartsAnyway)
{
    for (const std::vector<uint8_t>& answer : {std::vector<uint8_t>{}, {'?'}, {'<'}, {0x00}}) {
        SCOPED_TRACE("answer " + test::hexBytes(answer));
        Rig rig;
        rig.useV1(true, "S2");
        rig.port.wakeAnswer = answer;
        rig.control.startStop();
        // The mode command fails the same way, and its caller stays silent.
        EXPECT_EQ(test::hexBytes(rig.port.written), "00 58 00 58");
        ASSERT_EQ(rig.op.messages.size(), 1u);
        EXPECT_EQ(rig.op.messages[0].caption, "Palvero");
        EXPECT_EQ(rig.op.messages[0].text, "Concentrator is not in ACCEPT ALL mode, try again (STOP->START)!");
        EXPECT_EQ(rig.op.messages[0].icon, MessageIcon::Warning);
        EXPECT_EQ(rig.control.buttonCaption(), "Stop");
        EXPECT_TRUE(rig.control.portOpen());
    }
}

TEST(ReadingControlStart, FailingEndByteIsShownWithThePortsError)
{
    Rig rig;
    rig.useV1(false);
    rig.port.failingByte = 'X';
    rig.port.error = "Device not ready";
    rig.control.start();
    ASSERT_EQ(rig.op.messages.size(), 1u);
    EXPECT_EQ(rig.op.messages[0].caption, "Palvero");
    EXPECT_EQ(rig.op.messages[0].text, "Device not ready");
    EXPECT_EQ(rig.op.messages[0].icon, MessageIcon::Error);
    EXPECT_TRUE(rig.control.reading());
}

TEST(ReadingControlStart, V1CommandOnAPortThatCannotBeUsedIsRefused)
{
    Rig rig;
    rig.port.probeFails = true;
    EXPECT_FALSE(rig.control.v1Command('G', 1));
    ASSERT_EQ(rig.op.messages.size(), 1u);
    EXPECT_EQ(rig.op.messages[0].text, "Unable to use selected COM port!");
    EXPECT_EQ(rig.op.messages[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(rig.port.written.empty());
}

TEST(ReadingControlStart, V2ReceiverStartsWithoutAnExchange)
{
    Rig rig;
    rig.control.startStop();
    EXPECT_EQ(rig.transcript, (Lines{"probe " + rig.device(), "open " + rig.device() + " 9600 None", "purge"}));
    EXPECT_TRUE(rig.sleeper.waits.empty());
    EXPECT_EQ(rig.control.buttonCaption(), "Stop");
}

TEST(ReadingControlStart, ReceiverLostDuringTheExchangeLeavesTheReadingIdle)
{
    Rig rig;
    rig.useV1(true, "T1");
    rig.port.wakeAnswer.clear();
    rig.port.afterWrite = [&](const std::vector<uint8_t>& bytes) {
        if (bytes == std::vector<uint8_t>{0x00})
            rig.port.loseDevice("Input/output error");
    };
    rig.control.start();
    EXPECT_FALSE(rig.control.reading());
    EXPECT_FALSE(rig.control.portOpen());
    EXPECT_EQ(test::hexBytes(rig.port.written), "00");
    EXPECT_TRUE(rig.op.messages.empty());
    EXPECT_EQ(rig.table.readerLog.back(), "The receiver on COM3 was lost: Input/output error");
}

// --- Stop, Send data ------------------------------------------------------------------------

TEST(ReadingControlStop, ClosesThePortAndKeepsTheReceiveBuffer)
{
    Rig rig;
    rig.control.startStop();
    rig.port.arrive({0x68, 0x10, 0x44}); // a frame cut short by Stop
    rig.clearRecords();
    rig.control.startStop();
    EXPECT_EQ(rig.transcript, (Lines{"purge", "sleep 40", "close"}));
    EXPECT_EQ(rig.status.texts, Lines{"0:COM3 is closed"});
    EXPECT_EQ(rig.control.buttonCaption(), "Start");
    EXPECT_FALSE(rig.control.portOpen());
    EXPECT_EQ(rig.states.back(), (ReadingControl::State{false, false}));
    EXPECT_EQ(rig.reception.assembler().pendingBytes(), 3u);
}

TEST(ReadingControlSendData, OpensWritesAndCloses)
{
    Rig rig;
    rig.control.sendData("set wmod=1");
    EXPECT_EQ(rig.transcript, (Lines{"probe " + rig.device(), "open " + rig.device() + " 9600 None", "purge",
                                     "write 73 65 74 20 77 6D 6F 64 3D 31", "purge", "sleep 40", "close"}));
    EXPECT_FALSE(rig.control.portOpen());
    EXPECT_EQ(rig.status.texts, (Lines{"0:COM3 - 9600,8,None", "0:COM3 is closed"}));
}

TEST(ReadingControlSendData, NothingIsWrittenWhenThePortIsHeld)
{
    Rig rig;
    rig.port.probeFails = true;
    rig.control.sendData("abc");
    EXPECT_EQ(rig.transcript, Lines{"probe " + rig.device()});
}

// --- Receiving ----------------------------------------------------------------------------

// A water meter telegram from its L field on (the frame helper sets L).
const char* const kWater = "00 44 2D 2C 78 56 34 12 01 07 7A 01 00 00 00 04 13 E8 03 00 00 02 5A E8 03";

TEST(ReadingControlReceive, BurstReachesThePipelineInChunksWithinOneEvent)
{
    Rig rig;
    rig.control.start();
    const std::vector<uint8_t> frame = test::receiverFrame(test::fromHex(kWater));
    // Two bursts of 2500 bytes: whole frames after a few bytes of line noise.
    const size_t frames = 2500 / frame.size();
    std::vector<uint8_t> burst(2500 - frames * frame.size(), 0x00);
    for (size_t i = 0; i < frames; ++i)
        burst.insert(burst.end(), frame.begin(), frame.end());
    ASSERT_EQ(burst.size(), 2500u);

    for (int event = 1; event <= 2; ++event) {
        SCOPED_TRACE("burst " + std::to_string(event));
        rig.clearRecords();
        rig.status.updatedRows = 0;
        rig.port.arrive(burst);
        EXPECT_EQ(rig.transcript, (Lines{"read 1024/0 -> 1024", "read 1024/0 -> 1024", "read 452/0 -> 452"}));
        EXPECT_TRUE(rig.port.incoming.empty());
        EXPECT_EQ(rig.status.updatedRows, static_cast<int>(frames));
    }
    EXPECT_EQ(rig.table.cell(1, col::MeterId), "12345678");
}

TEST(ReadingControlReceive, NothingIsConsumedDuringAnExchange)
{
    Rig rig;
    rig.useV1(false);
    // Frame bytes and the prompt arrive together while the exchange waits.
    rig.port.wakeAnswer = {'>', 0x68, 0x03, 0x44, 0x00};
    rig.control.openOrClose();
    EXPECT_TRUE(rig.control.v1Command('I', 2));
    EXPECT_EQ(std::count_if(rig.transcript.begin(), rig.transcript.end(),
                            [](const std::string& l) { return l.rfind("read", 0) == 0; }),
              1);
    EXPECT_EQ(rig.reception.assembler().pendingBytes(), 0u);
}

// --- Losing the receiver ------------------------------------------------------------------

TEST(ReadingControlLost, ReportsTheLossAndKeepsTheRows)
{
    Rig rig;
    rig.control.start();
    rig.port.arrive(test::receiverFrame(test::fromHex(kWater)));
    const auto rowBefore = rig.table.grid().row(1);
    ASSERT_EQ(rowBefore[col::MeterId], "12345678");
    rig.clearRecords();

    rig.port.loseDevice("Input/output error");
    EXPECT_EQ(rig.table.readerLog, Lines{"The receiver on COM3 was lost: Input/output error"});
    EXPECT_EQ(rig.status.texts, Lines{"0:COM3 is closed"});
    EXPECT_EQ(rig.control.buttonCaption(), "Start");
    EXPECT_FALSE(rig.control.portOpen());
    EXPECT_EQ(rig.states, (std::vector<ReadingControl::State>{{false, false}}));
    EXPECT_EQ(rig.table.dataRowCount(), 1);
    EXPECT_EQ(rig.table.grid().row(1), rowBefore);

    // A second report of the same loss changes nothing; Start opens afresh.
    rig.clearRecords();
    rig.port.loseDevice("Input/output error");
    EXPECT_TRUE(rig.table.readerLog.empty());
    EXPECT_TRUE(rig.states.empty());
    rig.control.startStop();
    EXPECT_EQ(rig.transcript, (Lines{"probe " + rig.device(), "open " + rig.device() + " 9600 None", "purge"}));
    EXPECT_EQ(rig.control.buttonCaption(), "Stop");
}

// --- Elapsed time -------------------------------------------------------------------------

void addMeter(MeterTable& table, const std::string& id, const std::string& medium)
{
    int row = table.isFresh() ? 1 : table.appendRow();
    table.setCell(row, col::No, std::to_string(row));
    table.setCell(row, col::MeterId, id);
    table.setCell(row, col::Medium, medium);
    table.recountMediumCounters();
}

TEST(ReadingControlElapsed, OneMeterShowsNoDeviceCount)
{
    Rig rig;
    addMeter(rig.table, "12345678", "Water");
    rig.control.start();
    rig.clock += 65s;
    EXPECT_EQ(rig.control.elapsedTimeText(),
              "Elapsed time: 00:01:05 (Water: 1, Cold water: 0, Hot water: 0, Heat: 0, H/C: 0, Gas: 0, H.C.A: 0, "
              "Other: 0, Repeated: 0)");
}

TEST(ReadingControlElapsed, SeveralMetersShowTheCountAndEveryMedium)
{
    Rig rig;
    addMeter(rig.table, "00000001", "Water");
    addMeter(rig.table, "00000002", "Oil");
    rig.control.start();
    rig.clock += 65s;
    EXPECT_EQ(rig.control.elapsedTimeText(),
              "Elapsed time: 00:01:05 / Devices found: 2 (Water: 1, Cold water: 0, Hot water: 0, Heat: 0, H/C: 0, "
              "Gas: 0, H.C.A: 0, Other: 1, Repeated: 0)");

    addMeter(rig.table, "00000003", "Cold water");
    addMeter(rig.table, "00000004", "Hot water");
    addMeter(rig.table, "00000005", "Heat");
    addMeter(rig.table, "00000006", "Heat/Cool");
    addMeter(rig.table, "00000007", "Gas");
    addMeter(rig.table, "00000008", "H.C.A");
    addMeter(rig.table, "00000009", "Electricity"); // counted, never shown
    addMeter(rig.table, "00000010", "");            // counted nowhere
    rig.table.setFlag(RowFlag::Repeated, 2, true);
    rig.table.recountMediumCounters();
    rig.clock += 25h; // a time of day: past midnight it starts again
    EXPECT_EQ(rig.control.elapsedTimeText(),
              "Elapsed time: 01:01:05 / Devices found: 10 (Water: 1, Cold water: 1, Hot water: 1, Heat: 1, H/C: 1, "
              "Gas: 1, H.C.A: 1, Other: 1, Repeated: 1)");
}

TEST(ReadingControlElapsed, TickRaisesPanelOneOnlyWhileReading)
{
    Rig rig;
    rig.control.tick();
    EXPECT_TRUE(rig.status.texts.empty());
    rig.control.start();
    rig.clock += 3s;
    rig.status.texts.clear();
    rig.control.tick();
    ASSERT_EQ(rig.status.texts.size(), 1u);
    EXPECT_EQ(rig.status.texts[0].rfind("1:Elapsed time: 00:00:03 (Water: 0", 0), 0u) << rig.status.texts[0];
    rig.control.stop();
    rig.status.texts.clear();
    rig.control.tick();
    EXPECT_TRUE(rig.status.texts.empty());
}

} // namespace
} // namespace palvero

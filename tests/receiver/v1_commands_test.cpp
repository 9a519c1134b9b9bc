#include "fake_serial_port.h"
#include "scripted_operator.h"
#include "telegram_data.h"
#include "temp_dir.h"
#include "v1_commands.h"

#include <gtest/gtest.h>

namespace palvero {
namespace {

using Lines = std::vector<std::string>;
using Lamp = V1Commands::Lamp;

struct StatusListener : MeterTableListener {
    Lines texts; // "panel:text"
    void statusText(int panel, const std::string& text) override
    {
        texts.push_back(std::to_string(panel) + ":" + text);
    }
};

// The v1 commands over the reading control's fake port, with a receiver that prompts
// after 0x00 and after "M" unless told otherwise.
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
    ReadingControl reading{port, sleeper, settings, table, reception, op, formats};
    V1Commands commands{reading, op};
    Lines results;
    std::vector<Lamp> lamps;
    bool promptAfterMemory = true;

    Rig()
    {
        settings.Name = "COM3";
        settings.Speed = "9600";
        settings.Parity = "None";
        setV1(settings, true);
        port.wakeAnswer = {'>'};
        port.afterWrite = [this](const std::vector<uint8_t>& bytes) {
            if (promptAfterMemory && bytes == std::vector<uint8_t>{'M'})
                port.arrive({'>'});
        };
        table.addListener(&status);
        commands.onResultText = [this](const std::string& text) { results.push_back(text); };
        commands.onLamp = [this](Lamp lamp) { lamps.push_back(lamp); };
    }
    ~Rig() { table.removeListener(&status); }

    std::string device() const { return deviceForPortName(settings.Name); }
    void clearRecords()
    {
        transcript.clear();
        port.written.clear();
        status.texts.clear();
        table.readerLog.clear();
        results.clear();
        lamps.clear();
    }
};

TEST(V1Commands, SetButtonWritesThePartsExchangeOnAPortItOpensAndCloses)
{
    Rig rig;
    rig.commands.pressSet(V1Parameter::Mode, V1Commands::valueFor(V1Parameter::Mode, "T1+C"));
    const std::string d = rig.device();
    EXPECT_EQ(rig.transcript, (Lines{
                                  "probe " + d, "open " + d + " 9600 None", "purge",      //
                                  "write 00", "sleep 40", "read 1/1000 -> 1",               // prompt
                                  "write 4D", "sleep 40", "read 1/1000 -> 1",               // prompt
                                  "write 03", "sleep 1", "write 0A",                        // mode T1+C
                                  "write FF", "sleep 5", "write 58",                        // end, leave
                                  "purge", "sleep 40", "close",                             // release
                              }));
    EXPECT_EQ(rig.results, (Lines{"", "Parameter succesfully saved!"}));
    EXPECT_EQ(rig.lamps, std::vector<Lamp>{Lamp::Success});
    EXPECT_EQ(rig.status.texts, (Lines{"0:COM3 - 9600,8,None", "0:COM3 is closed"}));
    EXPECT_FALSE(rig.reading.portOpen());
    EXPECT_TRUE(rig.op.messages.empty());
}

TEST(V1Commands, EachSetButtonSendsItsParameterAndValue)
{
    struct Case {
        V1Parameter parameter;
        std::string choice;
        std::string bytes; // what the port carries, empty when nothing goes out
    };
    const std::vector<Case> cases = {
        {V1Parameter::NetworkType, "MASTER", "00 4D 12 01 FF 58"},
        {V1Parameter::NetworkType, "REPEATER", "00 4D 12 02 FF 58"},
        {V1Parameter::RFPower, "5", "00 4D 01 05 FF 58"},
        {V1Parameter::Mode, "S2", "00 4D 03 00 FF 58"},
        {V1Parameter::Mode, "T2+C", "00 4D 03 0B FF 58"},
        {V1Parameter::Protocol, "MORVANE", "00 4D 36 04 FF 58"},
        {V1Parameter::Protocol, "MORVANE with CRC", "00 4D 36 0C FF 58"},
        {V1Parameter::Rssi, "1", "00 4D 05 01 FF 58"},
        {V1Parameter::Rssi, "0", "00 4D 05 00 FF 58"},
        {V1Parameter::InstallMode, "Normal", "00 4D 3D 00 FF 58"},
        {V1Parameter::InstallMode, "Accept All", "00 4D 3D 02 FF 58"},
        // Texts that match no item send nothing; the port is still released.
        {V1Parameter::RFPower, "6", ""},
        {V1Parameter::Protocol, "MORVANE ", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(int(c.parameter)) + " '" + c.choice + "'");
        Rig rig;
        rig.commands.pressSet(c.parameter, V1Commands::valueFor(c.parameter, c.choice));
        EXPECT_EQ(test::hexBytes(rig.port.written), c.bytes);
        EXPECT_EQ(rig.lamps.size(), c.bytes.empty() ? 0u : 1u);
        EXPECT_EQ(rig.results.front(), "");
        EXPECT_FALSE(rig.reading.portOpen());
        EXPECT_FALSE(rig.port.isOpen());
        if (c.bytes.empty()) {
            EXPECT_EQ(rig.transcript, Lines{"purge"});
        }
    }
}

TEST(V1Commands, ReceiverThatDoesNotPromptGetsTheEndBytesAndARedLamp)
{
    struct Case {
        std::string name;
        std::vector<uint8_t> wakeAnswer;
        bool promptAfterMemory;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"silent", {}, false, "00 FF 58"},
        {"wrong prompt", {'<'}, true, "00 FF 58"},
        {"no prompt after M", {'>'}, false, "00 4D FF 58"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.port.wakeAnswer = c.wakeAnswer;
        rig.promptAfterMemory = c.promptAfterMemory;
        rig.commands.pressSet(V1Parameter::Rssi, 1);
        EXPECT_EQ(test::hexBytes(rig.port.written), c.bytes);
        EXPECT_EQ(rig.results, (Lines{"", "Error setting parameter"}));
        EXPECT_EQ(rig.lamps, std::vector<Lamp>{Lamp::Failure});
        EXPECT_TRUE(rig.op.messages.empty());
        EXPECT_FALSE(rig.reading.portOpen());
    }
    // The whole wait of a silent receiver: 40 ms, the 1000 ms read, then 0xFF, 5 ms, "X".
    Rig rig;
    rig.port.wakeAnswer.clear();
    EXPECT_FALSE(rig.commands.SetParameter(0x05, 1));
    EXPECT_EQ(rig.transcript, (Lines{"probe " + rig.device(), "open " + rig.device() + " 9600 None", "purge",
                                     "write 00", "sleep 40", "read 1/1000 -> 0", "write FF", "sleep 5", "write 58"}));
}

TEST(V1Commands, PortThatCannotBeUsedIsReportedAndNothingIsSent)
{
    struct Case {
        std::string name;
        bool held, missing;
        std::string speed;
        std::string logLine;
    };
    const std::vector<Case> cases = {
        {"held", true, false, "9600", "The selected serial port (COM3) is in use by another program!"},
        {"missing", false, true, "9600", "The selected serial port (COM3) does not exist!"},
        {"speed not a number", false, false, "96OO", "Unknown Exception on opening serial port..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.port.probeFails = c.held;
        rig.port.deviceMissing = c.missing;
        rig.settings.Speed = c.speed;
        rig.commands.pressSet(V1Parameter::NetworkType, 1);
        EXPECT_TRUE(rig.port.written.empty());
        ASSERT_EQ(rig.op.messages.size(), 1u);
        EXPECT_EQ(rig.op.messages[0].text, "Unable to use selected COM port!");
        EXPECT_EQ(rig.op.messages[0].icon, MessageIcon::Warning);
        EXPECT_EQ(rig.results, (Lines{"", "Serial port opened or not existing"}));
        EXPECT_TRUE(rig.lamps.empty());
        EXPECT_EQ(rig.table.readerLog, Lines{c.logLine});
        EXPECT_EQ(rig.status.texts, Lines{"0:COM3 is closed"});
    }
}

TEST(V1Commands, PortOpenedForACommandTakesTheWindowsFallbacks)
{
    // The reading's own open would give 2400 and even parity for these texts.
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"14400", "Even", "19200 Even"},
        {"115200", "Bogus", "115200 None"},
    };
    for (const auto& [speed, parity, line] : cases) {
        SCOPED_TRACE(speed + " " + parity);
        Rig rig;
        rig.settings.Speed = speed;
        rig.settings.Parity = parity;
        rig.commands.pressSet(V1Parameter::RFPower, 3);
        ASSERT_GE(rig.transcript.size(), 2u);
        EXPECT_EQ(rig.transcript[1], "open " + rig.device() + " " + line);
        EXPECT_EQ(rig.status.texts.front(), "0:COM3 - " + speed + ",8," + parity);
    }
}

TEST(V1Commands, SetDuringAReadingKeepsTheReadingAndItsPort)
{
    Rig rig;
    rig.reading.start();
    ASSERT_TRUE(rig.reading.reading());
    rig.clearRecords();

    rig.commands.pressSet(V1Parameter::Mode, V1Commands::valueFor(V1Parameter::Mode, "S1"));
    EXPECT_EQ(test::hexBytes(rig.port.written), "00 4D 03 03 FF 58");
    EXPECT_EQ(rig.transcript.front(), "purge") << "the open port is used as it is";
    EXPECT_NE(rig.transcript.back(), "close");
    EXPECT_TRUE(rig.reading.reading());
    EXPECT_TRUE(rig.reading.portOpen());
    EXPECT_TRUE(rig.port.isOpen());
    EXPECT_TRUE(rig.status.texts.empty());
    EXPECT_EQ(rig.lamps, std::vector<Lamp>{Lamp::Success});
    // The prompts went to the exchange, and what arrives now goes to the table.
    EXPECT_EQ(rig.reception.assembler().pendingBytes(), 0u);
    rig.port.arrive(test::receiverFrame(
        test::fromHex("00 44 2D 2C 78 56 34 12 01 07 7A 01 00 00 00 04 13 E8 03 00 00 02 5A E8 03")));
    EXPECT_EQ(rig.table.cell(1, col::MeterId), "12345678");
}

TEST(V1Commands, SetDuringAReadingFindsThePromptAmongTheFrames)
{
    // Frames that the receiver sends while it is asked; the second holds the prompt's
    // value (0x3E) in its meter ID.
    const auto frame = [](const char* id) {
        return test::receiverFrame(test::fromHex(std::string("00 44 2D 2C ") + id
                                                 + " 01 07 7A 01 00 00 00 04 13 E8 03 00 00 02 5A E8 03"));
    };
    const auto a = frame("78 56 34 12"), b = frame("3E 56 34 12"), c = frame("11 22 33 44");
    const auto join = [](std::initializer_list<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> all;
        for (const auto& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const std::vector<uint8_t> prompt = {'>'};
    const std::vector<uint8_t> bHead(b.begin(), b.begin() + 6), bTail(b.begin() + 6, b.end());
    struct Case {
        std::string name;
        std::vector<uint8_t> afterWake, afterMemory;
        bool saved;
        Lines meters; // the table's meter IDs afterwards
    };
    const std::vector<Case> cases = {
        {"frames around the prompts", join({a, prompt}), join({prompt, c}), true, {"12345678", "44332211"}},
        {"a prompt value inside a frame", join({bHead, bTail, prompt}), prompt, true, {"1234563E"}},
        {"a prompt while a frame is half heard", join({bHead, prompt}), join({bTail, prompt}), false, {}},
        {"no prompt at all", a, {}, false, {"12345678"}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        Rig rig;
        rig.reading.start();
        ASSERT_TRUE(rig.reading.reading());
        rig.clearRecords();
        rig.port.wakeAnswer = k.afterWake;
        rig.promptAfterMemory = false;
        rig.port.afterWrite = [&rig, &k](const std::vector<uint8_t>& bytes) {
            if (bytes == std::vector<uint8_t>{'M'} && !k.afterMemory.empty())
                rig.port.arrive(k.afterMemory);
        };
        rig.commands.pressSet(V1Parameter::Mode, V1Commands::valueFor(V1Parameter::Mode, "S1"));
        EXPECT_EQ(rig.lamps, std::vector<Lamp>{k.saved ? Lamp::Success : Lamp::Failure});
        EXPECT_EQ(test::hexBytes(rig.port.written), k.saved ? "00 4D 03 03 FF 58" : "00 FF 58");
        Lines meters;
        for (int r = 1; r < rig.table.rowCount(); ++r)
            if (!rig.table.cell(r, col::MeterId).empty())
                meters.push_back(rig.table.cell(r, col::MeterId));
        EXPECT_EQ(meters, k.meters);
        EXPECT_TRUE(rig.reading.reading());
    }
}

TEST(V1Commands, PortErrorWhileSendingIsShownWithThePortsText)
{
    struct Case {
        uint8_t failing;
        std::string bytes; // written before and including the failing byte
        bool saved;
    };
    const std::vector<Case> cases = {
        // A refused command byte ends the command.
        {0x00, "", false},
        {'M', "00", false},
        {0x02, "00 4D 12", false},
        // A refused end byte is shown and leaves the outcome as it was.
        {0xFF, "00 4D 12 02", true},
        {'X', "00 4D 12 02 FF", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(test::hexBytes({c.failing}));
        Rig rig;
        rig.port.failingByte = c.failing;
        rig.port.error = "Device not ready";
        EXPECT_EQ(rig.commands.SetParameter(0x12, 2), c.saved);
        EXPECT_EQ(test::hexBytes(rig.port.written), c.bytes);
        ASSERT_EQ(rig.op.messages.size(), 1u);
        EXPECT_EQ(rig.op.messages[0].text, "Device not ready");
        EXPECT_EQ(rig.op.messages[0].icon, MessageIcon::Error);
        EXPECT_EQ(rig.results.back(), c.saved ? "Parameter succesfully saved!" : "Error setting parameter");
    }
}

} // namespace
} // namespace palvero

#include "v1_commands.h"

#include <array>

namespace palvero {

namespace {

const char* const kCaption = "Palvero";

constexpr uint8_t kWake = 0x00;
constexpr uint8_t kPrompt = '>';
constexpr uint8_t kMemory = 'M';
constexpr uint8_t kEndOfPairs = 0xFF;
constexpr uint8_t kEnd = 'X';

// The receiver needs 40 ms after 0x00 and after "M" before it prompts, 1 ms between a
// parameter number and its value, and 5 ms after the end of the pairs.
constexpr int kPromptWaitMs = 40;
constexpr int kValueWaitMs = 1;
constexpr int kEndWaitMs = 5;
constexpr int kReadTimeoutMs = 1000;

struct ParameterValue {
    V1Parameter parameter;
    const char* choice;
    uint8_t value;
};

constexpr std::array<ParameterValue, 20> kValues = {{
    {V1Parameter::NetworkType, "MASTER", 1},
    {V1Parameter::NetworkType, "REPEATER", 2},
    {V1Parameter::RFPower, "1", 1},
    {V1Parameter::RFPower, "2", 2},
    {V1Parameter::RFPower, "3", 3},
    {V1Parameter::RFPower, "4", 4},
    {V1Parameter::RFPower, "5", 5},
    {V1Parameter::Mode, "S2", 0},
    {V1Parameter::Mode, "T1", 1},
    {V1Parameter::Mode, "T2", 2},
    {V1Parameter::Mode, "S1", 3},
    {V1Parameter::Mode, "R", 4},
    {V1Parameter::Mode, "T1+C", 10},
    {V1Parameter::Mode, "T2+C", 11},
    {V1Parameter::Protocol, "MORVANE", 4},
    {V1Parameter::Protocol, "MORVANE with CRC", 12},
    {V1Parameter::Rssi, "1", 1},
    {V1Parameter::Rssi, "0", 0},
    {V1Parameter::InstallMode, "Normal", 0},
    {V1Parameter::InstallMode, "Accept All", 2},
}};

} // namespace

V1Commands::V1Commands(ReadingControl& reading, Operator& op)
    : m_reading(reading)
    , m_operator(op)
{
}

std::optional<uint8_t> V1Commands::valueFor(V1Parameter parameter, const std::string& choice)
{
    for (const auto& v : kValues)
        if (v.parameter == parameter && choice == v.choice)
            return v.value;
    return std::nullopt;
}

void V1Commands::pressSet(V1Parameter parameter, std::optional<uint8_t> value)
{
    resultText("");
    if (value)
        SetParameter(static_cast<uint8_t>(parameter), *value);
    // A reading that runs keeps its port: closing it under the reading would leave the
    // main window showing "Stop" over a closed port.
    if (m_reading.reading())
        return;
    m_reading.release();
}

bool V1Commands::SetParameter(uint8_t number, uint8_t value)
{
    // Bytes that arrive now are read by the exchange, which finds its prompts among them.
    ReadingControl::Exchange exchange(m_reading);
    if (!m_reading.ensureOpen(kCommandFallback)) {
        m_operator.showMessage(kCaption, "Unable to use selected COM port!", MessageIcon::Warning);
        resultText("Serial port opened or not existing");
        return false;
    }
    SerialPort& port = m_reading.port();
    Sleeper& sleeper = m_reading.sleeper();

    // A byte the port refuses ends the command; the port's own error text is shown.
    bool portFailed = false;
    auto send = [&](uint8_t byte) {
        if (portFailed)
            return false;
        if (!port.writeByte(byte)) {
            portFailed = true;
            m_operator.showMessage(kCaption, port.errorText(), MessageIcon::Error);
        }
        return !portFailed;
    };
    // During a reading the prompt arrives among frame bytes, which go on to the table.
    auto prompted = [&] {
        sleeper.sleepMs(kPromptWaitMs);
        return m_reading.awaitPrompt(kPrompt, kReadTimeoutMs);
    };

    bool saved = false;
    if (send(kWake) && prompted() && send(kMemory) && prompted() && send(number)) {
        sleeper.sleepMs(kValueWaitMs);
        saved = send(value);
    }
    // The receiver leaves configuration mode in every outcome, unless the port is gone
    // or has already refused a byte. A refusal here is shown but leaves the outcome.
    if (!portFailed && m_reading.portOpen() && send(kEndOfPairs)) {
        sleeper.sleepMs(kEndWaitMs);
        send(kEnd);
    }

    resultText(saved ? "Parameter succesfully saved!" : "Error setting parameter");
    if (onLamp)
        onLamp(saved ? Lamp::Success : Lamp::Failure);
    return saved;
}

bool V1Commands::SetInRam(uint8_t command, uint8_t value)
{
    return m_reading.v1Command(command, value);
}

void V1Commands::resultText(const std::string& text)
{
    if (onResultText)
        onResultText(text);
}

} // namespace palvero

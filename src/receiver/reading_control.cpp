#include "reading_control.h"

#include "line_settings.h"

#include <algorithm>
#include <array>

namespace palvero {

namespace {

constexpr int kPortPanel = 0;
constexpr int kElapsedPanel = 1;

// Waits of the v1 receiver: it needs 40 ms to wake after 0x00 and 1 ms between a
// command byte and its parameter. The same 40 ms let the line settle before a close.
constexpr int kWakeWaitMs = 40;
constexpr int kParameterWaitMs = 1;
constexpr int kCloseWaitMs = 40;
constexpr int kReadTimeoutMs = 1000;

constexpr uint8_t kWake = 0x00;
constexpr uint8_t kPrompt = '>';
constexpr uint8_t kEnd = 'X';
constexpr uint8_t kAcceptAll = 'I';
constexpr uint8_t kAcceptAllParameter = 2;
constexpr uint8_t kSetMode = 'G';

// At most this many bytes go to frame assembly per read.
constexpr size_t kReceiveChunk = 1024;

const char* const kCaption = "Palvero";

struct ModeParameter {
    const char* mode;
    uint8_t parameter;
};
constexpr std::array<ModeParameter, 7> kModeParameters = {{
    {"T1", 1},
    {"T2", 2},
    {"S1", 3},
    {"S2", 0},
    {"R", 4},
    {"T1+C", 10},
    {"T2+C", 11},
}};

} // namespace

ReadingControl::ReadingControl(SerialPort& port, Sleeper& sleeper, const Settings& settings, MeterTable& table,
                               Reception& reception, Operator& op, const Formats& formats)
    : m_port(port)
    , m_sleeper(sleeper)
    , m_settings(settings)
    , m_table(table)
    , m_reception(reception)
    , m_operator(op)
    , m_formats(formats)
{
    m_port.onReceive = [this] { received(); };
    m_port.onLost = [this](const std::string& reason) { lost(reason); };
}

ReadingControl::~ReadingControl()
{
    m_port.onReceive = nullptr;
    m_port.onLost = nullptr;
}

void ReadingControl::openOrClose()
{
    if (m_portOpen)
        close();
    else
        open(kReadingFallback);
}

bool ReadingControl::ensureOpen(const LineFallback& fallback)
{
    if (!m_portOpen)
        open(fallback);
    if (!m_portOpen)
        return false;
    clearLine();
    return true;
}

void ReadingControl::clearLine()
{
    if (m_reading && m_portOpen)
        deliverWaiting();
    purge();
}

bool ReadingControl::awaitPrompt(uint8_t prompt, int timeoutMs)
{
    if (!m_reading) {
        uint8_t answer = 0;
        return m_port.read(&answer, 1, timeoutMs) == 1 && answer == prompt;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_portOpen) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline
                                                                                - std::chrono::steady_clock::now());
        uint8_t byte = 0;
        if (m_port.read(&byte, 1, static_cast<int>(std::max<long long>(left.count(), 0))) != 1)
            return false;
        // Inside a frame the prompt's value is a frame byte like any other.
        if (byte == prompt && m_reception.assembler().pendingBytes() == 0)
            return true;
        deliver(&byte, 1);
        if (left.count() <= 0)
            return false;
    }
    return false;
}

void ReadingControl::release()
{
    purge();
    if (m_portOpen)
        close();
}

void ReadingControl::purge()
{
    if (!m_port.purge())
        m_table.addReaderLogLine(drainTimeoutText(m_portOpen ? m_openName : m_settings.Name));
}

bool ReadingControl::v1Command(uint8_t command, uint8_t parameter)
{
    // QSerialPort announces received bytes from inside its own waits; while the exchange
    // runs they are its answer, not frames.
    Exchange exchange(*this);

    if (!ensureOpen()) {
        m_operator.showMessage(kCaption, "Unable to use selected COM port!", MessageIcon::Warning);
        return false;
    }
    auto end = [this] {
        if (!m_port.writeByte(kEnd))
            m_operator.showMessage(kCaption, m_port.errorText(), MessageIcon::Error);
    };

    clearLine();
    m_port.writeByte(kWake);
    m_sleeper.sleepMs(kWakeWaitMs);
    const bool prompted = awaitPrompt(kPrompt, kReadTimeoutMs);
    // The receiver went away while it was asked; that has been reported already.
    if (!m_portOpen)
        return false;
    if (!prompted) {
        end();
        return false;
    }
    clearLine();
    m_port.writeByte(command);
    m_sleeper.sleepMs(kParameterWaitMs);
    m_port.writeByte(parameter);
    end();
    return true;
}

void ReadingControl::startStop()
{
    if (m_reading)
        stop();
    else
        start();
}

void ReadingControl::start()
{
    if (m_reading)
        return;
    if (!ensureOpen()) {
        // The reader log and the status bar have it too; the box says what to do.
        m_operator.showMessage(kCaption, startFailureText(m_settings.Name, m_settings.Speed, m_openFailure),
                               MessageIcon::Warning);
        return;
    }
    if (m_settings.V1) {
        bool accepting = v1Command(kAcceptAll, kAcceptAllParameter);
        // A receiver lost during the exchange has been reported; there is nothing to read.
        if (!m_portOpen)
            return;
        if (!accepting)
            m_operator.showMessage(kCaption, "Concentrator is not in ACCEPT ALL mode, try again (STOP->START)!",
                                   MessageIcon::Warning);
        if (m_settings.SetModeRAM) {
            if (auto parameter = v1ModeParameter(m_settings.CMode))
                v1Command(kSetMode, *parameter);
            if (!m_portOpen)
                return;
        }
    }
    m_reading = true;
    m_readingStart = now();
    m_hasRead = true;
    changed();
}

void ReadingControl::stop()
{
    release();
    if (m_reading) {
        m_reading = false;
        m_readingEnd = now();
        changed();
    }
}

void ReadingControl::sendData(const std::string& text)
{
    if (!ensureOpen())
        return;
    m_port.write(text);
    release();
}

std::string ReadingControl::elapsedTimeText() const
{
    const auto end = m_reading ? now() : m_readingEnd;
    long long seconds = std::chrono::duration_cast<std::chrono::seconds>(end - m_readingStart).count();
    seconds = std::max(seconds, 0LL);
    // Shown as a time of day, so a reading of more than a day starts again at 00:00:00.
    DateTime elapsed;
    elapsed.hour = static_cast<int>((seconds / 3600) % 24);
    elapsed.minute = static_cast<int>((seconds / 60) % 60);
    elapsed.second = static_cast<int>(seconds % 60);

    std::string text = "Elapsed time: " + m_formats.timeText(elapsed);
    // A table without meters still has its one empty data row.
    if (m_table.dataRowCount() > 1)
        text += " / Devices found: " + std::to_string(m_table.dataRowCount());
    const MediumCounters& c = m_table.mediumCounters();
    text += " (Water: " + std::to_string(c.Water) + ", Cold water: " + std::to_string(c.ColdWater)
        + ", Hot water: " + std::to_string(c.HotWater) + ", Heat: " + std::to_string(c.Heat)
        + ", H/C: " + std::to_string(c.HeatCool) + ", Gas: " + std::to_string(c.Gas)
        + ", H.C.A: " + std::to_string(c.HCA) + ", Other: " + std::to_string(c.Other)
        + ", Repeated: " + std::to_string(c.Repeated) + ")";
    return text;
}

void ReadingControl::tick()
{
    if (m_reading)
        m_table.notifyStatusText(kElapsedPanel, elapsedTimeText());
}

void ReadingControl::refreshCounts()
{
    if (m_reading || m_hasRead)
        m_table.notifyStatusText(kElapsedPanel, elapsedTimeText());
}

std::optional<uint8_t> ReadingControl::v1ModeParameter(const std::string& mode)
{
    for (const auto& m : kModeParameters)
        if (mode == m.mode)
            return m.parameter;
    return std::nullopt;
}

void ReadingControl::open(const LineFallback& fallback)
{
    const std::string name = m_settings.Name;
    const std::string closedText = name + " is closed";
    m_openFailure = {OpenFailure::Cause::OpenError, {}};
    try {
        const std::string device = deviceForPortName(name);
        if (!m_port.probe(device)) {
            const bool present = m_port.exists(device);
            m_openFailure = {present ? OpenFailure::Cause::Refused : OpenFailure::Cause::Missing,
                             present ? m_port.probeErrorText() : std::string()};
            m_table.notifyStatusText(kPortPanel, closedText);
            m_table.addReaderLogLine(probeFailureText(name, present));
            return;
        }

        auto speed = wholeNumber(m_settings.Speed);
        if (!speed) {
            m_openFailure = {OpenFailure::Cause::BadSpeed, {}};
            m_table.addReaderLogLine("Unknown Exception on opening serial port...");
            m_table.notifyStatusText(kPortPanel, closedText);
            return;
        }
        const int baud = baudRateFor(*speed, fallback);
        if (!m_port.open(device, baud, parityFor(m_settings.Parity, fallback))) {
            m_openFailure = {OpenFailure::Cause::OpenError, m_port.errorText()};
            m_table.addReaderLogLine("Unknown Exception on opening serial port...");
            m_table.notifyStatusText(kPortPanel, closedText);
            return;
        }

        m_openFailure = {};
        const std::string lineText = name + " - " + m_settings.Speed + ",8," + m_settings.Parity;
        m_openName = name;
        m_portOpen = true;
        m_table.notifyStatusText(kPortPanel, lineText);
        m_table.addReaderLogLine(lineText);
        changed();
    } catch (...) {
        m_table.addReaderLogLine("Unknown Exception on opening serial port...");
        if (!m_portOpen)
            m_table.notifyStatusText(kPortPanel, closedText);
    }
}

void ReadingControl::close()
{
    try {
        m_portOpen = false;
        m_table.notifyStatusText(kPortPanel, m_openName + " is closed");
        m_sleeper.sleepMs(kCloseWaitMs);
        m_port.close();
        changed();
    } catch (...) {
        m_table.addReaderLogLine("Unknown Exception closing serial port, please restart...");
    }
}

void ReadingControl::received()
{
    if (m_inExchange)
        return;
    deliverWaiting();
}

void ReadingControl::deliverWaiting()
{
    // Everything waiting is read now, a chunk at a time, so that a burst larger than the
    // chunk does not wait for the next receive event.
    uint8_t chunk[kReceiveChunk];
    while (size_t waiting = m_port.bytesWaiting()) {
        size_t n = m_port.read(chunk, std::min(waiting, kReceiveChunk), 0);
        if (n == 0)
            break;
        deliver(chunk, n);
    }
}

void ReadingControl::deliver(const uint8_t* data, size_t n)
{
    if (m_reading && onReceived)
        onReceived(data, n);
    m_reception.receive(data, n);
}

void ReadingControl::lost(const std::string& reason)
{
    if (!m_portOpen)
        return;
    m_table.addReaderLogLine("The receiver on " + m_openName + " was lost: " + reason);
    m_portOpen = false;
    m_reading = false;
    if (m_port.isOpen())
        m_port.close();
    m_table.notifyStatusText(kPortPanel, m_openName + " is closed");
    changed();
}

void ReadingControl::changed()
{
    const State state{m_portOpen, m_reading};
    if (onStateChanged)
        onStateChanged(state);
    if (onPortStateChanged)
        onPortStateChanged(state);
}

} // namespace palvero

#pragma once

#include "formats.h"
#include "line_settings.h"
#include "meter_table.h"
#include "operator.h"
#include "reception.h"
#include "serial_port.h"
#include "settings.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace palvero {

// The serial port and the reading around it: opening and closing with the settings,
// Start/Stop, the v1 receiver's exchange at Start, Send data, and the once-a-second
// status line. Texts for the status bar go through the table's status-text notification
// (panel 0 for the port, panel 1 for the elapsed time), event lines into its reader log.
class ReadingControl {
public:
    // The state the window shows; raised after every change.
    struct State {
        bool portOpen = false;
        bool reading = false; // Butt_read reads "Stop"
    };

    ReadingControl(SerialPort& port, Sleeper& sleeper, const Settings& settings, MeterTable& table,
                   Reception& reception, Operator& op, const Formats& formats);
    // Takes its callbacks back from the port, which may outlive it.
    ~ReadingControl();
    ReadingControl(const ReadingControl&) = delete;
    ReadingControl& operator=(const ReadingControl&) = delete;

    bool portOpen() const { return m_portOpen; }
    bool reading() const { return m_reading; }
    // The port name the open port was opened with; empty while it is closed.
    std::string openPortName() const { return m_portOpen ? m_openName : std::string(); }
    // Why the last open failed (Cause::None after a successful one).
    const OpenFailure& lastOpenFailure() const { return m_openFailure; }
    // Caption of the Start/Stop button.
    std::string buttonCaption() const { return m_reading ? "Stop" : "Start"; }

    // Opens when closed, closes when open.
    void openOrClose();
    // Opens if needed, with the given fallbacks for a speed or parity outside the lists;
    // false when the port cannot be used, otherwise purges and gives true.
    bool ensureOpen(const LineFallback& fallback = kReadingFallback);
    // Purges and closes.
    void release();
    // Discards pending input and output; a port that cannot send what it holds within its
    // time-out is reported in the reader log.
    void purge();

    // The reading port itself, for the receiver commands that share it.
    SerialPort& port() { return m_port; }
    Sleeper& sleeper() { return m_sleeper; }

    // While one lives, bytes that arrive are the answer of a receiver exchange: they stay
    // in the port for the exchange to read instead of going to frame assembly.
    class Exchange {
    public:
        explicit Exchange(ReadingControl& control)
            : m_control(control)
            , m_before(control.m_inExchange)
        {
            m_control.m_inExchange = true;
        }
        // Bytes that waited in the port during the exchange are frames of the reading.
        ~Exchange()
        {
            m_control.m_inExchange = m_before;
            if (!m_before && m_control.m_reading)
                m_control.deliverWaiting();
        }
        Exchange(const Exchange&) = delete;
        Exchange& operator=(const Exchange&) = delete;

    private:
        ReadingControl& m_control;
        bool m_before;
    };
    // The v1 receiver's command exchange: 0x00, ">" back, command, parameter, "X".
    bool v1Command(uint8_t command, uint8_t parameter);
    // Reads the receiver's prompt within the time-out. Idle, the next byte must be it.
    // While a reading runs the prompt comes among frame bytes: a prompt byte counts only
    // between frames, and every other byte goes to frame assembly as it was received.
    bool awaitPrompt(uint8_t prompt, int timeoutMs);
    // Before an exchange: during a reading the bytes waiting are frames and go to frame
    // assembly first; then the port is purged.
    void clearLine();

    // Butt_read: Start when idle, Stop when reading.
    void startStop();
    void start();
    void stop();
    // Writes a free text to the receiver, opening and closing the port around it.
    void sendData(const std::string& text);

    // The elapsed-time tick: text for status panel 1 ("Elapsed time: ... (Water: ...)").
    std::string elapsedTimeText() const;
    // Raises the elapsed-time text as status text of panel 1.
    void tick();
    // Raises it again after the table changed under it, also after a reading ended (with
    // the elapsed time frozen at Stop); nothing before the first reading.
    void refreshCounts();

    // The v1 mode number that "G" sets for a mode text ("T1" 1 ... "T2+C" 11); nothing
    // for an unknown text.
    static std::optional<uint8_t> v1ModeParameter(const std::string& mode);

    std::function<void(const State&)> onStateChanged;
    // The same, for the Settings window, whose port controls follow the port.
    std::function<void(const State&)> onPortStateChanged;
    // Every byte received while reading, before it reaches frame assembly (the capture).
    std::function<void(const uint8_t* data, size_t n)> onReceived;
    // The clock of the elapsed time; tests set it.
    std::function<std::chrono::steady_clock::time_point()> now = [] { return std::chrono::steady_clock::now(); };

private:
    void open(const LineFallback& fallback);
    void close();
    void received();
    // Hands everything waiting in the port to frame assembly (and the capture).
    void deliverWaiting();
    void deliver(const uint8_t* data, size_t n);
    void lost(const std::string& reason);
    void changed();

    SerialPort& m_port;
    Sleeper& m_sleeper;
    const Settings& m_settings;
    MeterTable& m_table;
    Reception& m_reception;
    Operator& m_operator;
    const Formats& m_formats;
    bool m_portOpen = false;
    bool m_reading = false;
    bool m_inExchange = false;
    std::string m_openName; // the port name the port was opened with
    OpenFailure m_openFailure;
    std::chrono::steady_clock::time_point m_readingStart;
    std::chrono::steady_clock::time_point m_readingEnd;
    bool m_hasRead = false;
};

} // namespace palvero

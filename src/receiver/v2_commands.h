#pragma once

#include "meter_table.h"
#include "operator.h"
#include "serial_port.h"
#include "settings.h"
#include "timer.h"

#include <functional>
#include <optional>
#include <string>

namespace palvero {

// The v2 receiver's text commands ("set wmod=1", "get main", ...), sent without any line
// end through a command port of their own (not the reading port), opened on the same
// device with the port settings of the record. Each command takes the port, writes its
// text in one piece and arms the reply timer; the tick collects what the receiver
// answered and releases the port. Open and close texts go to the main window's status
// panel and the reader log as the reading's do; the Settings window hears the rest
// through the callbacks.
class V2Commands {
public:
    // How long a reply is collected before the port is released.
    static constexpr int kReplyWaitMs = 1700;

    V2Commands(SerialPort& port, Sleeper& sleeper, Timer& replyTimer, const Settings& settings, MeterTable& table,
               Operator& op);
    // Takes its callbacks back from the port, which may outlive it.
    ~V2Commands();
    V2Commands(const V2Commands&) = delete;
    V2Commands& operator=(const V2Commands&) = delete;

    bool portOpen() const { return m_portOpen; }
    // A reply is awaited: the timer runs and the port is held.
    bool waiting() const { return m_timer.isActive(); }

    // Opens when closed, closes when open.
    void openOrClose();
    // Opens if needed; false when the port cannot be used, otherwise discards what it
    // holds and gives true.
    bool acquire();
    // Discards what the port holds and closes it.
    void release();

    // The commands of the v2 group and the free command field.
    void sendMode(const std::string& choice);
    void sendDecryption(bool on);
    void sendRssi(bool on);
    void sendMasterKey(const std::string& key);
    void sendGetMain();
    void sendFree(const std::string& text);

    // The reply timer's tick: whatever has arrived becomes one reply, the timer stops and
    // the port is released.
    void replyTick();

    // "set wmod=" for "T1" (1), "S1" (3) and "C (Frame B)" (5); nothing for other texts.
    static std::optional<std::string> modeCommand(const std::string& choice);
    // "set mkey=" and the key in upper-case hex digits; nothing unless the key reads as
    // 32 hex digits (spaces, dashes and a "0x" before it are left out; any other
    // character is refused, not sent).
    static std::optional<std::string> masterKeyCommand(const std::string& key);
    // A reply as Memo_S2 shows it: printable text as it came (line breaks too), every run
    // of other bytes as hex bytes in square brackets ("OK[00 FF]").
    static std::string replyText(const std::string& reply);

    // The box shown when the program's own reading holds the port a command needs.
    static constexpr char kReadingHoldsPortText[] =
        "The reading holds this serial port: stop the reading first (Stop or F5), then send the command again.";

    // Status panels of the Settings window (0: port, 1: result).
    std::function<void(int panel, const std::string& text)> onWindowStatus;
    // The red "Error command" label shown or hidden.
    std::function<void(bool shown)> onErrorLabel;
    // One reply of the receiver, for Memo_S2.
    std::function<void(const std::string& reply)> onReply;
    // The command port opened or closed: the Settings window's port controls follow it.
    std::function<void(bool open)> onPortChanged;
    // The name of the port the reading holds open (empty when none): a command on that
    // device says so instead of probing a port the program itself holds.
    std::function<std::string()> readingPort;

private:
    void open();
    void close();
    void purge();
    // Takes the port and writes the text.
    void send(const std::string& text);
    // Acquires the port; a port that cannot be used is reported.
    bool take();
    // Writes the text in one piece and arms the reply timer, also when the port refused
    // the text (the tick releases the port either way).
    void write(const std::string& text);
    void windowStatus(int panel, const std::string& text);
    void errorLabel(bool shown);
    void lost(const std::string& reason);

    SerialPort& m_port;
    Sleeper& m_sleeper;
    Timer& m_timer;
    const Settings& m_settings;
    MeterTable& m_table;
    Operator& m_operator;
    bool m_portOpen = false;
    std::string m_openName;
};

} // namespace palvero

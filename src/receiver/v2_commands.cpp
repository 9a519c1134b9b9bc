#include "v2_commands.h"

#include "key_text.h"
#include "line_settings.h"

#include <array>
#include <cctype>

namespace palvero {

namespace {

const char* const kCaption = "Palvero";

constexpr int kMainPortPanel = 0;
constexpr int kWindowPortPanel = 0;
constexpr int kWindowResultPanel = 1;
constexpr int kCloseWaitMs = 40;

constexpr size_t kReplyChunk = 1024;

struct ModeCommand {
    const char* choice;
    const char* command;
};
constexpr std::array<ModeCommand, 3> kModes = {{
    {"T1", "set wmod=1"},
    {"S1", "set wmod=3"},
    {"C (Frame B)", "set wmod=5"},
}};

} // namespace

V2Commands::V2Commands(SerialPort& port, Sleeper& sleeper, Timer& replyTimer, const Settings& settings,
                       MeterTable& table, Operator& op)
    : m_port(port)
    , m_sleeper(sleeper)
    , m_timer(replyTimer)
    , m_settings(settings)
    , m_table(table)
    , m_operator(op)
{
    // The command port has no receive handling: replies wait in it for the tick.
    m_port.onReceive = nullptr;
    m_port.onLost = [this](const std::string& reason) { lost(reason); };
}

V2Commands::~V2Commands()
{
    m_port.onLost = nullptr;
}

std::optional<std::string> V2Commands::modeCommand(const std::string& choice)
{
    for (const auto& m : kModes)
        if (choice == m.choice)
            return std::string(m.command);
    return std::nullopt;
}

std::optional<std::string> V2Commands::masterKeyCommand(const std::string& key)
{
    const KeyText read = readKeyText(key);
    if (!read.ok())
        return std::nullopt;
    std::string digits;
    for (char c : read.digits)
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return "set mkey=" + digits;
}

std::string V2Commands::replyText(const std::string& reply)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    bool inHex = false;
    for (char ch : reply) {
        const auto c = static_cast<unsigned char>(ch);
        const bool printable = (c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n' || c == '\t';
        if (printable) {
            if (inHex)
                text += ']';
            inHex = false;
            text += ch;
            continue;
        }
        text += inHex ? ' ' : '[';
        inHex = true;
        text += kHex[c >> 4];
        text += kHex[c & 0x0F];
    }
    if (inHex)
        text += ']';
    return text;
}

void V2Commands::openOrClose()
{
    if (m_portOpen)
        close();
    else
        open();
}

bool V2Commands::acquire()
{
    if (!m_portOpen)
        open();
    if (!m_portOpen)
        return false;
    purge();
    return true;
}

void V2Commands::release()
{
    purge();
    if (m_portOpen)
        close();
}

void V2Commands::sendMode(const std::string& choice)
{
    const auto command = modeCommand(choice);
    if (!command) {
        windowStatus(kWindowResultPanel, "Not a valid command");
        errorLabel(true);
        return;
    }
    errorLabel(false);
    send(*command);
}

void V2Commands::sendDecryption(bool on)
{
    errorLabel(false);
    send(on ? "set decr=1" : "set decr=0");
}

void V2Commands::sendRssi(bool on)
{
    errorLabel(false);
    send(on ? "set rssi=1" : "set rssi=0");
}

void V2Commands::sendGetMain()
{
    errorLabel(false);
    send("get main");
}

void V2Commands::sendMasterKey(const std::string& key)
{
    // A key that cannot be sent is refused before the port is taken: nothing to open.
    const auto command = masterKeyCommand(key);
    errorLabel(!command);
    if (command)
        send(*command);
}

void V2Commands::sendFree(const std::string& text)
{
    errorLabel(false);
    send(text);
}

void V2Commands::send(const std::string& text)
{
    if (take())
        write(text);
}

bool V2Commands::take()
{
    const std::string held = readingPort ? readingPort() : std::string();
    if (!held.empty() && deviceForPortName(held) == deviceForPortName(m_settings.Name)) {
        m_operator.showMessage(kCaption, kReadingHoldsPortText, MessageIcon::Warning);
        windowStatus(kWindowResultPanel, "Stop the reading first");
        return false;
    }
    if (acquire())
        return true;
    m_operator.showMessage(kCaption, "Unable to use selected COM port!", MessageIcon::Warning);
    windowStatus(kWindowResultPanel, "Serial port opened or not existing");
    return false;
}

void V2Commands::write(const std::string& text)
{
    if (!m_port.write(text))
        m_operator.showMessage(kCaption, m_port.errorText(), MessageIcon::Error);
    // A timer that runs already keeps its first tick.
    if (!m_timer.isActive())
        m_timer.start(kReplyWaitMs);
}

void V2Commands::replyTick()
{
    std::string reply;
    uint8_t chunk[kReplyChunk];
    while (m_portOpen) {
        size_t n = m_port.read(chunk, sizeof chunk, 0);
        if (n == 0)
            break;
        reply.append(reinterpret_cast<const char*>(chunk), n);
    }
    if (!reply.empty() && onReply)
        onReply(reply);
    m_timer.stop();
    release();
}

void V2Commands::open()
{
    const std::string name = m_settings.Name;
    const std::string closedText = name + " is closed";
    try {
        const std::string device = deviceForPortName(name);
        if (!m_port.probe(device)) {
            windowStatus(kWindowPortPanel, closedText);
            m_table.addReaderLogLine(probeFailureText(name, m_port.exists(device)));
            return;
        }
        auto speed = wholeNumber(m_settings.Speed);
        if (!speed || !m_port.open(device, baudRateFor(*speed, kCommandFallback),
                                   parityFor(m_settings.Parity, kCommandFallback))) {
            m_table.addReaderLogLine("Unknown Exception on opening serial port...");
            m_table.notifyStatusText(kMainPortPanel, closedText);
            return;
        }
        const std::string lineText = name + " - " + m_settings.Speed + ",8," + m_settings.Parity;
        m_openName = name;
        m_portOpen = true;
        m_table.notifyStatusText(kMainPortPanel, lineText);
        m_table.addReaderLogLine(lineText);
        if (onPortChanged)
            onPortChanged(true);
    } catch (...) {
        m_table.addReaderLogLine("Unknown Exception on opening serial port...");
        if (!m_portOpen)
            m_table.notifyStatusText(kMainPortPanel, closedText);
    }
}

void V2Commands::close()
{
    try {
        m_portOpen = false;
        m_sleeper.sleepMs(kCloseWaitMs);
        m_port.close();
        if (onPortChanged)
            onPortChanged(false);
    } catch (...) {
        m_table.addReaderLogLine("Unknown Exception closing serial port, please restart...");
    }
}

void V2Commands::purge()
{
    if (!m_port.purge())
        m_table.addReaderLogLine(drainTimeoutText(m_portOpen ? m_openName : m_settings.Name));
}

void V2Commands::lost(const std::string& reason)
{
    if (!m_portOpen)
        return;
    m_table.addReaderLogLine("The receiver on " + m_openName + " was lost: " + reason);
    m_portOpen = false;
    if (m_port.isOpen())
        m_port.close();
    if (onPortChanged)
        onPortChanged(false);
}

void V2Commands::windowStatus(int panel, const std::string& text)
{
    if (onWindowStatus)
        onWindowStatus(panel, text);
}

void V2Commands::errorLabel(bool shown)
{
    if (onErrorLabel)
        onErrorLabel(shown);
}

} // namespace palvero

#include "receiver_commands.h"

#include <algorithm>
#include <cctype>

namespace palvero::sim {

namespace {

constexpr uint8_t kEnter = 0x00;
constexpr uint8_t kPrompt = '>';
constexpr uint8_t kMemory = 'M';
constexpr uint8_t kRamI = 'I';
constexpr uint8_t kRamG = 'G';
constexpr uint8_t kLeave = 'X';
constexpr uint8_t kEndOfPairs = 0xFF;

// Longer than any command the receiver knows; the rest of such a text is noise.
constexpr size_t kLongestText = 64;

bool isHexText(const std::string& s)
{
    return std::all_of(s.begin(), s.end(), [](unsigned char ch) { return std::isxdigit(ch) != 0; });
}

bool isDigitText(const std::string& s)
{
    return !s.empty() && s.size() <= 3 && std::all_of(s.begin(), s.end(), [](unsigned char ch) { return std::isdigit(ch) != 0; });
}

bool startsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

// Whether a text can still grow into "set ..." or "get ...".
bool mayBecomeCommand(const std::string& text)
{
    for (const char* head : {"set ", "get "}) {
        std::string h(head);
        size_t n = std::min(h.size(), text.size());
        if (text.compare(0, n, h, 0, n) == 0)
            return true;
    }
    return false;
}

// The commands the receiver knows are complete without waiting for the pause.
bool isCompleteCommand(const std::string& text)
{
    if (text == "get main")
        return true;
    for (const char* head : {"set wmod=", "set decr=", "set rssi="}) {
        if (startsWith(text, head) && text.size() == std::char_traits<char>::length(head) + 1
            && std::isdigit(static_cast<unsigned char>(text.back())))
            return true;
    }
    return startsWith(text, "set mkey=") && text.size() == 9 + 32 && isHexText(text.substr(9));
}

const char* modeName(int wmod)
{
    switch (wmod) {
    case 1:
        return "T1";
    case 3:
        return "S1";
    case 5:
        return "C (Frame B)";
    default:
        return nullptr;
    }
}

} // namespace

ReceiverCommands::ReceiverCommands(bool rssiOn)
    : m_rssi(rssiOn)
{
}

void ReceiverCommands::reset()
{
    m_v1 = V1::Forwarding;
    m_text.clear();
    m_quietUntil = Clock::time_point();
}

ReceiverCommands::Clock::time_point ReceiverCommands::holdUntil() const
{
    if (m_v1 != V1::Forwarding || !m_text.empty())
        return Clock::time_point::max();
    return m_quietUntil;
}

ReceiverCommands::Clock::time_point ReceiverCommands::nextDeadline() const
{
    if (m_v1 == V1::RamZero)
        return m_zeroAt + kZeroValueWait;
    return m_text.empty() ? Clock::time_point::max() : m_lastTextByte + kTextPause;
}

std::string ReceiverCommands::tick(Clock::time_point now)
{
    if (m_v1 == V1::RamZero && now >= m_zeroAt + kZeroValueWait) {
        m_v1 = V1::CommandMode;
        return std::string(1, static_cast<char>(kPrompt));
    }
    if (!m_text.empty() && now >= m_lastTextByte + kTextPause)
        return endText(now);
    return {};
}

std::string ReceiverCommands::receive(const uint8_t* data, size_t n, Clock::time_point now)
{
    std::string answer;
    for (size_t i = 0; i < n; ++i) {
        if (m_v1 == V1::Forwarding)
            answer += receiveText(data[i], now);
        else
            answer += receiveV1(data[i], now);
    }
    return answer;
}

std::string ReceiverCommands::receiveV1(uint8_t byte, Clock::time_point now)
{
    switch (m_v1) {
    case V1::Forwarding:
    case V1::CommandMode:
        if (byte == kEnter) {
            m_v1 = V1::CommandMode;
            return std::string(1, static_cast<char>(kPrompt));
        }
        if (m_v1 == V1::Forwarding)
            return {};
        if (byte == kMemory) {
            m_v1 = V1::MemoryNumber;
            return std::string(1, static_cast<char>(kPrompt));
        }
        if (byte == kRamI || byte == kRamG) {
            m_ramCommand = byte;
            m_v1 = V1::RamValue;
        } else if (byte == kLeave) {
            m_v1 = V1::Forwarding;
            m_quietUntil = now + kQuietAfterCommandMode;
        }
        return {};
    case V1::RamValue:
        if (byte == kEnter) {
            m_v1 = V1::RamZero;
            m_zeroAt = now;
            return {};
        }
        m_ram[m_ramCommand] = byte;
        m_v1 = V1::CommandMode;
        return {};
    case V1::RamZero:
        m_ram[m_ramCommand] = kEnter;
        m_v1 = V1::CommandMode;
        return receiveV1(byte, now);
    case V1::MemoryNumber:
        if (byte == kEndOfPairs) {
            m_v1 = V1::CommandMode;
        } else {
            m_memoryNumber = byte;
            m_v1 = V1::MemoryValue;
        }
        return {};
    case V1::MemoryValue:
        m_memory[m_memoryNumber] = byte;
        m_v1 = V1::MemoryNumber;
        return {};
    }
    return {};
}

std::string ReceiverCommands::receiveText(uint8_t byte, Clock::time_point now)
{
    if (m_text.empty()) {
        if (byte == 's' || byte == 'g') {
            m_text.push_back(static_cast<char>(byte));
            m_lastTextByte = now;
            return {};
        }
        return receiveV1(byte, now); // lone bytes are v1, others are ignored
    }
    if (byte == '\r' || byte == '\n')
        return endText(now);
    if (byte < 0x20 || byte > 0x7E) {
        m_text.clear(); // not text after all
        return receiveText(byte, now);
    }
    m_text.push_back(static_cast<char>(byte));
    m_lastTextByte = now;
    if (!mayBecomeCommand(m_text)) {
        m_text.clear();
        return receiveText(byte, now);
    }
    if (isCompleteCommand(m_text) || m_text.size() >= kLongestText)
        return endText(now);
    return {};
}

std::string ReceiverCommands::endText(Clock::time_point now)
{
    std::string text;
    text.swap(m_text);
    if (text.size() < 4 || !mayBecomeCommand(text))
        return {};
    m_quietUntil = now + kQuietAfterText;
    return answerText(text);
}

std::string ReceiverCommands::answerText(const std::string& text)
{
    const std::string ok = "OK\r\n";
    const std::string refused = "ERROR\r\n";
    if (text == "get main")
        return mainText();
    if (!startsWith(text, "set ") || text.size() < 10 || text[8] != '=')
        return refused;
    std::string key = text.substr(4, 4);
    std::string value = text.substr(9);
    if (key == "wmod" && isDigitText(value)) {
        m_wmod = std::stoi(value);
        return ok;
    }
    if ((key == "decr" || key == "rssi") && (value == "0" || value == "1")) {
        (key == "decr" ? m_decr : m_rssi) = value == "1";
        return ok;
    }
    if (key == "mkey" && value.size() == 32 && isHexText(value)) {
        m_mkey = value;
        return ok;
    }
    return refused;
}

std::string ReceiverCommands::mainText() const
{
    std::string mode = "wmod=" + std::to_string(m_wmod);
    if (const char* name = modeName(m_wmod))
        mode += std::string(" (") + name + ")";
    return "RXL-IoT wM-Bus receiver, fw 2.1, " + mode + ", decr " + (m_decr ? "on" : "off") + ", rssi "
        + (m_rssi ? "on" : "off") + ", mkey " + (m_mkey.empty() ? "none" : "set") + "\r\n";
}

} // namespace palvero::sim

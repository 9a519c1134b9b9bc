#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace palvero::sim {

// The receiver's side of the command exchanges, without any port: bytes written by the program
// go in, the receiver's answer comes out, and it tells when forwarding telegrams must wait.
//
// v1: 0x00 enters command mode and is answered ">"; there "M" is answered ">" and takes pairs
// of parameter number and value up to 0xFF, "I" and "G" take one value each, "X" leaves.
// v2: plain text without terminator ("set wmod=1", "get main", ...). A text ends when it forms a
// complete command, at CR or LF, or after a pause; it is answered with a line of text.
class ReceiverCommands {
public:
    using Clock = std::chrono::steady_clock;

    // A v2 text is taken as complete after this long without a further byte.
    static constexpr std::chrono::milliseconds kTextPause{50};
    // Forwarding waits this long after "X", so that a second exchange right after the first
    // (Start sends "I" and then "G") finds the line quiet.
    static constexpr std::chrono::milliseconds kQuietAfterCommandMode{100};
    // Forwarding waits this long after a text answer: the program collects the answer for
    // 1.7 s and would take telegrams for part of it.
    static constexpr std::chrono::milliseconds kQuietAfterText{2000};
    // A zero byte where a RAM value is due stays open this long: followed by "X" it was the
    // value; alone it starts a new exchange. The program purges its port right after sending
    // value and "X", and on a pseudo-terminal that purge can swallow both before we read them.
    static constexpr std::chrono::milliseconds kZeroValueWait{20};

    explicit ReceiverCommands(bool rssiOn);

    // Bytes from the program; gives the bytes to answer with (often none).
    std::string receive(const uint8_t* data, size_t n, Clock::time_point now);
    // Ends a text command, or settles a zero byte, whose wait has run out; gives the answer.
    std::string tick(Clock::time_point now);
    // When tick() next has something to do; Clock::time_point::max() when nothing waits.
    Clock::time_point nextDeadline() const;
    // Until when telegrams must not be forwarded; Clock::time_point::max() while an exchange
    // is under way.
    Clock::time_point holdUntil() const;
    // The port was closed: a half exchange is forgotten, the settings are kept.
    void reset();

private:
    enum class V1 { Forwarding, CommandMode, RamValue, RamZero, MemoryNumber, MemoryValue };

    std::string receiveV1(uint8_t byte, Clock::time_point now);
    std::string receiveText(uint8_t byte, Clock::time_point now);
    std::string endText(Clock::time_point now);
    std::string answerText(const std::string& text);
    std::string mainText() const;

    V1 m_v1 = V1::Forwarding;
    uint8_t m_ramCommand = 0;
    uint8_t m_memoryNumber = 0;
    Clock::time_point m_zeroAt;
    std::map<uint8_t, uint8_t> m_memory; // permanent parameters by number
    std::map<uint8_t, uint8_t> m_ram;    // last value of "I" and "G"

    std::string m_text;
    Clock::time_point m_lastTextByte;
    Clock::time_point m_quietUntil;

    int m_wmod = 1;
    bool m_decr = false;
    bool m_rssi = true;
    std::string m_mkey;
};

} // namespace palvero::sim

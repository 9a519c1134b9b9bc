#pragma once

#include "pseudo_terminal.h"
#include "receiver_commands.h"
#include "sim_options.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace palvero::sim {

// Plays frames on the pseudo-terminal while a program holds the port, and answers the
// program's commands. Telegrams wait while the port is closed, for the start delay after each
// opening and while a command exchange is under way; a frame is never cut short by them.
class Simulator {
public:
    using Clock = std::chrono::steady_clock;

    // stopFd becomes readable when the simulator must stop; logFd (or -1) gets every byte the
    // program writes.
    Simulator(const SimOptions& options, std::vector<std::vector<uint8_t>> frames, PseudoTerminal& pty, int stopFd,
              int logFd);

    // Runs until stopped, until --count frames are out (and read, or a moment has passed), or
    // until --close-after frames are out.
    void run();

    long framesSent() const { return m_sent; }
    // Whether the run ended because the receiver is to be pulled out.
    bool pullOut() const { return m_ending == Ending::PullOut; }

private:
    enum class Ending { None, CountReached, PullOut };

    struct Chunk {
        std::string bytes;
        size_t written = 0;
        bool frame = false;
    };

    void portOpened(Clock::time_point now);
    void portClosed();
    void readFromProgram(Clock::time_point now, bool hungUp);
    void writeToProgram(Clock::time_point now);
    void queueAnswer(const std::string& answer);
    bool framesLeft() const;
    bool frameQueued() const;
    Clock::time_point nextFrameDue() const;
    void queueFrame(Clock::time_point now);
    void frameWritten(Clock::time_point now);

    const SimOptions& m_options;
    std::vector<std::vector<uint8_t>> m_frames;
    PseudoTerminal& m_pty;
    int m_stopFd;
    int m_logFd;
    ReceiverCommands m_commands;

    bool m_portOpen = false;
    Clock::time_point m_playFrom;
    Clock::time_point m_nextFrameAt;
    std::deque<Chunk> m_out;
    size_t m_next = 0;    // capture frame to play next
    long m_queued = 0;    // frames queued so far, for the meter ID rotation
    long m_sent = 0;      // frames written completely
    Ending m_ending = Ending::None;
    Clock::time_point m_endAt = Clock::time_point::max();
};

} // namespace palvero::sim

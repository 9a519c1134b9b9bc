#include "simulator.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace palvero::sim {

namespace {

using namespace std::chrono_literals;

// How often a closed port is looked at: the master cannot wake anyone when the slave opens.
constexpr auto kClosedPortCheck = 20ms;
// After the last counted frame, the reader gets this long to take it before the port goes;
// closing the master throws away what the slave end has not read.
constexpr auto kCountLinger = 1500ms;
constexpr auto kPullOutDrain = 100ms;

// Frame bytes 5..8: identification number, 8 BCD digits, least significant byte first.
void setMeterId(std::vector<uint8_t>& frame, long id)
{
    if (frame.size() < 10)
        return;
    for (size_t i = 5; i <= 8; ++i) {
        int low = static_cast<int>(id % 10);
        id /= 10;
        int high = static_cast<int>(id % 10);
        id /= 10;
        frame[i] = static_cast<uint8_t>(high << 4 | low);
    }
}

} // namespace

Simulator::Simulator(const SimOptions& options, std::vector<std::vector<uint8_t>> frames, PseudoTerminal& pty,
                     int stopFd, int logFd)
    : m_options(options)
    , m_frames(std::move(frames))
    , m_pty(pty)
    , m_stopFd(stopFd)
    , m_logFd(logFd)
    , m_commands(options.shape.withRssi)
{
}

void Simulator::run()
{
    for (;;) {
        auto now = Clock::now();
        if (!m_portOpen && m_ending == Ending::None && m_pty.slaveOpen())
            portOpened(now);
        if (now >= m_endAt || (m_ending == Ending::CountReached && !m_portOpen))
            return;
        if (m_portOpen && m_ending == Ending::None && framesLeft() && !frameQueued() && now >= nextFrameDue())
            queueFrame(now);

        auto wake = m_endAt;
        if (!m_portOpen) {
            wake = std::min(wake, now + kClosedPortCheck);
        } else {
            wake = std::min(wake, m_commands.nextDeadline());
            if (m_ending == Ending::None && framesLeft() && !frameQueued())
                wake = std::min(wake, nextFrameDue());
        }
        int timeoutMs = 1000;
        if (wake < now + 1s)
            timeoutMs = static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(std::max(wake - now, Clock::duration::zero())).count());

        pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {m_pty.masterFd(), 0, 0}};
        nfds_t nfds = 1;
        if (m_portOpen) {
            fds[1].events = static_cast<short>(POLLIN | (m_out.empty() ? 0 : POLLOUT));
            nfds = 2;
        }
        if (poll(fds, nfds, timeoutMs) < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0)
            return;
        now = Clock::now();
        if (nfds == 2 && fds[1].revents != 0) {
            if (fds[1].revents & POLLOUT)
                writeToProgram(now);
            if (m_portOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)))
                readFromProgram(now, (fds[1].revents & (POLLHUP | POLLERR)) != 0);
        }
        // after reading, so that a byte that has arrived counts before a wait runs out
        if (m_portOpen)
            queueAnswer(m_commands.tick(now));
    }
}

void Simulator::portOpened(Clock::time_point now)
{
    m_portOpen = true;
    m_playFrom = now + std::chrono::milliseconds(m_options.startDelayMs);
    m_commands.reset();
    m_out.clear();
}

void Simulator::portClosed()
{
    m_portOpen = false;
    m_commands.reset();
    m_out.clear();
    // Frames left in the line would otherwise greet the next program that opens it.
    m_pty.resetLine();
}

void Simulator::readFromProgram(Clock::time_point now, bool hungUp)
{
    uint8_t buf[512];
    for (;;) {
        long n = m_pty.read(buf, sizeof buf);
        if (n > 0) {
            if (m_logFd >= 0) {
                for (long done = 0; done < n;) {
                    long w = ::write(m_logFd, buf + done, static_cast<size_t>(n - done));
                    if (w <= 0)
                        break;
                    done += w;
                }
            }
            queueAnswer(m_commands.receive(buf, static_cast<size_t>(n), now));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && !hungUp)
            return;
        break; // end of data with the slave closed (EIO), or a hang-up
    }
    portClosed();
}

void Simulator::writeToProgram(Clock::time_point now)
{
    while (!m_out.empty()) {
        Chunk& c = m_out.front();
        long n = m_pty.write(reinterpret_cast<const uint8_t*>(c.bytes.data()) + c.written, c.bytes.size() - c.written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // full (EAGAIN), or closed: the read side notices that
        }
        c.written += static_cast<size_t>(n);
        if (c.written < c.bytes.size())
            return;
        bool frame = c.frame;
        m_out.pop_front();
        if (frame)
            frameWritten(now);
    }
}

void Simulator::queueAnswer(const std::string& answer)
{
    if (!answer.empty() && m_portOpen)
        m_out.push_back({answer, 0, false});
}

bool Simulator::framesLeft() const
{
    return m_options.loop || m_next < m_frames.size();
}

bool Simulator::frameQueued() const
{
    return std::any_of(m_out.begin(), m_out.end(), [](const Chunk& c) { return c.frame; });
}

Simulator::Clock::time_point Simulator::nextFrameDue() const
{
    return std::max({m_playFrom, m_nextFrameAt, m_commands.holdUntil()});
}

void Simulator::queueFrame(Clock::time_point now)
{
    std::vector<uint8_t> frame = m_frames[m_next];
    m_next = (m_next + 1 == m_frames.size() && m_options.loop) ? 0 : m_next + 1;
    if (m_options.varyId)
        setMeterId(frame, m_queued % *m_options.varyId + 1);
    ++m_queued;
    m_out.push_back({std::string(frame.begin(), frame.end()), 0, true});
    if (m_options.rate > 0)
        m_nextFrameAt = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / m_options.rate));
    else
        m_nextFrameAt = now;
}

void Simulator::frameWritten(Clock::time_point now)
{
    ++m_sent;
    if (m_options.closeAfter && m_sent >= *m_options.closeAfter) {
        m_ending = Ending::PullOut;
        m_endAt = now + kPullOutDrain;
    } else if (m_options.count && m_sent >= *m_options.count) {
        m_ending = Ending::CountReached;
        m_endAt = now + kCountLinger;
    }
}

} // namespace palvero::sim

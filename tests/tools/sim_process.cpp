#include "sim_process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace palvero::test {

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

SimProcess::SimProcess(const std::vector<std::string>& args)
{
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    m_pid = fork();
    if (m_pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        std::vector<char*> argv;
        std::string program = WMBUS_SIM;
        argv.push_back(program.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    m_out = out[0];
    m_err = err[0];

    // The simulator starts slowly under the sanitizers on a busy machine.
    auto deadline = Clock::now() + std::chrono::seconds(20);
    char ch = 0;
    while (msLeft(deadline) > 0) {
        pollfd p{m_out, POLLIN, 0};
        if (poll(&p, 1, msLeft(deadline)) <= 0)
            break;
        if (::read(m_out, &ch, 1) != 1 || ch == '\n')
            break;
        m_port.push_back(ch);
    }
}

SimProcess::~SimProcess()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    ::close(m_out);
    ::close(m_err);
}

void SimProcess::signal(int sig)
{
    if (m_pid > 0)
        kill(m_pid, sig);
}

bool SimProcess::waitExit(int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_pid > 0) {
        int status = 0;
        pid_t r = waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_pid = -1;
            m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return true;
        }
        if (msLeft(deadline) == 0)
            return false;
        poll(nullptr, 0, 10);
    }
    return true;
}

std::string SimProcess::errorText()
{
    char buf[512];
    for (;;) {
        pollfd p{m_err, POLLIN, 0};
        if (poll(&p, 1, m_pid > 0 ? 0 : 1000) <= 0)
            break;
        ssize_t n = ::read(m_err, buf, sizeof buf);
        if (n <= 0)
            break;
        m_errText.append(buf, static_cast<size_t>(n));
    }
    return m_errText;
}

SlavePort::SlavePort(const std::string& path)
    : m_path(path)
{
    reopen();
}

SlavePort::~SlavePort()
{
    close();
}

void SlavePort::reopen()
{
    close();
    m_fd = ::open(m_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return;
    termios t{};
    tcgetattr(m_fd, &t);
    cfmakeraw(&t);
    tcsetattr(m_fd, TCSANOW, &t);
}

void SlavePort::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void SlavePort::write(const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            throw std::runtime_error("write to the simulated port failed");
        if (n > 0)
            done += static_cast<size_t>(n);
        else
            poll(nullptr, 0, 1);
    }
}

void SlavePort::write(const std::string& text)
{
    write(std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> SlavePort::read(size_t n, int timeoutMs)
{
    std::vector<uint8_t> got;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < n) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, msLeft(deadline)) <= 0 || !(p.revents & POLLIN))
            break;
        uint8_t buf[512];
        ssize_t r = ::read(m_fd, buf, std::min(sizeof buf, n - got.size()));
        if (r <= 0)
            break;
        got.insert(got.end(), buf, buf + r);
    }
    return got;
}

std::vector<uint8_t> SlavePort::frame(int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto head = read(2, timeoutMs);
    if (head.size() < 2 || head[0] != 0x68)
        return {};
    auto rest = read(head[1] + 1u, msLeft(deadline));
    head.insert(head.end(), rest.begin(), rest.end());
    return head.size() == head[1] + 3u ? head : std::vector<uint8_t>{};
}

std::string SlavePort::line(int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string text;
    while (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) {
        auto b = read(1, msLeft(deadline));
        if (b.empty())
            break;
        text.push_back(static_cast<char>(b[0]));
    }
    return text;
}

std::vector<uint8_t> SlavePort::readFor(int ms)
{
    return read(SIZE_MAX, ms);
}

bool SlavePort::hangsUp(int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        int r = poll(&p, 1, msLeft(deadline));
        if (r <= 0)
            return false;
        if (p.revents & (POLLHUP | POLLERR))
            return true;
        uint8_t buf[512];
        ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno == EIO))
            return true;
    }
}

} // namespace palvero::test

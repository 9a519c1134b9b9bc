#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace palvero::test {

// wmbus-sim as a child process. The constructor starts it and waits for the port path it
// prints (empty if it ended without one); the destructor kills it if it still runs.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& port() const { return m_port; }
    void signal(int sig);
    // Waits for the end; false if it still runs after timeoutMs.
    bool waitExit(int timeoutMs);
    int exitCode() const { return m_exitCode; } // -1 unless it exited normally
    // Everything written to standard error; complete once the process has ended.
    std::string errorText();

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    int m_exitCode = -1;
    std::string m_port;
    std::string m_errText;
};

// The program's end of the simulated serial port: raw, read with time-outs.
class SlavePort {
public:
    explicit SlavePort(const std::string& path);
    ~SlavePort();
    SlavePort(const SlavePort&) = delete;
    SlavePort& operator=(const SlavePort&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    void reopen();
    void close();
    void write(const std::vector<uint8_t>& bytes);
    void write(const std::string& text);
    // Up to n bytes, fewer when timeoutMs passes first.
    std::vector<uint8_t> read(size_t n, int timeoutMs);
    // One frame by its length byte; empty on a time-out or when the first byte is not 0x68.
    std::vector<uint8_t> frame(int timeoutMs = 5000);
    // Text up to and including CR LF, or what arrived before the time-out.
    std::string line(int timeoutMs = 5000);
    // Everything that arrives within ms.
    std::vector<uint8_t> readFor(int ms);
    // True when the other end goes away (hang-up, end of file or I/O error) within timeoutMs.
    bool hangsUp(int timeoutMs);

private:
    std::string m_path;
    int m_fd = -1;
};

} // namespace palvero::test

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace palvero::sim {

// The master end of a pseudo-terminal whose slave end stands in for the receiver's serial port.
// The line is raw in both directions (no echo, no translation of bytes). Whether a program
// holds the port open is read from the master: it reports a hang-up while nobody does.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Creates the pair; on failure gives false and a reason in error().
    bool open();
    // Closes the master: the port disappears under whoever holds it.
    void close();

    int masterFd() const { return m_master; }
    const std::string& slavePath() const { return m_slavePath; }
    const std::string& error() const { return m_error; }

    // Whether a program holds the slave end open.
    bool slaveOpen() const;
    // Clears whatever the previous user left in the line and sets it raw again. Only while no
    // program holds the port.
    void resetLine();

    // Non-blocking transfers; -1 with errno as set by the system.
    long read(uint8_t* buf, size_t n);
    long write(const uint8_t* buf, size_t n);

private:
    int m_master = -1;
    std::string m_slavePath;
    std::string m_error;
};

} // namespace palvero::sim

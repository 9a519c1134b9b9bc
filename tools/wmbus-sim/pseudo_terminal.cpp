#include "pseudo_terminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace palvero::sim {

namespace {

void makeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    tcsetattr(fd, TCSANOW, &t);
}

} // namespace

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::open()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        m_error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        close();
        return false;
    }
    const char* name = ptsname(m_master);
    if (!name) {
        m_error = std::string("cannot name the pseudo-terminal: ") + std::strerror(errno);
        close();
        return false;
    }
    m_slavePath = name;
    int flags = fcntl(m_master, F_GETFL);
    fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    // A fresh master does not report a hang-up until its slave has been opened and closed
    // once; after this, "no hang-up" means a program holds the port.
    resetLine();
    return true;
}

void PseudoTerminal::close()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool PseudoTerminal::slaveOpen() const
{
    if (m_master < 0)
        return false;
    pollfd p{m_master, 0, 0};
    if (poll(&p, 1, 0) < 0)
        return false;
    return (p.revents & POLLHUP) == 0;
}

void PseudoTerminal::resetLine()
{
    int slave = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0)
        return; // a program has taken the port again in the meantime, exclusively
    makeRaw(slave);
    tcflush(slave, TCIOFLUSH);
    ::close(slave);
}

long PseudoTerminal::read(uint8_t* buf, size_t n)
{
    return ::read(m_master, buf, n);
}

long PseudoTerminal::write(const uint8_t* buf, size_t n)
{
    return ::write(m_master, buf, n);
}

} // namespace palvero::sim

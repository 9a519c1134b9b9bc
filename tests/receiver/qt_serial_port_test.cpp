#include "qt_serial_port.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

namespace palvero {
namespace {

// The master side of a pseudo-terminal in raw mode; the slave is the "serial port".
class PseudoTerminal {
public:
    PseudoTerminal()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return;
        termios t{};
        if (tcgetattr(m_master, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(m_master, TCSANOW, &t);
        }
        if (const char* name = ptsname(m_master))
            m_slave = name;
    }
    ~PseudoTerminal() { closeMaster(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool ok() const { return m_master >= 0 && !m_slave.empty(); }
    const std::string& slave() const { return m_slave; }

    bool send(const std::string& bytes) { return ::write(m_master, bytes.data(), bytes.size()) == ssize_t(bytes.size()); }

    // Reads what the port wrote, waiting up to the time-out for `n` bytes.
    std::string receive(size_t n, int timeoutMs)
    {
        std::string got;
        char buf[256];
        while (got.size() < n) {
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0)
                break;
            ssize_t r = ::read(m_master, buf, sizeof buf);
            if (r <= 0)
                break;
            got.append(buf, size_t(r));
        }
        return got;
    }

    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

private:
    int m_master = -1;
    std::string m_slave;
};

TEST(QtSerialPort, CarriesBytesOverAPseudoTerminalAndReportsItsLossOnce)
{
    int argc = 1;
    char name[] = "test_receiver";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());

    QtSerialPort port;
    std::string received;
    int receiveEvents = 0;
    std::vector<std::string> losses;
    port.onReceive = [&] {
        ++receiveEvents;
        uint8_t buf[16];
        while (size_t waiting = port.bytesWaiting()) {
            size_t n = port.read(buf, std::min(waiting, sizeof buf), 0);
            received.append(reinterpret_cast<char*>(buf), n);
        }
    };
    port.onLost = [&](const std::string& reason) { losses.push_back(reason); };

    ASSERT_TRUE(port.probe(pty.slave()));
    EXPECT_TRUE(port.exists(pty.slave()));
    EXPECT_FALSE(port.isOpen());
    ASSERT_TRUE(port.open(pty.slave(), 9600, Parity::None)) << port.errorText();
    EXPECT_TRUE(port.isOpen());
    EXPECT_FALSE(QtSerialPort().probe(pty.slave())) << "an open port is held exclusively";
    EXPECT_TRUE(QtSerialPort().exists(pty.slave())) << "held, not missing";

    // Receiver to program, announced on the event loop.
    const std::string frame("\x68\x03\x44\x9A\x16\x00\x68", 7);
    ASSERT_TRUE(pty.send(frame));
    EXPECT_TRUE(QTest::qWaitFor([&] { return received.size() >= frame.size(); }, 5000));
    EXPECT_EQ(received, frame);
    EXPECT_GE(receiveEvents, 1);

    // Program to receiver.
    EXPECT_TRUE(port.write(std::string("\x00I\x02X", 4)));
    EXPECT_EQ(pty.receive(4, 5000), std::string("\x00I\x02X", 4));

    // A blocking read with time-out, as the v1 exchange does it.
    ASSERT_TRUE(pty.send(">"));
    uint8_t answer = 0;
    port.onReceive = nullptr;
    EXPECT_EQ(port.read(&answer, 1, 1000), 1u);
    EXPECT_EQ(answer, '>');
    EXPECT_EQ(port.read(&answer, 1, 10), 0u);

    // The receiver goes away.
    pty.closeMaster();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !losses.empty(); }, 5000));
    EXPECT_FALSE(port.isOpen());
    // Give a spinning descriptor the chance to report again.
    QTest::qWait(100);
    ASSERT_EQ(losses.size(), 1u);
    EXPECT_FALSE(losses[0].empty());
    EXPECT_EQ(port.bytesWaiting(), 0u);
    EXPECT_FALSE(port.write(std::string("X")));
}

TEST(QtSerialPort, LossDuringABlockingReadEndsTheWait)
{
    int argc = 1;
    char name[] = "test_receiver";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    QtSerialPort port;
    int losses = 0;
    port.onLost = [&](const std::string&) { ++losses; };
    ASSERT_TRUE(port.open(pty.slave(), 2400, Parity::Even)) << port.errorText();

    pty.closeMaster();
    QElapsedTimer timer;
    timer.start();
    uint8_t answer = 0;
    EXPECT_EQ(port.read(&answer, 1, 3000), 0u);
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_EQ(losses, 1);
    EXPECT_FALSE(port.isOpen());
}

TEST(QtSerialPort, StuckOutputIsDiscardedAfterItsTimeOut)
{
    int argc = 1;
    char name[] = "test_receiver";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    // Nobody reads the other end: the line fills up, as behind a stuck USB adapter.
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    QtSerialPort port;
    ASSERT_TRUE(port.open(pty.slave(), 115200, Parity::None)) << port.errorText();
    const std::string flood(1 << 20, 'x');
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(port.write(flood));
    EXPECT_LT(timer.elapsed(), 3000);

    timer.restart();
    EXPECT_FALSE(port.purge());
    const qint64 purgeMs = timer.elapsed();
    EXPECT_GE(purgeMs, SerialPort::kDrainTimeoutMs - 50);
    EXPECT_LT(purgeMs, SerialPort::kDrainTimeoutMs + 1000);

    // Nothing is left to hold up the next purge or the close.
    timer.restart();
    EXPECT_TRUE(port.purge());
    port.close();
    EXPECT_LT(timer.elapsed(), 500);
    EXPECT_FALSE(port.isOpen());
}

TEST(QtSerialPort, ProbeFailsForAMissingDevice)
{
    QtSerialPort port;
    EXPECT_FALSE(port.exists("/dev/palvero-no-such-port"));
    EXPECT_TRUE(port.exists("/dev/null"));
    EXPECT_FALSE(port.probe("/dev/palvero-no-such-port"));
    EXPECT_FALSE(port.open("/dev/palvero-no-such-port", 2400, Parity::Even));
    EXPECT_FALSE(port.isOpen());
}

} // namespace
} // namespace palvero

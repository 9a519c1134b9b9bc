#include "qt_serial_port.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QThread>

#include <algorithm>
#include <climits>

#ifndef _WIN32
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace palvero {

namespace {

QSerialPort::Parity qtParity(Parity parity)
{
    switch (parity) {
    case Parity::None:
        return QSerialPort::NoParity;
    case Parity::Odd:
        return QSerialPort::OddParity;
    case Parity::Mark:
        return QSerialPort::MarkParity;
    case Parity::Space:
        return QSerialPort::SpaceParity;
    case Parity::Even:
        break;
    }
    return QSerialPort::EvenParity;
}

} // namespace

QtSerialPort::QtSerialPort(QObject* parent)
    : QObject(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, [this] {
        if (onReceive)
            onReceive();
    });
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialPort::errorOccurred);
}

QtSerialPort::~QtSerialPort()
{
    // No callbacks into an owner that may already be gone.
    onReceive = nullptr;
    onLost = nullptr;
    close();
}

bool QtSerialPort::probe(const std::string& device)
{
    // A port of its own, so that a failed probe leaves no error on the reading port.
    // QSerialPort opens exclusively: a lock file and TIOCEXCL on Unix, no sharing on Windows.
    QSerialPort probe;
    probe.setPortName(QString::fromStdString(device));
    if (!probe.open(QIODevice::ReadWrite)) {
        m_probeError = probe.errorString().toStdString();
        return false;
    }
    m_probeError.clear();
    probe.close();
    return true;
}

bool QtSerialPort::open(const std::string& device, int baudRate, Parity parity)
{
    if (m_port.isOpen())
        close();
    m_port.setPortName(QString::fromStdString(device));
    m_port.setBaudRate(baudRate);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setParity(qtParity(parity));
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_port.setReadBufferSize(kReadBufferSize);
    return m_port.open(QIODevice::ReadWrite);
}

bool QtSerialPort::exists(const std::string& device)
{
#ifdef _WIN32
    const QString name = QString::fromStdString(device).section('\\', -1);
    const auto ports = QSerialPortInfo::availablePorts();
    return std::any_of(ports.begin(), ports.end(),
                       [&name](const QSerialPortInfo& p) { return p.portName().compare(name, Qt::CaseInsensitive) == 0; });
#else
    // Follows links: a udev link or a simulator's link whose target has gone is missing.
    return QFileInfo::exists(QString::fromStdString(device));
#endif
}

void QtSerialPort::close()
{
    if (!m_port.isOpen() || m_closing)
        return;
    // Restoring the line settings on a vanished device fails and raises errorOccurred
    // from inside close(); the flag keeps that from closing a second time.
    m_closing = true;
    m_port.close();
    m_closing = false;
}

bool QtSerialPort::isOpen() const
{
    return m_port.isOpen();
}

bool QtSerialPort::purge()
{
    if (!m_port.isOpen())
        return true;
    // Output is left to go out rather than cleared: on a pseudo-terminal clearing would
    // throw away command bytes that the receiver has not read yet. A stuck adapter gets
    // kDrainTimeoutMs; what it still holds then is discarded, so that neither this wait
    // nor the close that follows can hang.
    bool drained = true;
    QDeadlineTimer deadline(kDrainTimeoutMs);
    while (m_port.isOpen() && pendingOutput() > 0) {
        if (deadline.hasExpired()) {
            drained = false;
            m_port.clear(QSerialPort::Output);
            break;
        }
        if (m_port.bytesToWrite() > 0
            && m_port.waitForBytesWritten(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1))))
            continue;
        QThread::msleep(1);
    }
    if (m_port.isOpen())
        m_port.clear(QSerialPort::Input);
    return drained;
}

qint64 QtSerialPort::pendingOutput() const
{
    qint64 pending = m_port.bytesToWrite();
#ifndef _WIN32
    int queued = 0;
    if (::ioctl(static_cast<int>(m_port.handle()), TIOCOUTQ, &queued) == 0 && queued > 0)
        pending += queued;
#endif
    return pending;
}

size_t QtSerialPort::read(uint8_t* buffer, size_t max, int timeoutMs)
{
    if (!m_port.isOpen() || max == 0)
        return 0;
    // waitForReadyRead emits readyRead itself; the owner keeps out while it waits.
    if (m_port.bytesAvailable() == 0)
        m_port.waitForReadyRead(std::max(timeoutMs, 0));
    if (!m_port.isOpen())
        return 0;
    qint64 n = m_port.read(reinterpret_cast<char*>(buffer), static_cast<qint64>(std::min<size_t>(max, INT_MAX)));
    return n > 0 ? static_cast<size_t>(n) : 0;
}

bool QtSerialPort::write(const uint8_t* data, size_t n)
{
    if (!m_port.isOpen())
        return false;
    if (n == 0)
        return true;
    qint64 written = m_port.write(reinterpret_cast<const char*>(data), static_cast<qint64>(n));
    if (written != static_cast<qint64>(n))
        return false;
    // waitForBytesWritten returns after each piece the system takes; the whole text gets
    // the one time-out.
    QDeadlineTimer deadline(kWriteTimeoutMs);
    while (m_port.isOpen() && m_port.bytesToWrite() > 0) {
        if (deadline.hasExpired()
            || !m_port.waitForBytesWritten(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1))))
            break;
    }
    return m_port.isOpen() && m_port.bytesToWrite() == 0;
}

size_t QtSerialPort::bytesWaiting()
{
    return m_port.isOpen() ? static_cast<size_t>(m_port.bytesAvailable()) : 0;
}

std::string QtSerialPort::errorText() const
{
    return m_port.errorString().toStdString();
}

bool QtSerialPort::hungUp() const
{
#ifdef _WIN32
    return true;
#else
    pollfd p{m_port.handle(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
#endif
}

void QtSerialPort::errorOccurred(QSerialPort::SerialPortError error)
{
    if (!m_port.isOpen() || m_closing)
        return;
    // A pulled USB adapter or a closed pseudo-terminal hangs the line up: reads give end
    // of file, which QSerialPort reports as a ReadError, again on every event, for as
    // long as the port stays open.
    std::string reason;
    if (error == QSerialPort::ResourceError || error == QSerialPort::PermissionError)
        reason = m_port.errorString().toStdString();
    else if (error == QSerialPort::ReadError && hungUp())
        reason = "Device hung up"; // errno holds nothing of use after end of file
    else
        return;
    // Closed before the owner hears of it, so that the dead descriptor raises nothing more.
    close();
    if (onLost)
        onLost(reason);
}

} // namespace palvero

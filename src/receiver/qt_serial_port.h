#pragma once

#include "serial_port.h"

#include <QObject>
#include <QSerialPort>

namespace palvero {

// The serial port of the program over QSerialPort. Received bytes are announced through
// `onReceive` from readyRead, on the thread that owns the object (the user-interface
// thread). A device that goes away while open (receiver pulled out, pseudo-terminal
// closed: an I/O error, or a hang-up that reads as end of file) or stops granting access
// closes the port and raises `onLost` once.
// DTR and RTS are left as the system leaves them on open; this class never drives them.
class QtSerialPort : public QObject, public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    bool probe(const std::string& device) override;
    bool exists(const std::string& device) override;
    bool open(const std::string& device, int baudRate, Parity parity) override;
    void close() override;
    bool isOpen() const override;
    bool purge() override;
    size_t read(uint8_t* buffer, size_t max, int timeoutMs) override;
    bool write(const uint8_t* data, size_t n) override;
    size_t bytesWaiting() override;
    std::string errorText() const override;
    std::string probeErrorText() const override { return m_probeError; }

    using SerialPort::write;

    static constexpr qint64 kReadBufferSize = 4096;
    static constexpr int kWriteTimeoutMs = 1000;

private:
    void errorOccurred(QSerialPort::SerialPortError error);
    // The line is hung up or the descriptor is dead, not merely without data.
    bool hungUp() const;
    // Bytes still on their way out: in this object's buffer and in the system's queue.
    qint64 pendingOutput() const;

    QSerialPort m_port;
    bool m_closing = false;
    std::string m_probeError;
};

} // namespace palvero

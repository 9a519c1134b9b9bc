#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace palvero {

enum class Parity { None, Even, Odd, Mark, Space };

// What the reader needs of a serial port: 8 data bits, 1 stop bit, no flow control of
// any kind (DTR and RTS not driven). Received bytes are announced through `onReceive`
// on the user-interface thread; a port that vanishes (receiver pulled out) through
// `onLost`. Implementations: QSerialPort for the program, a scripted fake for tests.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the device exclusively and closes it again at once: false when another
    // program holds it or it does not exist.
    virtual bool probe(const std::string& device) = 0;
    // Whether the device is there at all; tells a missing device from a held one after a
    // failed probe.
    virtual bool exists(const std::string& device) = 0;
    virtual bool open(const std::string& device, int baudRate, Parity parity) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Discards pending input and output. Output already handed to the port is given
    // kDrainTimeoutMs to leave; false when it had to be discarded unsent (a stuck adapter).
    virtual bool purge() = 0;
    // Reads up to `max` bytes, waiting at most `timeoutMs` for the first; gives the count.
    virtual size_t read(uint8_t* buffer, size_t max, int timeoutMs) = 0;
    virtual bool write(const uint8_t* data, size_t n) = 0;
    virtual size_t bytesWaiting() = 0;
    // Text of the last error, for logs and messages.
    virtual std::string errorText() const = 0;
    // Why the last probe failed, in the system's words ("Permission denied", "Device or
    // resource busy"); empty when the implementation cannot tell.
    virtual std::string probeErrorText() const { return {}; }

    // The longest wait for output to leave the port, as long as a read or a write may take.
    static constexpr int kDrainTimeoutMs = 1000;

    std::function<void()> onReceive;
    std::function<void(const std::string& reason)> onLost;

    bool write(const std::string& text) { return write(reinterpret_cast<const uint8_t*>(text.data()), text.size()); }
    bool writeByte(uint8_t b) { return write(&b, 1); }
};

// The fixed waits of the receiver exchanges; tests pass a fake that only records them.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleepMs(int ms) = 0;
};

// The device that a port name opens: "\\.\COM3" on Windows; elsewhere a name without a
// "/" is a device under /dev ("ttyUSB0"), and a name with one is a path (a
// pseudo-terminal, a udev link).
std::string deviceForPortName(const std::string& name);

} // namespace palvero

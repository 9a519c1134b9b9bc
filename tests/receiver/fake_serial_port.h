#pragma once

#include "serial_port.h"
#include "timer.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace palvero::test {

// A serial port with a scripted receiver behind it. Every call is written to a shared
// transcript ("probe /dev/COM3", "open /dev/COM3 9600 None", "purge", "write 49",
// "read 1/1000 -> 1", "close"), so that a test compares the whole conversation.
class FakeSerialPort : public SerialPort {
public:
    explicit FakeSerialPort(std::vector<std::string>& transcript)
        : m_transcript(transcript)
    {
    }

    bool probe(const std::string& device) override;
    bool exists(const std::string&) override { return !deviceMissing; }
    bool open(const std::string& device, int baudRate, Parity parity) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    bool purge() override;
    size_t read(uint8_t* buffer, size_t max, int timeoutMs) override;
    bool write(const uint8_t* data, size_t n) override;
    size_t bytesWaiting() override { return incoming.size(); }
    std::string errorText() const override { return error; }
    std::string probeErrorText() const override { return probeError; }
    using SerialPort::write;

    // The receiver sends bytes: they wait in the port and a receive event is raised.
    void arrive(const std::vector<uint8_t>& bytes);
    // The device goes away: the port closes itself and reports the loss.
    void loseDevice(const std::string& reason);

    bool probeFails = false;
    // The device is not there at all (the probe fails too).
    bool deviceMissing = false;
    // Output that cannot leave: every purge reports its time-out.
    bool purgeTimesOut = false;
    bool openFails = false;
    // A write of exactly this one byte fails.
    std::optional<uint8_t> failingByte;
    std::string error = "The write timed out";
    std::string probeError; // why a failing probe failed
    // What a v1 receiver answers to the wake byte 0x00 (empty: it stays silent). The
    // answer arrives while the writer still waits, with its receive event, as
    // QSerialPort delivers it from inside its waits.
    std::vector<uint8_t> wakeAnswer;
    // Called after every successful write with the bytes written.
    std::function<void(const std::vector<uint8_t>&)> afterWrite;

    std::deque<uint8_t> incoming;
    std::vector<uint8_t> written; // every byte written, in order

private:
    std::vector<std::string>& m_transcript;
    bool m_open = false;
};

// Records the waits into the same transcript ("sleep 40").
class FakeSleeper : public Sleeper {
public:
    explicit FakeSleeper(std::vector<std::string>& transcript)
        : m_transcript(transcript)
    {
    }
    void sleepMs(int ms) override;

    std::vector<int> waits;

private:
    std::vector<std::string>& m_transcript;
};

// Records starts and stops into the same transcript ("timer start 1700", "timer stop");
// the test delivers the tick itself.
class FakeTimer : public Timer {
public:
    explicit FakeTimer(std::vector<std::string>& transcript)
        : m_transcript(transcript)
    {
    }
    void start(int intervalMs) override;
    void stop() override;
    bool isActive() const override { return m_active; }

private:
    std::vector<std::string>& m_transcript;
    bool m_active = false;
};

std::string hexBytes(const std::vector<uint8_t>& bytes);

} // namespace palvero::test

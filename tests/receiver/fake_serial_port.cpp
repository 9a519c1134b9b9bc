#include "fake_serial_port.h"

#include <algorithm>
#include <cstdio>

namespace palvero::test {

namespace {

const char* parityText(Parity p)
{
    switch (p) {
    case Parity::None:
        return "None";
    case Parity::Even:
        return "Even";
    case Parity::Odd:
        return "Odd";
    case Parity::Mark:
        return "Mark";
    case Parity::Space:
        return "Space";
    }
    return "?";
}

} // namespace

std::string hexBytes(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        if (!text.empty())
            text += ' ';
        text += buf;
    }
    return text;
}

bool FakeSerialPort::probe(const std::string& device)
{
    m_transcript.push_back("probe " + device);
    return !probeFails && !deviceMissing;
}

bool FakeSerialPort::open(const std::string& device, int baudRate, Parity parity)
{
    m_transcript.push_back("open " + device + " " + std::to_string(baudRate) + " " + parityText(parity));
    m_open = !openFails;
    return m_open;
}

void FakeSerialPort::close()
{
    m_transcript.push_back("close");
    m_open = false;
    incoming.clear();
}

bool FakeSerialPort::purge()
{
    m_transcript.push_back("purge");
    incoming.clear();
    return !(purgeTimesOut && m_open);
}

size_t FakeSerialPort::read(uint8_t* buffer, size_t max, int timeoutMs)
{
    size_t n = m_open ? std::min(max, incoming.size()) : 0;
    std::copy_n(incoming.begin(), n, buffer);
    incoming.erase(incoming.begin(), incoming.begin() + static_cast<std::ptrdiff_t>(n));
    m_transcript.push_back("read " + std::to_string(max) + "/" + std::to_string(timeoutMs) + " -> "
                           + std::to_string(n));
    return n;
}

bool FakeSerialPort::write(const uint8_t* data, size_t n)
{
    std::vector<uint8_t> bytes(data, data + n);
    m_transcript.push_back("write " + hexBytes(bytes));
    if (!m_open || (n == 1 && failingByte && *failingByte == data[0]))
        return false;
    written.insert(written.end(), bytes.begin(), bytes.end());
    if (n == 1 && data[0] == 0x00 && !wakeAnswer.empty())
        arrive(wakeAnswer);
    if (afterWrite)
        afterWrite(bytes);
    return true;
}

void FakeSerialPort::arrive(const std::vector<uint8_t>& bytes)
{
    incoming.insert(incoming.end(), bytes.begin(), bytes.end());
    if (onReceive)
        onReceive();
}

void FakeSerialPort::loseDevice(const std::string& reason)
{
    m_open = false;
    incoming.clear();
    if (onLost)
        onLost(reason);
}

void FakeTimer::start(int intervalMs)
{
    m_active = true;
    m_transcript.push_back("timer start " + std::to_string(intervalMs));
}

void FakeTimer::stop()
{
    m_active = false;
    m_transcript.push_back("timer stop");
}

void FakeSleeper::sleepMs(int ms)
{
    waits.push_back(ms);
    m_transcript.push_back("sleep " + std::to_string(ms));
}

} // namespace palvero::test

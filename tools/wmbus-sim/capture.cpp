#include "capture.h"

#include <sstream>

namespace palvero::sim {

namespace {

constexpr uint8_t kStart = 0x68;
constexpr uint8_t kStop = 0x16;
// C, M (2), A (6) and CI: a telegram shorter than its link header cannot be a meter's.
constexpr size_t kShortestTelegram = 11;

int hexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

bool appendHex(const std::string& token, std::vector<uint8_t>& out)
{
    if (token.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < token.size(); i += 2) {
        int hi = hexDigit(token[i]);
        int lo = hexDigit(token[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

bool isWholeFrame(const std::vector<uint8_t>& b)
{
    return b.size() >= 3 && b.front() == kStart && b[1] + 3u == b.size() && b.back() == kStop;
}

// CRC-16 of EN 13757 (polynomial 0x3D65, result inverted), as a receiver would add it.
uint16_t crc16(const uint8_t* data, size_t n)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x3D65) : static_cast<uint16_t>(crc << 1);
    }
    return static_cast<uint16_t>(~crc);
}

std::string lineError(int lineNo, const std::string& what)
{
    return "line " + std::to_string(lineNo) + ": " + what;
}

} // namespace

std::vector<uint8_t> wrapTelegram(const std::vector<uint8_t>& telegram, const FrameShape& shape)
{
    std::vector<uint8_t> f;
    f.reserve(telegram.size() + 5);
    f.push_back(kStart);
    f.push_back(0x00);
    f.insert(f.end(), telegram.begin() + 1, telegram.end());
    if (shape.withRssi)
        f.push_back(shape.rssi);
    if (shape.protocol == Protocol::WithCrc) {
        uint16_t crc = crc16(f.data() + 1, f.size() - 1);
        f.push_back(static_cast<uint8_t>(crc >> 8));
        f.push_back(static_cast<uint8_t>(crc & 0xFF));
    }
    f.push_back(kStop);
    f[1] = static_cast<uint8_t>(f.size() - 3);
    return f;
}

Capture readCapture(std::istream& in, const FrameShape& shape)
{
    Capture capture;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream tokens(line);
        std::string token;
        std::vector<uint8_t> bytes;
        FrameShape lineShape = shape;
        bool ownRssi = false;
        while (tokens >> token) {
            if (token.rfind("rssi=", 0) == 0) {
                std::vector<uint8_t> value;
                if (ownRssi || !appendHex(token.substr(5), value) || value.size() != 1) {
                    capture.error = lineError(lineNo, "\"" + token + "\" is not one signal byte in hex");
                    return capture;
                }
                lineShape.rssi = value[0];
                ownRssi = true;
            } else if (!appendHex(token, bytes)) {
                capture.error = lineError(lineNo, "\"" + token + "\" is not hexadecimal bytes");
                return capture;
            }
        }
        if (bytes.empty()) {
            if (ownRssi) {
                capture.error = lineError(lineNo, "a signal byte without a telegram");
                return capture;
            }
            continue;
        }
        if (isWholeFrame(bytes)) {
            if (ownRssi) {
                capture.error = lineError(lineNo, "a whole frame is played unchanged and takes no rssi=");
                return capture;
            }
            capture.frames.push_back(std::move(bytes));
            continue;
        }
        if (bytes.size() < kShortestTelegram) {
            capture.error = lineError(lineNo, "neither a receiver frame nor a telegram (too short)");
            return capture;
        }
        if (bytes[0] + 1u != bytes.size()) {
            capture.error = lineError(lineNo, "telegram length byte says " + std::to_string(bytes[0]) + " but "
                                                  + std::to_string(bytes.size() - 1) + " bytes follow it");
            return capture;
        }
        auto frame = wrapTelegram(bytes, lineShape);
        if (frame.size() - 3 > 0xFF) {
            capture.error = lineError(lineNo, "telegram too long for a receiver frame");
            return capture;
        }
        capture.frames.push_back(std::move(frame));
    }
    if (capture.frames.empty())
        capture.error = "the capture holds no frames";
    return capture;
}

} // namespace palvero::sim

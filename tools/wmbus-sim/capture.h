#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace palvero::sim {

enum class Protocol { Plain, WithCrc };

// How a telegram line becomes a receiver frame.
struct FrameShape {
    Protocol protocol = Protocol::Plain;
    bool withRssi = true;
    uint8_t rssi = 0x9A;
};

struct Capture {
    std::vector<std::vector<uint8_t>> frames; // in capture order
    std::string error;                        // empty when every line was understood
};

// Reads a capture: '#' starts a comment up to the end of the line, blank lines are skipped,
// every other line is hexadecimal bytes (white space between bytes allowed). A line that is a
// complete receiver frame (0x68, a length that fits the line, 0x16 last) is kept unchanged;
// any other line is a telegram from its L field on and is wrapped as the receiver delivers it.
// A telegram line may carry a token "rssi=NN" for its own signal byte. The first bad line
// ends the reading with an error naming its line number.
Capture readCapture(std::istream& in, const FrameShape& shape);

// Wraps a telegram (from its L field on) into a receiver frame: 0x68, L, the telegram from its
// C field on, the signal byte, two check bytes for the protocol with CRC, 0x16.
std::vector<uint8_t> wrapTelegram(const std::vector<uint8_t>& telegram, const FrameShape& shape);

} // namespace palvero::sim

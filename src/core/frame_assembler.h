#pragma once

#include "meter_table.h"
#include "receiver_frame.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace palvero {

// Cuts the receiver's byte stream into frames. Every receive event appends its bytes;
// every complete frame in the buffer is then handed on at once, in order. A start byte
// whose stop position does not hold 0x16 is taken for a stray 0x68 and dropped, and the
// search goes on from the next byte, so one bad byte costs no later frame. Bytes that
// cannot begin a frame are discarded; more than 512 unconsumed bytes are discarded too.
// An error raised while a frame is handled is logged to the reader log as
// "Exception receiving - <message>" and empties the receive state; a frame too short for
// a telegram is logged the same way but costs only itself.
class FrameAssembler {
public:
    using FrameHandler = std::function<void(ReceiverFrame&)>;

    static constexpr size_t kOverflow = 512;

    FrameAssembler(MeterTable& table, FrameHandler handler);

    // One receive event with the bytes read from the port.
    void receive(const uint8_t* data, size_t n);
    void receive(const std::vector<uint8_t>& data) { receive(data.data(), data.size()); }
    // Empties the receive buffer and the positions.
    void reset();

    size_t pendingBytes() const { return m_buffer.size(); }

private:
    MeterTable& m_table;
    FrameHandler m_handler;
    std::vector<uint8_t> m_buffer;
    ReceiverFrame m_frame;
};

} // namespace palvero

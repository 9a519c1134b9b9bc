#pragma once

#include "frame_assembler.h"
#include "telegram_processor.h"

namespace palvero {

// The reading pipeline from received bytes to the meter table: frame assembly feeding
// the telegram processor. The serial port, a replayed capture and the tests all feed it
// through receive().
class Reception {
public:
    Reception(MeterTable& table, const ReadingSettings& settings, const Formats& formats, MeterKeySource* keys)
        : m_processor(table, settings, formats, keys)
        , m_assembler(table, [this](ReceiverFrame& f) { m_processor.process(f); })
    {
    }
    Reception(const Reception&) = delete;
    Reception& operator=(const Reception&) = delete;

    void receive(const uint8_t* data, size_t n) { m_assembler.receive(data, n); }
    void receive(const std::vector<uint8_t>& data) { m_assembler.receive(data); }

    FrameAssembler& assembler() { return m_assembler; }

private:
    TelegramProcessor m_processor;
    FrameAssembler m_assembler;
};

} // namespace palvero

#pragma once

#include "frame_assembler.h"
#include "telegram_processor.h"

#include <filesystem>

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
    TelegramProcessor& processor() { return m_processor; }

    // Keeps the compact frame formats learned on a walk in the formats file of the data
    // folder (beside the meters file), and reads those learned on earlier walks.
    void keepCompactFormatsIn(const std::filesystem::path& dataFolder)
    {
        m_processor.compactFormats().useFile(dataFolder / kCompactFormatsFileName);
    }

private:
    TelegramProcessor m_processor;
    FrameAssembler m_assembler;
};

} // namespace palvero

#pragma once

#include "frame_assembler.h"
#include "telegram_processor.h"

#include <filesystem>
#include <string>
#include <unordered_map>

namespace palvero {

// The telegram heard last from each meter, as the receiver delivered it (before any
// decryption). The table shows "N/A" as a received row's full telegram; this is where a
// technician's full decode of that row finds the telegram. One frame per meter.
class LastTelegrams {
public:
    void remember(const ReceiverFrame& f)
    {
        if (f.size() >= frame::kMinimumLength)
            m_frames[meterIdText(f)].assign(f.begin(), f.end());
    }
    // The frame, or nullptr when nothing was heard from this meter.
    const ReceiverFrame* find(const std::string& meterId) const
    {
        auto it = m_frames.find(meterId);
        return it == m_frames.end() ? nullptr : &it->second;
    }

private:
    std::unordered_map<std::string, ReceiverFrame> m_frames;
};

// The reading pipeline from received bytes to the meter table: frame assembly feeding
// the telegram processor. The serial port, a replayed capture and the tests all feed it
// through receive().
class Reception {
public:
    Reception(MeterTable& table, const ReadingSettings& settings, const Formats& formats, MeterKeySource* keys)
        : m_processor(table, settings, formats, keys)
        , m_assembler(table,
                      [this](ReceiverFrame& f) {
                          m_heard.remember(f);
                          m_processor.process(f);
                      })
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
    const LastTelegrams& lastTelegrams() const { return m_heard; }

private:
    LastTelegrams m_heard;
    TelegramProcessor m_processor;
    FrameAssembler m_assembler;
};

} // namespace palvero

#pragma once

#include "frame_assembler.h"
#include "id_index.h"
#include "meter_format_file.h"
#include "telegram_processor.h"

#include <filesystem>
#include <string>

namespace palvero {

// The telegram heard last from each meter, as the receiver delivered it (before any
// decryption). The table shows "N/A" as a received row's full telegram; this is where a
// technician's full decode of that row finds the telegram. One frame per meter.
class LastTelegrams {
public:
    void remember(const ReceiverFrame& f)
    {
        if (f.size() < frame::kMinimumLength)
            return;
        const uint32_t id = idOf(f);
        int at = m_index.find(id);
        if (at == 0) {
            m_frames.emplace_back();
            at = static_cast<int>(m_frames.size());
            m_index.set(id, at);
        }
        m_frames[static_cast<size_t>(at - 1)].assign(f.begin(), f.end());
    }
    // The frame, or nullptr when nothing was heard from this meter.
    const ReceiverFrame* find(const std::string& meterId) const
    {
        // The meter ID is the hex text of the identification bytes, most significant first.
        if (meterId.size() != 8)
            return nullptr;
        uint32_t id = 0;
        for (char c : meterId) {
            const int v = hexDigitValue(c);
            if (v < 0)
                return nullptr;
            id = id << 4 | static_cast<uint32_t>(v);
        }
        const int at = m_index.find(id);
        return at == 0 ? nullptr : &m_frames[static_cast<size_t>(at - 1)];
    }

private:
    // Keyed by the identification number itself: no text is made per telegram.
    static uint32_t idOf(const ReceiverFrame& f)
    {
        return static_cast<uint32_t>(f[frame::kId]) | static_cast<uint32_t>(f[frame::kId + 1]) << 8
            | static_cast<uint32_t>(f[frame::kId + 2]) << 16 | static_cast<uint32_t>(f[frame::kId + 3]) << 24;
    }
    IdIndex m_index; // position in m_frames, from 1
    std::vector<ReceiverFrame> m_frames;
};

// The reading pipeline from received bytes to the meter table: frame assembly feeding
// the telegram processor. The serial port, a replayed capture and the tests all feed it
// through receive().
class Reception {
public:
    Reception(MeterTable& table, const ReadingSettings& settings, const Formats& formats, MeterKeySource* keys)
        : m_table(table)
        , m_processor(table, settings, formats, keys)
        , m_assembler(table,
                      [this](ReceiverFrame& f) {
                          m_heard.remember(f);
                          m_processor.process(f);
                      })
    {
    }
    Reception(const Reception&) = delete;
    Reception& operator=(const Reception&) = delete;

    void receive(const uint8_t* data, size_t n)
    {
        m_assembler.receive(data, n);
        m_table.notifyDeliveryDone();
    }
    void receive(const std::vector<uint8_t>& data)
    {
        m_assembler.receive(data);
        m_table.notifyDeliveryDone();
    }
    // Replayed bytes heard at `heard`: the rows their frames complete get that time and date.
    void receive(const std::vector<uint8_t>& data, const DateTime& heard)
    {
        struct Clock {
            TelegramProcessor& p;
            ~Clock() { p.setHeardAt(nullptr); }
        } back{m_processor};
        m_processor.setHeardAt(&heard);
        m_assembler.receive(data);
        m_table.notifyDeliveryDone();
    }

    FrameAssembler& assembler() { return m_assembler; }
    TelegramProcessor& processor() { return m_processor; }

    // Keeps the compact frame formats learned on a walk in the formats file of the data
    // folder (beside the meters file), and reads those learned on earlier walks.
    void keepCompactFormatsIn(const std::filesystem::path& dataFolder)
    {
        m_processor.compactFormats().useFile(dataFolder / kCompactFormatsFileName);
    }
    // Reads the operator's meter formats from the data folder (again, after one was
    // added); they come before the compiled-in ones. False when the file cannot be read.
    bool useMeterFormatsIn(const std::filesystem::path& dataFolder, std::vector<FormatTextError>* errors = nullptr)
    {
        std::vector<MeterFormat> formats;
        const bool ok = readMeterFormatsFile(dataFolder / kMeterFormatsFileName, formats, errors);
        m_processor.useMeterFormats(std::move(formats));
        return ok;
    }
    const LastTelegrams& lastTelegrams() const { return m_heard; }

private:
    MeterTable& m_table;
    LastTelegrams m_heard;
    TelegramProcessor m_processor;
    FrameAssembler m_assembler;
};

} // namespace palvero

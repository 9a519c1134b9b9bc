#include "frame_assembler.h"

#include "telegram_processor.h"

#include <algorithm>
#include <exception>

namespace palvero {

FrameAssembler::FrameAssembler(MeterTable& table, FrameHandler handler)
    : m_table(table)
    , m_handler(std::move(handler))
{
}

void FrameAssembler::reset()
{
    m_buffer.clear();
}

void FrameAssembler::receive(const uint8_t* data, size_t n)
{
    if (n > 0)
        m_buffer.insert(m_buffer.end(), data, data + n);

    size_t head = 0; // bytes before head are consumed
    try {
        for (;;) {
            auto start = std::find(m_buffer.begin() + static_cast<std::ptrdiff_t>(head), m_buffer.end(), frame::kStart);
            head = static_cast<size_t>(start - m_buffer.begin());
            if (m_buffer.size() - head < 2)
                break; // no start byte yet, or its length byte has not arrived
            size_t stop = head + m_buffer[head + 1] + 2;
            if (stop >= m_buffer.size())
                break; // wait for the rest of the frame
            if (m_buffer[stop] != frame::kStop) {
                ++head; // a stray 0x68: look for the next one
                continue;
            }
            m_frame.assign(m_buffer.begin() + static_cast<std::ptrdiff_t>(head),
                           m_buffer.begin() + static_cast<std::ptrdiff_t>(stop) + 1);
            head = stop + 1;
            m_table.fullDecodeMode = false;
            try {
                m_handler(m_frame);
            } catch (const FrameTooShort& e) {
                // Costs only this frame: the frames behind it in the buffer are good.
                m_table.addReaderLogLine(std::string("Exception receiving - ") + e.what());
            }
        }
    } catch (const std::exception& e) {
        m_table.addReaderLogLine(std::string("Exception receiving - ") + e.what());
        m_buffer.clear();
        return;
    } catch (...) {
        m_table.addReaderLogLine("Exception receiving - unknown error");
        m_buffer.clear();
        return;
    }
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(head));
    if (m_buffer.size() > kOverflow)
        m_buffer.clear();
}

} // namespace palvero

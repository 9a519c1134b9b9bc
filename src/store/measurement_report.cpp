#include "measurement_report.h"

#include "fixed_text.h"
#include "measurement_file.h"

#include <algorithm>
#include <cstring>

namespace palvero {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kColumns = ReportRows::kColumns;
// The longest packed row: the lengths and every field full.
constexpr std::size_t kMaxRowBytes = kColumns * (1 + MeasurementRecord::kFieldCapacity);

} // namespace

std::string_view ReportRows::cell(int row, int column) const
{
    if (row < 0 || row >= count() || column < 0 || column >= ReportRows::kColumns)
        return {};
    const char* p = m_rows[static_cast<std::size_t>(row)];
    std::size_t offset = kColumns;
    for (int c = 0; c < column; ++c)
        offset += static_cast<unsigned char>(p[c]);
    return {p + offset, static_cast<unsigned char>(p[column])};
}

void ReportRows::clear()
{
    m_blocks.clear();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_block = 0;
    m_used = kBlockSize;
}

void ReportRows::reuse()
{
    m_rows.clear();
    m_block = 0;
    m_used = m_blocks.empty() ? kBlockSize : 0;
}

void ReportRows::append(const std::uint8_t* record, std::string_view dateText)
{
    if (dateText.size() > MeasurementRecord::kFieldCapacity)
        dateText = dateText.substr(0, MeasurementRecord::kFieldCapacity);
    if (kBlockSize - m_used < kMaxRowBytes) {
        if (m_block + 1 < m_blocks.size()) {
            ++m_block; // a block kept from an earlier report
        } else {
            m_blocks.emplace_back(new char[kBlockSize]); // filled as rows come, never zeroed first
            m_block = m_blocks.size() - 1;
        }
        m_used = 0;
    }
    char* start = m_blocks[m_block].get() + m_used;
    char* text = start + kColumns;
    for (std::size_t c = 0; c < kColumns; ++c) {
        const std::uint8_t* field = record + c * MeasurementRecord::kFieldSize;
        std::size_t length = std::min<std::size_t>(field[0], MeasurementRecord::kFieldCapacity);
        // Every field is copied whole, a fixed-size copy, and only its text is kept: the
        // next field's text starts where this one's ends.
        if (c == MeasurementRecord::kDateField) {
            length = dateText.size();
            std::memcpy(text, dateText.data(), length);
        } else {
            std::memcpy(text, field + 1, MeasurementRecord::kFieldCapacity);
        }
        start[c] = static_cast<char>(length);
        text += length;
    }
    m_used += static_cast<std::size_t>(text - start);
    m_rows.push_back(start);
}

std::size_t ReportRows::memoryBytes() const
{
    return m_blocks.size() * kBlockSize + m_rows.capacity() * sizeof(const char*);
}

ReportScan::ReportScan(fs::path file, const DateTime& from, const DateTime& to, const Formats& formats)
    : m_path(std::move(file))
    , m_from(dayKey(from))
    , m_to(dayKey(to))
    , m_formats(formats)
{
}

FileOutcome ReportScan::open()
{
    close();
    std::error_code ec;
    const fs::file_status status = fs::status(m_path, ec);
    if (status.type() == fs::file_type::not_found)
        return {FileStatus::Missing, "File " + m_path.string() + " does not exist"};
    if (ec || !fs::is_regular_file(status))
        return {FileStatus::IoError, "Cannot reach " + m_path.string()};
    m_in.open(m_path, std::ios::binary);
    if (!m_in || !m_in.seekg(0, std::ios::end))
        return {FileStatus::IoError, "Cannot open " + m_path.string() + " for reading"};
    const std::streamoff size = m_in.tellg();
    if (size < 0 || !m_in.seekg(0))
        return {FileStatus::IoError, "Cannot read " + m_path.string()};
    m_count = static_cast<std::size_t>(size) / MeasurementRecord::kSize;
    return {};
}

void ReportScan::close()
{
    if (m_in.is_open())
        m_in.close();
    m_in.clear();
    m_buffer.clear();
    m_buffer.shrink_to_fit();
}

ReportScan::Step ReportScan::next(ReportRows& rows, std::size_t maxRecords)
{
    if (!m_error.empty())
        return Step::Failed;
    const std::size_t n = std::min(maxRecords, m_count - m_read);
    if (n == 0) {
        close();
        return Step::Finished;
    }
    m_buffer.resize(n * MeasurementRecord::kSize);
    if (!m_in.read(reinterpret_cast<char*>(m_buffer.data()), static_cast<std::streamsize>(m_buffer.size()))) {
        m_error = "Cannot read record " + std::to_string(m_read + 1) + " of " + m_path.string();
        close();
        return Step::Failed;
    }

    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* record = m_buffer.data() + i * MeasurementRecord::kSize;
        const std::string_view stored = MeasurementRecord::field(record, MeasurementRecord::kDateField);
        const StoredDate date = ParseStoredDate(stored);
        if (date.kind == StoredDate::None)
            continue;
        if (date.kind == StoredDate::Impossible) {
            if (m_skipped.size() < kSkippedNamed)
                m_skipped.push_back("Invalid date \"" + std::string(stored) + "\" in record "
                                    + std::to_string(m_read + i + 1) + " of " + m_path.string());
            ++m_skippedCount;
            continue;
        }
        const int day = dayKey(date.date);
        if (day < m_from || day > m_to)
            continue;
        if (day != m_cachedDay) {
            m_cachedDateText = m_formats.dateText(date.date);
            m_cachedDay = day;
        }
        rows.append(record, m_cachedDateText);
    }
    m_read += n;
    if (m_read < m_count)
        return Step::More;
    close();
    return Step::Finished;
}

} // namespace palvero

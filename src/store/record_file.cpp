#include "record_file.h"

#include <fstream>

namespace palvero {

namespace fs = std::filesystem;

namespace {

// Size of an open stream's file, or -1.
std::streamoff streamSize(std::istream& in)
{
    if (!in.seekg(0, std::ios::end))
        return -1;
    return in.tellg();
}

} // namespace

RecordFile::RecordFile(fs::path path, std::size_t recordSize)
    : m_path(std::move(path))
    , m_recordSize(recordSize)
{
}

FileOutcome RecordFile::failure(const std::string& what) const
{
    return {FileStatus::IoError, what};
}

FileOutcome RecordFile::checkExists() const
{
    std::error_code ec;
    const fs::file_status status = fs::status(m_path, ec);
    if (status.type() == fs::file_type::not_found)
        return {FileStatus::Missing, "File " + m_path.string() + " does not exist"};
    if (ec)
        return failure("Cannot reach " + m_path.string() + ": " + ec.message());
    if (!fs::is_regular_file(status))
        return failure(m_path.string() + " is not a regular file");
    return {};
}

FileOutcome RecordFile::readAll(std::vector<std::uint8_t>& bytes) const
{
    bytes.clear();
    FileOutcome outcome = checkExists();
    if (!outcome.ok())
        return outcome;

    std::ifstream in(m_path, std::ios::binary);
    if (!in)
        return failure("Cannot open " + m_path.string() + " for reading");
    const std::streamoff size = streamSize(in);
    if (size < 0 || !in.seekg(0))
        return failure("Cannot read " + m_path.string());

    const std::size_t whole = static_cast<std::size_t>(size) / m_recordSize * m_recordSize;
    bytes.resize(whole);
    if (whole > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(whole))) {
        bytes.clear();
        return failure("Cannot read " + m_path.string());
    }
    return {};
}

FileOutcome RecordFile::openForUpdate(std::fstream& io, std::size_t& count) const
{
    FileOutcome outcome = checkExists();
    if (!outcome.ok())
        return outcome;
    // in|out opens an existing file for update and never creates one.
    io.open(m_path, std::ios::in | std::ios::out | std::ios::binary);
    if (!io)
        return failure("Cannot open " + m_path.string() + " for writing");
    const std::streamoff size = streamSize(io);
    if (size < 0)
        return failure("Cannot read " + m_path.string());
    count = static_cast<std::size_t>(size) / m_recordSize;
    return {};
}

FileOutcome RecordFile::overwrite(std::size_t index, const std::uint8_t* record) const
{
    return writeAt(index, false, record);
}

FileOutcome RecordFile::append(const std::uint8_t* record) const
{
    return writeAt(0, true, record);
}

FileOutcome RecordFile::writeAt(std::size_t index, bool appending, const std::uint8_t* record) const
{
    std::fstream io;
    std::size_t count = 0;
    FileOutcome outcome = openForUpdate(io, count);
    if (!outcome.ok())
        return outcome;
    if (appending)
        index = count;
    else if (index >= count) // the file shrank since the record was found
        return failure("Record " + std::to_string(index) + " is past the end of " + m_path.string());

    io.seekp(static_cast<std::streamoff>(index * m_recordSize));
    io.write(reinterpret_cast<const char*>(record), static_cast<std::streamsize>(m_recordSize));
    io.flush();
    if (!io)
        return failure("Cannot write " + m_path.string());
    return {};
}

FileOutcome RecordFile::remove(std::size_t index) const
{
    std::uintmax_t newSize = 0;
    {
        std::fstream io;
        std::size_t count = 0;
        FileOutcome outcome = openForUpdate(io, count);
        if (!outcome.ok())
            return outcome;
        if (index >= count)
            return failure("Record " + std::to_string(index) + " is past the end of " + m_path.string());

        // The later records move down in one read and one write.
        std::vector<char> later((count - index - 1) * m_recordSize);
        if (!later.empty()) {
            io.seekg(static_cast<std::streamoff>((index + 1) * m_recordSize));
            if (!io.read(later.data(), static_cast<std::streamsize>(later.size())))
                return failure("Cannot read " + m_path.string());
            io.seekp(static_cast<std::streamoff>(index * m_recordSize));
            io.write(later.data(), static_cast<std::streamsize>(later.size()));
            io.flush();
            if (!io)
                return failure("Cannot write " + m_path.string());
        }
        newSize = (count - 1) * m_recordSize;
    } // closed before the cut

    std::error_code ec;
    fs::resize_file(m_path, newSize, ec);
    if (ec)
        return failure("Cannot cut " + m_path.string() + ": " + ec.message());
    return {};
}

FileOutcome RecordFile::replaceAll(const std::vector<std::uint8_t>& records) const
{
    if (records.size() % m_recordSize != 0)
        return failure("A partial record is not written to " + m_path.string());
    {
        std::fstream io;
        std::size_t count = 0;
        FileOutcome outcome = openForUpdate(io, count);
        if (!outcome.ok())
            return outcome;
        if (!records.empty()) {
            io.seekp(0);
            io.write(reinterpret_cast<const char*>(records.data()), static_cast<std::streamsize>(records.size()));
            io.flush();
            if (!io)
                return failure("Cannot write " + m_path.string());
        }
    } // closed before the cut
    std::error_code ec;
    fs::resize_file(m_path, records.size(), ec);
    if (ec)
        return failure("Cannot cut " + m_path.string() + ": " + ec.message());
    return {};
}

FileOutcome RecordFile::truncate() const
{
    FileOutcome outcome = checkExists();
    if (!outcome.ok())
        return outcome;
    std::error_code ec;
    fs::resize_file(m_path, 0, ec);
    if (ec)
        return failure("Cannot cut " + m_path.string() + ": " + ec.message());
    return {};
}

} // namespace palvero

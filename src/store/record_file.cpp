#include "record_file.h"

#include <cerrno>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// An open file descriptor, closed on every way out.
struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

RecordFile::RecordFile(fs::path path, std::size_t recordSize)
    : m_path(std::move(path))
    , m_recordSize(recordSize)
{
}

FileOutcome RecordFile::failure(const std::string& what) const
{
    return {FileStatus::IoError, what, WriteFailure::Other};
}

FileOutcome RecordFile::writeFailed(int errorNumber, const std::string& what) const
{
    const WriteOutcome w = writeFailure(errorNumber, what, m_path);
    return {FileStatus::IoError, w.error, w.failure};
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

FileOutcome RecordFile::readBytes(std::vector<std::uint8_t>& bytes, bool wholeRecordsOnly) const
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

    const auto all = static_cast<std::size_t>(size);
    const std::size_t wanted = wholeRecordsOnly ? all / m_recordSize * m_recordSize : all;
    bytes.resize(wanted);
    if (wanted > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(wanted))) {
        bytes.clear();
        return failure("Cannot read " + m_path.string());
    }
    return {};
}

FileOutcome RecordFile::readAll(std::vector<std::uint8_t>& bytes) const
{
    return readBytes(bytes, true);
}

FileOutcome RecordFile::overwrite(std::size_t index, const std::uint8_t* record) const
{
    // The bytes of a partial record at the end stay as they are: an overwrite changes one record.
    std::vector<std::uint8_t> bytes;
    FileOutcome outcome = readBytes(bytes, false);
    if (!outcome.ok())
        return outcome;
    if (index >= bytes.size() / m_recordSize) // the file shrank since the record was found
        return failure("Record " + std::to_string(index) + " is past the end of " + m_path.string());
    std::copy(record, record + m_recordSize, bytes.begin() + static_cast<std::ptrdiff_t>(index * m_recordSize));
    return replaceAll(bytes);
}

FileOutcome RecordFile::append(const std::uint8_t* record) const
{
    return appendMany(record, 1);
}

FileOutcome RecordFile::appendMany(const std::uint8_t* records, std::size_t count, std::size_t* appended) const
{
    if (appended)
        *appended = 0;
    FileOutcome outcome = checkExists();
    if (!outcome.ok())
        return outcome;
    Fd file;
    // Opened for writing only: never created here.
    file.fd = ::open(m_path.c_str(), O_WRONLY | O_CLOEXEC);
    if (file.fd < 0)
        return writeFailed(errno, "Cannot open for writing");
    struct stat st {};
    if (::fstat(file.fd, &st) != 0)
        return writeFailed(errno, "Cannot read");
    const auto whole = static_cast<std::int64_t>(static_cast<std::uint64_t>(st.st_size) / m_recordSize * m_recordSize);

    std::size_t written = 0;
    const bool wrote = durable::writeAt(file.fd, records, count * m_recordSize, whole, &written);
    const int writeError = errno;
    if (!wrote || !durable::sync(file.fd)) {
        const int error = wrote ? errno : writeError;
        // What did reach the file is kept in whole records; the piece of the next one goes.
        const std::size_t kept = wrote ? count : written / m_recordSize;
        if (::ftruncate(file.fd, static_cast<off_t>(whole + static_cast<std::int64_t>(kept * m_recordSize))) == 0
            && durable::sync(file.fd) && appended)
            *appended = kept;
        return writeFailed(error, "Cannot write");
    }
    if (appended)
        *appended = count;
    return {};
}

FileOutcome RecordFile::remove(std::size_t index) const
{
    std::vector<std::uint8_t> bytes;
    FileOutcome outcome = readAll(bytes);
    if (!outcome.ok())
        return outcome;
    if (index >= bytes.size() / m_recordSize)
        return failure("Record " + std::to_string(index) + " is past the end of " + m_path.string());
    const auto at = bytes.begin() + static_cast<std::ptrdiff_t>(index * m_recordSize);
    bytes.erase(at, at + static_cast<std::ptrdiff_t>(m_recordSize));
    return replaceAll(bytes);
}

FileOutcome RecordFile::replaceAll(const std::vector<std::uint8_t>& bytes) const
{
    FileOutcome outcome = checkExists();
    if (!outcome.ok())
        return outcome;
    const WriteOutcome written =
        replaceFile(m_path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (!written.ok())
        return {FileStatus::IoError, written.error, written.failure};
    return {};
}

FileOutcome RecordFile::truncate() const
{
    FileOutcome outcome = checkExists();
    if (!outcome.ok())
        return outcome;
    Fd file;
    file.fd = ::open(m_path.c_str(), O_WRONLY | O_CLOEXEC);
    if (file.fd < 0)
        return writeFailed(errno, "Cannot open for writing");
    if (::ftruncate(file.fd, 0) != 0 || !durable::sync(file.fd))
        return writeFailed(errno, "Cannot cut");
    return {};
}

} // namespace palvero

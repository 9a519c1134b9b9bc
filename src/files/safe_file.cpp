#include "safe_file.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace palvero {

namespace fs = std::filesystem;

namespace {

// The injected failure of ScopedWriteFault; the program never sets it.
struct WriteFault {
    bool active = false;
    int errorNumber = 0;
    std::uint64_t budget = 0;
};
WriteFault g_fault;

// One write(2)/pwrite(2) call, or the injected failure once its budget is spent.
ssize_t writeOnce(int fd, const char* data, std::size_t size, std::int64_t offset)
{
    if (g_fault.active) {
        if (g_fault.budget == 0) {
            errno = g_fault.errorNumber;
            return -1;
        }
        if (size > g_fault.budget)
            size = static_cast<std::size_t>(g_fault.budget);
    }
    const ssize_t n = offset < 0 ? ::write(fd, data, size) : ::pwrite(fd, data, size, static_cast<off_t>(offset));
    if (n > 0 && g_fault.active)
        g_fault.budget -= static_cast<std::uint64_t>(n);
    return n;
}

// The temporary file's name: hidden beside the target, short enough for any file system.
fs::path temporaryFor(const fs::path& target)
{
    std::string name = target.filename().string();
    if (name.size() > 200)
        name.resize(200);
    return target.parent_path() / ("." + name + ".palvero-new");
}

} // namespace

WriteFailure writeFailureOf(int errorNumber)
{
    switch (errorNumber) {
    case 0:
        return WriteFailure::None;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG:
        return WriteFailure::DiskFull;
    case EIO:
    case ENXIO:
    case ENODEV:
        return WriteFailure::DeviceError;
    case EACCES:
    case EPERM:
    case EROFS:
        return WriteFailure::NoPermission;
    default:
        return WriteFailure::Other;
    }
}

std::string writeFailureText(const WriteOutcome& outcome, const std::string& subject, const std::string& usual)
{
    constexpr char kUnchanged[] = "\nAny earlier file of that name is unchanged.";
    switch (outcome.failure) {
    case WriteFailure::DiskFull:
        return subject + ", the disk is full!" + kUnchanged;
    case WriteFailure::DeviceError:
        return subject + ", the disk does not answer (input/output error)!" + kUnchanged;
    default:
        return usual;
    }
}

WriteOutcome writeFailure(int errorNumber, const std::string& what, const fs::path& path)
{
    WriteOutcome outcome;
    outcome.failure = writeFailureOf(errorNumber);
    if (outcome.failure == WriteFailure::None)
        outcome.failure = WriteFailure::Other;
    outcome.error = what + " " + path.string() + ": " + std::strerror(errorNumber);
    return outcome;
}

namespace durable {

bool writeAt(int fd, const void* data, std::size_t size, std::int64_t offset, std::size_t* written)
{
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    bool ok = true;
    while (done < size) {
        const ssize_t n = writeOnce(fd, p + done, size - done, offset < 0 ? -1 : offset + static_cast<std::int64_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        if (n == 0) { // no progress and no reason: as the kernel says of a full device
            errno = ENOSPC;
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (written)
        *written = done;
    return ok;
}

bool sync(int fd)
{
    while (::fsync(fd) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

void syncFolder(const fs::path& folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    (void)sync(fd); // some file systems cannot flush a folder; the rename is done either way
    ::close(fd);
}

} // namespace durable

SafeFileWriter::SafeFileWriter(fs::path target)
    : m_target(std::move(target))
{
}

SafeFileWriter::~SafeFileWriter()
{
    abandon();
}

void SafeFileWriter::fail(int errorNumber, const std::string& what, const fs::path& path)
{
    if (m_outcome.ok())
        m_outcome = writeFailure(errorNumber, what, path);
    abandon();
}

bool SafeFileWriter::begin()
{
    m_begun = true;
    // A link is followed, so that the link stays and its file gets the new content.
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(m_target, ec))) {
        const fs::path resolved = fs::canonical(m_target, ec);
        if (!ec)
            m_target = resolved;
    }
    struct stat old {};
    if (::stat(m_target.c_str(), &old) == 0) {
        if (S_ISDIR(old.st_mode)) {
            fail(EISDIR, "Cannot write", m_target);
            return false;
        }
        // A file that may not be written stays so, though its folder would allow the rename.
        if (::access(m_target.c_str(), W_OK) != 0) {
            fail(errno, "Cannot write", m_target);
            return false;
        }
        m_mode = true;
        m_modeBits = old.st_mode & 07777;
        m_owner = old.st_uid;
        m_group = old.st_gid;
    } else if (errno != ENOENT) {
        fail(errno, "Cannot reach", m_target);
        return false;
    }

    m_temporary = temporaryFor(m_target);
    // A temporary file left by a program that was stopped is simply written anew.
    m_fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (m_fd < 0) {
        const int error = errno;
        m_temporary.clear();
        fail(error, "Cannot write", m_target);
        return false;
    }
    // The new file is the old one's: its permissions, and its owner where that may be given.
    if (m_mode) {
        if (::fchown(m_fd, static_cast<uid_t>(m_owner), static_cast<gid_t>(m_group)) != 0) {
        }
        if (::fchmod(m_fd, static_cast<mode_t>(m_modeBits)) != 0) {
        }
    }
    return true;
}

bool SafeFileWriter::write(std::string_view bytes)
{
    if (!m_outcome.ok() || m_committed)
        return false;
    if (!m_begun && !begin())
        return false;
    if (m_fd < 0)
        return false;
    if (!durable::writeAt(m_fd, bytes.data(), bytes.size(), -1)) {
        fail(errno, "Cannot write", m_target);
        return false;
    }
    return true;
}

WriteOutcome SafeFileWriter::commit()
{
    if (m_committed)
        return m_outcome;
    if (!m_begun && m_outcome.ok())
        begin();
    if (!m_outcome.ok() || m_fd < 0) {
        abandon();
        return m_outcome;
    }
    if (!durable::sync(m_fd)) {
        fail(errno, "Cannot write", m_target);
        return m_outcome;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        fail(errno, "Cannot write", m_target);
        return m_outcome;
    }
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        fail(errno, "Cannot replace", m_target);
        return m_outcome;
    }
    m_temporary.clear();
    m_committed = true;
    durable::syncFolder(m_target.parent_path());
    return m_outcome;
}

void SafeFileWriter::abandon()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
    if (m_outcome.ok() && m_begun && !m_committed)
        m_outcome = {WriteFailure::Other, "Not written: " + m_target.string()};
}

WriteOutcome replaceFile(const fs::path& target, std::string_view content)
{
    SafeFileWriter writer(target);
    writer.write(content);
    return writer.commit();
}

ScopedWriteFault::ScopedWriteFault(int errorNumber, std::uint64_t afterBytes)
{
    g_fault = WriteFault{true, errorNumber, afterBytes};
}

ScopedWriteFault::~ScopedWriteFault()
{
    g_fault = WriteFault{};
}

} // namespace palvero

#include "durable_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace palvero::central {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
int openFile(const fs::path& p, int flags) { return ::_wopen(p.c_str(), flags | _O_BINARY, 0644); }
int writeSome(int fd, const char* data, size_t n) { return ::_write(fd, data, static_cast<unsigned>(n)); }
int syncFile(int fd) { return ::_commit(fd); }
int closeFile(int fd) { return ::_close(fd); }
void syncFolder(const fs::path&) {}
#else
int openFile(const fs::path& p, int flags) { return ::open(p.c_str(), flags | O_CLOEXEC, 0644); }
ssize_t writeSome(int fd, const char* data, size_t n) { return ::write(fd, data, n); }
int syncFile(int fd) { return ::fsync(fd); }
int closeFile(int fd) { return ::close(fd); }
// A rename is on the disk once the folder that holds the name is.
void syncFolder(const fs::path& folder)
{
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
#endif

bool fail(std::string& error, const std::string& what, const fs::path& p)
{
    error = what + " " + p.string() + ": " + std::strerror(errno);
    return false;
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const auto n = writeSome(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool writeSyncClose(int fd, std::string_view bytes)
{
    if (!writeAll(fd, bytes) || syncFile(fd) != 0) {
        const int saved = errno;
        closeFile(fd);
        errno = saved;
        return false;
    }
    return closeFile(fd) == 0;
}

} // namespace

bool appendDurably(const fs::path& file, std::string_view bytes, std::string& error)
{
    const int fd = openFile(file, O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0)
        return fail(error, "Cannot open", file);
    if (!writeSyncClose(fd, bytes))
        return fail(error, "Cannot write", file);
    return true;
}

bool replaceDurably(const fs::path& file, std::string_view bytes, std::string& error)
{
    fs::path temporary = file;
    temporary += ".new";
    const int fd = openFile(temporary, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0)
        return fail(error, "Cannot create", temporary);
    if (!writeSyncClose(fd, bytes)) {
        fail(error, "Cannot write", temporary);
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }
    std::error_code ec;
    fs::rename(temporary, file, ec);
    if (ec) {
        error = "Cannot replace " + file.string() + ": " + ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    syncFolder(file.parent_path());
    return true;
}

} // namespace palvero::central

#include "durable_file.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace palvero::central {

WriteOutcome appendDurably(const std::filesystem::path& file, std::string_view bytes)
{
    constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC;
    bool made = false;
    int fd = ::open(file.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(file.c_str(), kFlags | O_CREAT, 0644);
        made = fd >= 0;
    }
    if (fd < 0)
        return writeFailure(errno, "Cannot open", file);
    WriteOutcome outcome;
    if (!durable::writeAt(fd, bytes.data(), bytes.size(), -1) || !durable::sync(fd))
        outcome = writeFailure(errno, "Cannot write", file);
    if (::close(fd) != 0 && outcome.ok())
        outcome = writeFailure(errno, "Cannot write", file);
    // A new file is only found again once its folder's entry is on the disk.
    if (made)
        durable::syncFolder(file.parent_path());
    return outcome;
}

} // namespace palvero::central

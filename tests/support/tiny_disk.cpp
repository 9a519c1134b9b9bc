#include "tiny_disk.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace palvero::test {

namespace {
constexpr char kFiller[] = "filler";
}

TinyDisk::TinyDisk(std::size_t bytes)
{
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", m_folder.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0)
        m_mounted = true;
    else
        m_why = "no tmpfs can be mounted here (" + std::string(std::strerror(errno))
            + "); a full disk is tested through an injected write failure instead";
}

TinyDisk::~TinyDisk()
{
    if (m_mounted)
        ::umount2(m_folder.path().c_str(), MNT_DETACH);
}

void TinyDisk::fill()
{
    const int fd = ::open((path() / kFiller).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0)
        return;
    char block[4096] = {};
    // Smaller and smaller pieces, until not one byte more goes in.
    for (std::size_t piece = sizeof block; piece > 0; piece /= 2)
        while (::write(fd, block, piece) == static_cast<ssize_t>(piece)) {
        }
    ::close(fd);
}

void TinyDisk::unfill()
{
    ::unlink((path() / kFiller).c_str());
}

} // namespace palvero::test

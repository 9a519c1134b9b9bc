#pragma once

#include "temp_dir.h"

#include <cstddef>
#include <filesystem>
#include <string>

namespace palvero::test {

// A small file system of its own (tmpfs) on a fresh folder, to see what a full disk does.
// Only root may mount one: elsewhere mounted() is false and why() says so, for GTEST_SKIP.
class TinyDisk {
public:
    explicit TinyDisk(std::size_t bytes = 1 << 20);
    ~TinyDisk();
    TinyDisk(const TinyDisk&) = delete;
    TinyDisk& operator=(const TinyDisk&) = delete;

    bool mounted() const { return m_mounted; }
    const std::string& why() const { return m_why; }
    const std::filesystem::path& path() const { return m_folder.path(); }
    std::filesystem::path operator/(const std::string& name) const { return path() / name; }

    // A filler file until the disk takes no more byte, and without it again.
    void fill();
    void unfill();

private:
    TempDir m_folder;
    bool m_mounted = false;
    std::string m_why;
};

} // namespace palvero::test

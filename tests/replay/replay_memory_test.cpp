// palvero-replay's peak memory over a long capture of the same meters: it streams the
// capture, so ten times the frames must not take much more memory.

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using palvero::test::TempDir;

constexpr int kMeters = 10000;

// A water meter's receiver frame; its identification is `n` in BCD.
std::string frame(int n)
{
    std::string f = {char(0x68), 0, char(0x44), char(0x2D), char(0x2C)};
    for (int i = 0; i < 4; ++i) {
        const int two = n % 100;
        n /= 100;
        f += char(two / 10 * 16 + two % 10);
    }
    const char rest[] = {0x01, 0x07, 0x7A, 0x01, 0x00, 0x00, 0x00, 0x04, 0x13, char(0xE8), 0x03, 0x00, 0x00,
                         char(0x9A), 0x16};
    f.append(rest, sizeof rest);
    f[1] = char(f.size() - 3);
    return f;
}

void writeCapture(const std::string& path, long frames)
{
    std::ofstream out(path, std::ios::binary);
    for (long i = 0; i < frames; ++i)
        out << frame(static_cast<int>(i % kMeters) + 10000000);
}

// Peak resident memory of one palvero-replay run, in kilobytes; -1 when it failed.
long peakKb(const std::string& capture)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            _exit(126);
        // Freed memory kept back by the address sanitizer would be counted as in use.
        setenv("ASAN_OPTIONS", "quarantine_size_mb=0:detect_leaks=0", 1);
        execl(PALVERO_REPLAY, PALVERO_REPLAY, capture.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

TEST(ReplayMemoryTest, PeakMemoryFollowsTheMetersNotTheFrames)
{
    TempDir dir;
    const std::string shortCapture = (dir / "100k.cap").string();
    const std::string longCapture = (dir / "1m.cap").string();
    writeCapture(shortCapture, 100000);
    writeCapture(longCapture, 1000000);
    const long shortPeak = peakKb(shortCapture);
    const long longPeak = peakKb(longCapture);
    ASSERT_GT(shortPeak, 0);
    ASSERT_GT(longPeak, 0);
    RecordProperty("peak_kb_100000_frames", std::to_string(shortPeak));
    RecordProperty("peak_kb_1000000_frames", std::to_string(longPeak));
    std::printf("palvero-replay peak memory: %ld kB for 100,000 frames, %ld kB for 1,000,000 frames\n", shortPeak,
                longPeak);
    EXPECT_LE(longPeak, shortPeak * 3 / 2);
}

} // namespace

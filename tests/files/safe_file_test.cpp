// Whole-file writes: the old file or the new one, never a mix, and a failure that names its
// cause.

#include "safe_file.h"
#include "temp_dir.h"
#include "tiny_disk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace palvero {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SafeFile, ReplacesTheWholeFileOrLeavesItAsItWas)
{
    const struct {
        const char* name;
        std::optional<std::string> old;
        int fault; // errno injected into the writes, 0 for none
        std::uint64_t faultAfter;
        WriteFailure failure;
    } cases[] = {
        {"a new file", std::nullopt, 0, 0, WriteFailure::None},
        {"over an old file", "old content", 0, 0, WriteFailure::None},
        {"disk full at once", "old content", ENOSPC, 0, WriteFailure::DiskFull},
        {"disk full half-way", "old content", ENOSPC, 7, WriteFailure::DiskFull},
        {"quota", "old content", EDQUOT, 3, WriteFailure::DiskFull},
        {"no rights", "old content", EACCES, 0, WriteFailure::NoPermission},
        {"a failing stick", "old content", EIO, 9, WriteFailure::DeviceError},
        {"something else", std::nullopt, EINVAL, 0, WriteFailure::Other},
    };
    const std::string content(5000, 'n');
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const fs::path target = dir / "out.csv";
        if (c.old)
            writeFile(target, *c.old);
        WriteOutcome outcome;
        {
            std::optional<ScopedWriteFault> fault;
            if (c.fault)
                fault.emplace(c.fault, c.faultAfter);
            outcome = replaceFile(target, content);
        }
        EXPECT_EQ(outcome.failure, c.failure);
        EXPECT_EQ(outcome.ok(), c.failure == WriteFailure::None);
        if (outcome.ok()) {
            EXPECT_EQ(readFile(target), content);
        } else {
            EXPECT_EQ(outcome.error, "Cannot write " + target.string() + ": " + std::strerror(c.fault));
            EXPECT_EQ(fs::exists(target), c.old.has_value());
            if (c.old)
                EXPECT_EQ(readFile(target), *c.old);
        }
        // No temporary file is left behind either way.
        EXPECT_EQ(namesIn(dir.path()), (fs::exists(target) ? std::vector<std::string>{"out.csv"}
                                                           : std::vector<std::string>{}));
    }
}

TEST(SafeFile, StreamedContentReplacesTheTargetOnlyAtCommit)
{
    test::TempDir dir;
    const fs::path target = dir / "log.txt";
    writeFile(target, "old");
    {
        SafeFileWriter w(target);
        EXPECT_TRUE(w.write("first "));
        EXPECT_TRUE(w.write("second"));
        EXPECT_EQ(readFile(target), "old");
        EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{".log.txt.palvero-new", "log.txt"}));
        EXPECT_TRUE(w.commit());
        EXPECT_FALSE(w.write("late")); // a committed file takes nothing more
    }
    EXPECT_EQ(readFile(target), "first second");
    {
        SafeFileWriter w(target);
        w.write("dropped"); // never committed: dropped with the writer
    }
    EXPECT_EQ(readFile(target), "first second");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"log.txt"});

    // What a stopped program left behind is written over.
    writeFile(dir / ".log.txt.palvero-new", "half a file from before");
    EXPECT_TRUE(replaceFile(target, "new"));
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"log.txt"});
}

TEST(SafeFile, TargetsThatCannotTakeAFile)
{
    test::TempDir dir;
    // A missing folder is not made.
    const WriteOutcome missing = replaceFile(dir / "no-such-folder" / "a.csv", "x");
    EXPECT_EQ(missing.failure, WriteFailure::Other);
    EXPECT_FALSE(fs::exists(dir / "no-such-folder"));
    // A folder stays a folder.
    fs::create_directory(dir / "folder");
    EXPECT_FALSE(replaceFile(dir / "folder", "x"));
    EXPECT_TRUE(fs::is_directory(dir / "folder"));

    // A link keeps pointing at its file, which gets the content; the permissions stay.
    writeFile(dir / "real.ini", "old");
    fs::permissions(dir / "real.ini", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(dir / "real.ini", dir / "link.ini");
    ASSERT_TRUE(replaceFile(dir / "link.ini", "new"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
    EXPECT_EQ(readFile(dir / "real.ini"), "new");
    EXPECT_EQ(fs::status(dir / "real.ini").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    if (::geteuid() == 0) {
        // A file of another user written by root stays that user's.
        ASSERT_EQ(::chown((dir / "real.ini").c_str(), 1234, 5678), 0);
        ASSERT_TRUE(replaceFile(dir / "real.ini", "by root"));
        struct stat st {};
        ASSERT_EQ(::stat((dir / "real.ini").c_str(), &st), 0);
        EXPECT_EQ(std::pair(st.st_uid, st.st_gid), std::pair(uid_t(1234), gid_t(5678)));
    } else { // permission bits do not stop root
        fs::permissions(dir / "real.ini", fs::perms::owner_read);
        const WriteOutcome readOnly = replaceFile(dir / "real.ini", "newer");
        EXPECT_EQ(readOnly.failure, WriteFailure::NoPermission);
        EXPECT_EQ(readFile(dir / "real.ini"), "new");
    }
}

TEST(SafeFile, TheOperatorIsToldTheCause)
{
    const struct {
        int error;
        WriteFailure kind;
        std::string text;
    } cases[] = {
        {0, WriteFailure::None, "usual"},
        {ENOSPC, WriteFailure::DiskFull,
         "Saving, the disk is full!\nAny earlier file of that name is unchanged."},
        {EFBIG, WriteFailure::DiskFull, "Saving, the disk is full!\nAny earlier file of that name is unchanged."},
        {EIO, WriteFailure::DeviceError,
         "Saving, the disk does not answer (input/output error)!\nAny earlier file of that name is unchanged."},
        {EACCES, WriteFailure::NoPermission, "usual"},
        {EROFS, WriteFailure::NoPermission, "usual"},
        {ENOENT, WriteFailure::Other, "usual"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(writeFailureOf(c.error), c.kind);
        EXPECT_EQ(writeFailureText({c.kind, "e"}, "Saving", "usual"), c.text);
    }
}

TEST(SafeFile, AFullFileSystemLeavesTheOldFileExactlyAsItWas)
{
    test::TinyDisk disk;
    if (!disk.mounted())
        GTEST_SKIP() << disk.why();
    const std::string old(300 * 1024, 'o');
    writeFile(disk / "meters.csv", old);
    disk.fill();
    const WriteOutcome full = replaceFile(disk / "meters.csv", std::string(200 * 1024, 'n'));
    EXPECT_EQ(full.failure, WriteFailure::DiskFull);
    EXPECT_NE(full.error.find("No space left on device"), std::string::npos) << full.error;
    EXPECT_EQ(readFile(disk / "meters.csv"), old);
    EXPECT_EQ(namesIn(disk.path()), (std::vector<std::string>{"filler", "meters.csv"}));

    // With room again the same write goes through.
    disk.unfill();
    ASSERT_TRUE(replaceFile(disk / "meters.csv", std::string(200 * 1024, 'n')));
    EXPECT_EQ(readFile(disk / "meters.csv").size(), 200u * 1024);
}

} // namespace
} // namespace palvero

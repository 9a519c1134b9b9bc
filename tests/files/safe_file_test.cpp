// Whole-file writes: the old file or the new one, never a mix, and a failure that names its cause.

#include "safe_file.h"
#include "temp_dir.h"
#include "tiny_disk.h"

#include <gtest/gtest.h>

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

std::size_t filesIn(const fs::path& folder)
{
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(SafeFile, ReplacesTheWholeFileOrLeavesItAsItWasAndNamesTheCause)
{
    const struct {
        std::optional<std::string> old;
        int fault; // errno injected into the writes after `faultAfter` bytes, 0 for none
        std::uint64_t faultAfter;
        WriteFailure failure;
        std::string text; // of the box, after "Saving"
    } cases[] = {
        {std::nullopt, 0, 0, WriteFailure::None, "usual"},
        {"old", 0, 0, WriteFailure::None, "usual"},
        {"old", ENOSPC, 7, WriteFailure::DiskFull, ", the disk is full!\nAny earlier file of that name is unchanged."},
        {"old", EDQUOT, 0, WriteFailure::DiskFull, ", the disk is full!\nAny earlier file of that name is unchanged."},
        {"old", EIO, 9, WriteFailure::DeviceError,
         ", the disk does not answer (input/output error)!\nAny earlier file of that name is unchanged."},
        {"old", EACCES, 0, WriteFailure::NoPermission, "usual"},
        {std::nullopt, EINVAL, 0, WriteFailure::Other, "usual"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        test::TempDir dir;
        if (c.old)
            writeFile(dir / "out.csv", *c.old);
        WriteOutcome outcome;
        {
            std::optional<ScopedWriteFault> fault;
            if (c.fault)
                fault.emplace(c.fault, c.faultAfter);
            outcome = replaceFile(dir / "out.csv", std::string(5000, 'n'));
        }
        EXPECT_EQ(outcome.failure, c.failure);
        EXPECT_EQ(writeFailureText(outcome, "Saving", "usual"), c.text == "usual" ? c.text : "Saving" + c.text);
        if (c.fault) {
            EXPECT_EQ(outcome.error, "Cannot write " + (dir / "out.csv").string() + ": " + std::strerror(c.fault));
        }
        EXPECT_EQ(readFile(dir / "out.csv"), outcome.ok() ? std::string(5000, 'n') : c.old.value_or(""));
        EXPECT_EQ(filesIn(dir.path()), outcome.ok() || c.old ? 1u : 0u) << "no temporary file is left";
    }
}

TEST(SafeFile, StreamedContentReplacesTheTargetOnlyAtCommit)
{
    test::TempDir dir;
    writeFile(dir / "log.txt", "old");
    writeFile(dir / ".log.txt.palvero-new", "half a file a stopped program left");
    {
        SafeFileWriter w(dir / "log.txt");
        EXPECT_TRUE(w.write("first ") && w.write("second"));
        EXPECT_EQ(readFile(dir / "log.txt"), "old");
        EXPECT_TRUE(w.commit());
    }
    EXPECT_EQ(readFile(dir / "log.txt"), "first second");
    SafeFileWriter(dir / "log.txt").write("never committed");
    EXPECT_EQ(readFile(dir / "log.txt"), "first second");
    EXPECT_EQ(filesIn(dir.path()), 1u);
}

TEST(SafeFile, FoldersLinksOwnersAndPermissions)
{
    test::TempDir dir;
    EXPECT_FALSE(replaceFile(dir / "no-such-folder" / "a.csv", "x"));
    EXPECT_FALSE(fs::exists(dir / "no-such-folder"));
    // A link keeps pointing at its file, which keeps its permissions and owner.
    writeFile(dir / "real.ini", "old");
    fs::permissions(dir / "real.ini", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(dir / "real.ini", dir / "link.ini");
    const bool root = ::geteuid() == 0;
    ASSERT_TRUE(!root || ::chown((dir / "real.ini").c_str(), 1234, 5678) == 0);
    ASSERT_TRUE(replaceFile(dir / "link.ini", "new"));
    struct stat st {};
    ASSERT_EQ(::lstat((dir / "real.ini").c_str(), &st), 0);
    EXPECT_EQ(readFile(dir / "real.ini"), "new");
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(!root || (st.st_uid == 1234 && st.st_gid == 5678));
    EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
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
    EXPECT_EQ(full.failure, WriteFailure::DiskFull) << full.error;
    EXPECT_EQ(readFile(disk / "meters.csv"), old);
    EXPECT_EQ(filesIn(disk.path()), 2u) << "the file and the filler";
    disk.unfill();
    EXPECT_TRUE(replaceFile(disk / "meters.csv", "new"));
}

} // namespace
} // namespace palvero

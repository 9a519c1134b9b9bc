#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace palvero {

// Why bytes did not reach the disk: the operator is told a full disk and a disk that does
// not answer apart from missing rights, since the cure differs.
enum class WriteFailure { None, DiskFull, DeviceError, NoPermission, Other };

// What a write met; `error` names the file and the system's reason, for the detailed log.
struct WriteOutcome {
    WriteFailure failure = WriteFailure::None;
    std::string error;

    bool ok() const { return failure == WriteFailure::None; }
    explicit operator bool() const { return ok(); }
};

// The text a box shows for a failed write: the program's fixed `usual` text, unless the disk
// is full or does not answer: then `subject` with that cause, and that any earlier file of
// that name is unchanged.
std::string writeFailureText(const WriteOutcome& outcome, const std::string& subject, const std::string& usual);

// The kind of failure an errno value stands for.
WriteFailure writeFailureOf(int errorNumber);
// A failure with the system's words for `errorNumber`: "<what> <path>: <reason>".
WriteOutcome writeFailure(int errorNumber, const std::string& what, const std::filesystem::path& path);

// Writes a whole file so that it is either the old file or the new one, never a mix and
// never cut short, even when the program or the machine stops half-way: the bytes go to a
// temporary file in the same folder (hidden, ".<name>.palvero-new"), which is flushed to the
// disk and then renamed over the target, and the folder is flushed too. Until commit()
// succeeds the target is untouched; a failure leaves it exactly as it was and removes the
// temporary file. A target that exists but may not be written is refused (NoPermission) as
// it was before the temporary file came in; a symbolic link is followed to its file, and the
// new file keeps the old one's permissions (and owner, where the program may give it).
// Missing folders are never created.
class SafeFileWriter {
public:
    explicit SafeFileWriter(std::filesystem::path target);
    ~SafeFileWriter();
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    // Appends to the new content; false once anything has failed (outcome() tells what).
    bool write(std::string_view bytes);
    // Flushes, renames over the target and flushes the folder. The outcome of the whole write.
    WriteOutcome commit();
    // Drops the new content; the target stays as it was.
    void abandon();

    const WriteOutcome& outcome() const { return m_outcome; }
    const std::filesystem::path& target() const { return m_target; }

private:
    bool begin();
    void fail(int errorNumber, const std::string& what, const std::filesystem::path& path);

    std::filesystem::path m_target;
    std::filesystem::path m_temporary;
    int m_fd = -1;
    bool m_begun = false;
    bool m_committed = false;
    bool m_mode = false; // whether m_modeBits came from an existing target
    unsigned m_modeBits = 0;
    unsigned m_owner = 0;
    unsigned m_group = 0;
    WriteOutcome m_outcome;
};

// The whole of `content` as the new file, as SafeFileWriter writes it.
WriteOutcome replaceFile(const std::filesystem::path& target, std::string_view content);

// The low-level steps the data files build on, each retried on EINTR and reporting errno.
namespace durable {

// Writes every byte at `offset` (or at the file's end when offset is negative); false with
// errno set, `written` telling how many bytes went through.
bool writeAt(int fd, const void* data, std::size_t size, std::int64_t offset, std::size_t* written = nullptr);
// fsync; false with errno set.
bool sync(int fd);
// Flushes the folder's entries (a rename or a new file) to the disk; best effort.
void syncFolder(const std::filesystem::path& folder);

} // namespace durable

// For tests: while one lives, writes through this module fail with `errorNumber` once
// `afterBytes` more bytes have been written (0: the next write fails at once), as a full disk
// or a failing stick would make them. One at a time.
class ScopedWriteFault {
public:
    explicit ScopedWriteFault(int errorNumber, std::uint64_t afterBytes = 0);
    ~ScopedWriteFault();
    ScopedWriteFault(const ScopedWriteFault&) = delete;
    ScopedWriteFault& operator=(const ScopedWriteFault&) = delete;
};

} // namespace palvero

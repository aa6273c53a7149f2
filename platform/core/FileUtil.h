// Small file helpers shared by the platform layers: whole-file reads, atomic
// replacement of a file, advisory locks and moving a file aside.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sitowiak::platform {

// Permissions for a file the helpers create; the process's umask applies.
inline constexpr unsigned kUsualFileMode = 0666;    // what any program's new file gets
inline constexpr unsigned kPrivateFileMode = 0600;  // readable by the owner only

// The whole file, or nullopt when it does not exist or cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& file);

// What ReadRegularFile found.
enum class FileReadOutcome {
    kRead,
    kMissing,     // no such file (a dangling symbolic link included)
    kNotRegular,  // a FIFO, a device, a folder, a socket
    kTooLarge,    // more than the limit
    kFailed,      // any other error; `error` holds errno
};
struct LimitedRead {
    FileReadOutcome outcome = FileReadOutcome::kMissing;
    std::string content;  // kRead only
    int error = 0;
};
// Reads a regular file (through symbolic links) of at most `maxBytes`.
// Anything else is refused from its status alone; a FIFO put in place meanwhile
// never blocks the open (O_NONBLOCK), and the descriptor is checked again, so
// nothing but a regular file is read, and never past `maxBytes` + 1 bytes.
LimitedRead ReadRegularFile(const std::filesystem::path& file, size_t maxBytes);

// Creates `part` (it must not exist yet) for writing, to be renamed over
// `file` later: it gets the permissions of `file` when that exists, so a
// replacement keeps them, and `newFileMode` under the umask otherwise.
// Returns the open descriptor, or -1 with errno set.
int CreateReplacementFor(const std::filesystem::path& file, const std::filesystem::path& part,
                         unsigned newFileMode);

// Replaces `file` with `content` so that a reader sees either the old or the
// new file, never a part: writes "file.tmp-PID-N" in the same folder, syncs
// it, renames it over `file` and syncs the folder. Permissions as
// CreateReplacementFor gives them. On failure nothing is left behind, `file`
// is unchanged and *error says why.
bool WriteFileAtomically(const std::filesystem::path& file, std::string_view content,
                         std::string* error, unsigned newFileMode = kUsualFileMode);

// Renames `file` to the first free name "file<suffix>-N" (N = 1, 2, ...) and
// returns it, or an empty path when the rename failed.
std::filesystem::path MoveAside(const std::filesystem::path& file, std::string_view suffix);

// The lock file beside `file`. The lock is not taken on the file itself
// because an atomic replacement gives the file a new inode.
std::filesystem::path LockPathFor(const std::filesystem::path& file);

// An flock(2) lock held for the object's lifetime (LOCK_SH or LOCK_EX).
// If the lock file cannot be opened the object holds no lock; the caller
// still proceeds, as it would on a file system without locks.
class FileLock {
public:
    FileLock(const std::filesystem::path& lockFile, int operation);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int m_fd = -1;
};

}  // namespace sitowiak::platform

#include "FileUtil.h"

#include "platform/core/SystemErrorText.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace sitowiak::platform {
namespace {

// What failed, in the words of a user, and why: "nie można otworzyć
// pliku: brak uprawnień".
std::string ErrnoText(const char* what) {
    return std::string("nie można ") + what + ": " + SystemErrorText(errno);
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void SyncFolder(const std::filesystem::path& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string content;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        content.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return content;
}

LimitedRead ReadRegularFile(const std::filesystem::path& file, size_t maxBytes) {
    LimitedRead result;
    auto fail = [&](FileReadOutcome outcome, int error = 0) {
        result.outcome = outcome;
        result.error = error;
        result.content.clear();
        return result;
    };
    auto judge = [&](const struct stat& st) -> std::optional<FileReadOutcome> {
        if (!S_ISREG(st.st_mode)) return FileReadOutcome::kNotRegular;
        if (static_cast<uintmax_t>(st.st_size) > maxBytes) return FileReadOutcome::kTooLarge;
        return std::nullopt;
    };
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return fail(errno == ENOENT ? FileReadOutcome::kMissing : FileReadOutcome::kFailed, errno);
    if (auto refused = judge(st)) return fail(*refused);
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return fail(errno == ENOENT ? FileReadOutcome::kMissing : FileReadOutcome::kFailed, errno);
    if (::fstat(fd, &st) != 0) {
        int error = errno;
        ::close(fd);
        return fail(FileReadOutcome::kFailed, error);
    }
    if (auto refused = judge(st)) {
        ::close(fd);
        return fail(*refused);
    }
    result.content.reserve(static_cast<size_t>(st.st_size));
    // One byte past the limit tells a file that grew since fstat.
    char buf[65536];
    while (result.content.size() <= maxBytes) {
        size_t room = std::min(sizeof buf, maxBytes + 1 - result.content.size());
        ssize_t n = ::read(fd, buf, room);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int error = errno;
            ::close(fd);
            return fail(FileReadOutcome::kFailed, error);
        }
        if (n == 0) break;
        result.content.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    if (result.content.size() > maxBytes) return fail(FileReadOutcome::kTooLarge);
    result.outcome = FileReadOutcome::kRead;
    return result;
}

int CreateReplacementFor(const std::filesystem::path& file, const std::filesystem::path& part,
                         unsigned newFileMode) {
    int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    static_cast<mode_t>(newFileMode));
    // A file system without permissions (a FAT stick, some shares) refuses
    // the change; the file is still good to write.
    struct stat st {};
    if (fd >= 0 && ::stat(file.c_str(), &st) == 0) (void)::fchmod(fd, st.st_mode & 07777);
    return fd;
}

bool WriteFileAtomically(const std::filesystem::path& file, std::string_view content,
                         std::string* error, unsigned newFileMode) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path tmp = file;
    tmp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    int fd = CreateReplacementFor(file, tmp, newFileMode);
    if (fd < 0) {
        if (error) *error = ErrnoText("utworzyć pliku");
        return false;
    }
    bool ok = WriteAll(fd, content);
    if (!ok && error) *error = ErrnoText("zapisać pliku");
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        if (error) *error = ErrnoText("zapisać pliku na dysk");
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        if (error) *error = ErrnoText("zamknąć pliku");
    }
    if (ok && ::rename(tmp.c_str(), file.c_str()) != 0) {
        ok = false;
        if (error) *error = ErrnoText("zastąpić pliku");
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    SyncFolder(file.parent_path());
    return true;
}

std::filesystem::path MoveAside(const std::filesystem::path& file, std::string_view suffix) {
    for (int n = 1; n < 10000; ++n) {
        std::filesystem::path target = file;
        target += std::string(suffix) + "-" + std::to_string(n);
        // link() fails when the target exists, so no earlier copy is replaced.
        if (::link(file.c_str(), target.c_str()) == 0) {
            ::unlink(file.c_str());
            SyncFolder(file.parent_path());
            return target;
        }
        if (errno != EEXIST) break;
    }
    return {};
}

std::filesystem::path LockPathFor(const std::filesystem::path& file) {
    std::filesystem::path lock = file;
    lock += ".lock";
    return lock;
}

FileLock::FileLock(const std::filesystem::path& lockFile, int operation) {
    m_fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) return;
    while (::flock(m_fd, operation) != 0 && errno == EINTR) {
    }
}

FileLock::~FileLock() {
    if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
}

}  // namespace sitowiak::platform

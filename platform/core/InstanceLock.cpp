#include "InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "platform/core/Registry.h"
#include "platform/core/SystemErrorText.h"

namespace sitowiak::platform {

std::filesystem::path InstanceLockFile() {
    return ConfigFolder() / "sitowiak.pid";
}

InstanceLock::InstanceLock(std::filesystem::path file) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    m_fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0) {
        m_failure = file.string() + ": " + SystemErrorText(errno);
        return;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error != EWOULDBLOCK) {
            m_failure = file.string() + ": " + SystemErrorText(error);
            return;
        }
        // The holder writes its PID right after taking the lock; a read in
        // between finds the file empty and names no PID.
        char text[32] = {};
        ssize_t n = ::pread(m_fd, text, sizeof text - 1, 0);
        if (n > 0) {
            char* end = nullptr;
            long pid = std::strtol(text, &end, 10);
            if (end != text && pid > 0) m_holder = pid;
        }
        return;
    }
    m_held = true;
    const std::string pid = std::to_string(::getpid()) + "\n";
    // A failed write leaves the lock held all the same; only the second
    // copy's message then lacks the PID.
    if (::ftruncate(m_fd, 0) == 0) {
        [[maybe_unused]] ssize_t written = ::pwrite(m_fd, pid.data(), pid.size(), 0);
    }
}

// The file stays: removing it would let a third copy lock a new file while
// a second still waits on the old one.
InstanceLock::~InstanceLock() {
    if (m_fd < 0) return;
    if (m_held) {
        [[maybe_unused]] int emptied = ::ftruncate(m_fd, 0);
    }
    ::close(m_fd);
}

}  // namespace sitowiak::platform

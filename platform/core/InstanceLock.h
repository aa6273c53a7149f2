// One running copy of the proxy per settings folder: an advisory lock on a
// file in that folder, held while the program runs and released by the
// kernel however it ends. The file holds the holder's PID, for the second
// copy's message.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace sitowiak::platform {

class InstanceLock {
public:
    // Tries to take the lock on `file` (created when missing, with its
    // folder) without waiting.
    explicit InstanceLock(std::filesystem::path file);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    bool Held() const { return m_fd >= 0 && m_held; }
    // When another process holds it: that process's PID as its file says,
    // if it says one.
    std::optional<long> HolderPid() const { return m_holder; }
    // Why the lock could not be taken, when not because of another copy.
    const std::string& Failure() const { return m_failure; }

private:
    int m_fd = -1;
    bool m_held = false;
    std::optional<long> m_holder;
    std::string m_failure;
};

// The lock file of the settings folder.
std::filesystem::path InstanceLockFile();

}  // namespace sitowiak::platform

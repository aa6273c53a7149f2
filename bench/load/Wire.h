// Blocking loopback connections for the load run: every wait is bounded by a
// deadline, so a proxy that stops answering ends a session instead of
// hanging the run.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace sitowiak::load {

using Clock = std::chrono::steady_clock;

// 64-bit FNV-1a, fed in pieces: long replies are compared by length and hash.
class Fnv {
public:
    void Add(std::string_view bytes);
    uint64_t Value() const { return m_hash; }

private:
    uint64_t m_hash = 1469598103934665603ull;
};

class Wire {
public:
    Wire() = default;
    explicit Wire(int fd) : m_fd(fd) {}
    ~Wire() { Close(); }
    Wire(Wire&& other) noexcept : m_fd(other.m_fd), m_pending(std::move(other.m_pending)) {
        other.m_fd = -1;
    }
    Wire& operator=(Wire&& other) noexcept {
        Close();
        m_fd = other.m_fd;
        m_pending = std::move(other.m_pending);
        other.m_fd = -1;
        return *this;
    }

    // A connection to 127.0.0.1:port, or an invalid Wire when refused.
    static Wire Connect(int port);
    bool Valid() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }

    // Sends everything (false when the peer has gone).
    bool Send(std::string_view bytes);
    // Sends one byte at a time with `pauseUs` between them.
    bool Drip(std::string_view bytes, int pauseUs);
    // Reads until `marker` has arrived and returns everything up to and
    // including it; on end, error or deadline returns what came, and
    // `complete` is false.
    std::string ReadUntil(std::string_view marker, Clock::time_point deadline, bool& complete);
    // Reads a reply that ends with `marker` without keeping it: its length
    // and hash. Returns false when it did not complete.
    bool HashUntil(std::string_view marker, Clock::time_point deadline, uint64_t& length,
                   uint64_t& hash);
    // True when the peer closed (or reset) before the deadline; bytes that
    // arrive meanwhile are counted in `stray`.
    bool WaitForEnd(Clock::time_point deadline, size_t& stray);
    // Closes; with reset, the peer sees a reset instead of an orderly end.
    void Close(bool reset = false);

private:
    // Reads what is there (waiting until the deadline): false at end/error.
    bool ReadSome(Clock::time_point deadline);
    // One recv that waits at most until `deadline`: its result, or
    // kTimedOut when nothing came in time.
    static constexpr ssize_t kTimedOut = -2;
    ssize_t ReceiveBefore(Clock::time_point deadline, char* buf, size_t size);

    int m_fd = -1;
    std::string m_pending;
};

}  // namespace sitowiak::load

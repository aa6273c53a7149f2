#include "Wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace sitowiak::load {

namespace {
constexpr size_t kReadChunk = 256 * 1024;
}

void Fnv::Add(std::string_view bytes) {
    for (unsigned char c : bytes) {
        m_hash ^= c;
        m_hash *= 1099511628211ull;
    }
}

Wire Wire::Connect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Wire();
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
        ::close(fd);
        return Wire();
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return Wire(fd);
}

bool Wire::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        if (m_fd < 0) return false;
        ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool Wire::Drip(std::string_view bytes, int pauseUs) {
    for (char c : bytes) {
        if (!Send(std::string_view(&c, 1))) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
    }
    return true;
}

ssize_t Wire::ReceiveBefore(Clock::time_point deadline, char* buf, size_t size) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return kTimedOut;
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return kTimedOut;
    return ::recv(m_fd, buf, size, 0);
}

bool Wire::ReadSome(Clock::time_point deadline) {
    if (m_fd < 0) return false;
    char buf[kReadChunk];
    ssize_t n = ReceiveBefore(deadline, buf, sizeof buf);
    if (n <= 0) return false;
    m_pending.append(buf, static_cast<size_t>(n));
    return true;
}

std::string Wire::ReadUntil(std::string_view marker, Clock::time_point deadline, bool& complete) {
    size_t scanned = 0;
    for (;;) {
        size_t from = scanned >= marker.size() ? scanned - marker.size() + 1 : 0;
        size_t found = m_pending.find(marker, from);
        if (found != std::string::npos) {
            std::string head = m_pending.substr(0, found + marker.size());
            m_pending.erase(0, found + marker.size());
            complete = true;
            return head;
        }
        scanned = m_pending.size();
        if (!ReadSome(deadline)) break;
    }
    complete = false;
    std::string all;
    all.swap(m_pending);
    return all;
}

bool Wire::HashUntil(std::string_view marker, Clock::time_point deadline, uint64_t& length,
                     uint64_t& hash) {
    Fnv fnv;
    length = 0;
    for (;;) {
        size_t found = m_pending.find(marker);
        if (found != std::string::npos) {
            size_t end = found + marker.size();
            fnv.Add(std::string_view(m_pending).substr(0, end));
            length += end;
            m_pending.erase(0, end);
            hash = fnv.Value();
            return true;
        }
        // Keep the bytes a marker split between two reads could begin with.
        size_t keep = std::min(m_pending.size(), marker.size() - 1);
        size_t done = m_pending.size() - keep;
        fnv.Add(std::string_view(m_pending).substr(0, done));
        length += done;
        m_pending.erase(0, done);
        if (!ReadSome(deadline)) return false;
    }
}

bool Wire::WaitForEnd(Clock::time_point deadline, size_t& stray) {
    stray = m_pending.size();
    m_pending.clear();
    while (m_fd >= 0) {
        char buf[kReadChunk];
        ssize_t n = ReceiveBefore(deadline, buf, sizeof buf);
        if (n == kTimedOut) return false;
        if (n <= 0) return true;
        stray += static_cast<size_t>(n);
    }
    return true;
}

void Wire::Close(bool reset) {
    if (m_fd < 0) return;
    if (reset) {
        linger li{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &li, sizeof li);
    }
    ::close(m_fd);
    m_fd = -1;
}

}  // namespace sitowiak::load

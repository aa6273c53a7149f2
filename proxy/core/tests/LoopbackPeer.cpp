#include "LoopbackPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace sitowiak::testing {

PeerConnection::PeerConnection(int fd) : m_fd(fd) {
    int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

PeerConnection::~PeerConnection() {
    Close();
}

std::unique_ptr<PeerConnection> PeerConnection::ConnectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
        ::close(fd);
        throw std::runtime_error("connect failed");
    }
    return std::make_unique<PeerConnection>(fd);
}

void PeerConnection::Send(std::string_view bytes) {
    while (!bytes.empty() && m_fd >= 0) {
        ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

void PeerConnection::SendInChunks(std::string_view bytes, size_t chunk,
                                  std::chrono::microseconds pause) {
    while (!bytes.empty()) {
        size_t n = std::min(chunk, bytes.size());
        Send(bytes.substr(0, n));
        bytes.remove_prefix(n);
        if (!bytes.empty()) std::this_thread::sleep_for(pause);
    }
}

std::string PeerConnection::ReadCount(size_t count, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_pending.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) break;
    }
    std::string head = m_pending.substr(0, std::min(count, m_pending.size()));
    m_pending.erase(0, head.size());
    return head;
}

bool PeerConnection::ReadSome(int timeoutMs) {
    if (m_fd < 0) return false;
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char buf[65536];
    ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    m_pending.append(buf, static_cast<size_t>(n));
    return true;
}

std::string PeerConnection::ReadUntil(std::string_view marker, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t found;
    while ((found = m_pending.find(marker)) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) {
            std::string all;
            all.swap(m_pending);
            return all;
        }
    }
    std::string head = m_pending.substr(0, found + marker.size());
    m_pending.erase(0, found + marker.size());
    return head;
}

std::string PeerConnection::ReadToClose(bool* closed, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    *closed = false;
    while (m_fd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buf[65536];
        ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0) {
            *closed = true;
            break;
        }
        m_pending.append(buf, static_cast<size_t>(n));
    }
    std::string all;
    all.swap(m_pending);
    return all;
}

bool PeerConnection::Silent(int ms) {
    if (!m_pending.empty()) return false;
    return !ReadSome(ms) && m_pending.empty();
}

void PeerConnection::Reset() {
    linger now{1, 0};
    if (m_fd >= 0) ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    Close();
}

void PeerConnection::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

ScriptedServer::ScriptedServer(Script script) : m_script(std::move(script)) {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
    ::listen(m_listenFd, 128);
    socklen_t len = sizeof sin;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&sin), &len);
    m_port = ntohs(sin.sin_port);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    m_stop = true;
    {
        // Unblocks scripts still waiting for a line from the proxy.
        std::lock_guard lock(m_fdMutex);
        for (int fd : m_fds) ::shutdown(fd, SHUT_RDWR);
    }
    ::shutdown(m_listenFd, SHUT_RDWR);
    ::close(m_listenFd);
    m_acceptThread.join();
    for (auto& t : m_workers) t.join();
}

void ScriptedServer::AcceptLoop() {
    while (!m_stop) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++m_connections;
        {
            std::lock_guard lock(m_fdMutex);
            m_fds.push_back(fd);
        }
        m_workers.emplace_back([this, fd] {
            PeerConnection connection(fd);
            m_script(connection);
            // Forgotten before it is closed, so its number, once reused,
            // is never shut down by mistake.
            std::lock_guard lock(m_fdMutex);
            std::erase(m_fds, fd);
        });
    }
}

}  // namespace sitowiak::testing

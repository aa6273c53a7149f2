// Blocking loopback peers for relay tests: a scripted news server and a
// scripted newsreader, each running its script on its own thread while the
// test thread runs the proxy's event loop. Every read has a timeout, so a
// relay that loses bytes fails the test instead of hanging it.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sitowiak::testing {

// One connected TCP socket with blocking, time-limited reads.
class PeerConnection {
public:
    explicit PeerConnection(int fd);
    ~PeerConnection();
    PeerConnection(const PeerConnection&) = delete;
    PeerConnection& operator=(const PeerConnection&) = delete;

    static std::unique_ptr<PeerConnection> ConnectTo(int port);

    void Send(std::string_view bytes);
    // Sends in pieces of `chunk` bytes with a short pause between them, so
    // that the other side receives them in separate reads.
    void SendInChunks(std::string_view bytes, size_t chunk,
                      std::chrono::microseconds pause = std::chrono::milliseconds(5));
    // Reads until `marker` has arrived (everything up to and including it),
    // or returns what came when the peer closed or the time ran out.
    std::string ReadUntil(std::string_view marker, int timeoutMs = 5000);
    std::string ReadLine(int timeoutMs = 5000) { return ReadUntil("\r\n", timeoutMs); }
    // Reads exactly `count` bytes, or returns what came when the peer closed
    // or the time ran out.
    std::string ReadCount(size_t count, int timeoutMs = 5000);
    // Reads everything until the peer closes; `closed` tells whether it did.
    std::string ReadToClose(bool* closed, int timeoutMs = 5000);
    // True when nothing arrives within `ms`.
    bool Silent(int ms);
    void Close();
    // Closes with a reset instead of the orderly end.
    void Reset();

private:
    bool ReadSome(int timeoutMs);

    int m_fd;
    std::string m_pending;
};

// A news server on 127.0.0.1 that runs `script` for each connection on its
// own thread.
class ScriptedServer {
public:
    using Script = std::function<void(PeerConnection&)>;
    explicit ScriptedServer(Script script);
    ~ScriptedServer();
    int Port() const { return m_port; }
    int Connections() const { return m_connections; }

private:
    void AcceptLoop();

    Script m_script;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_acceptThread;
    std::vector<std::thread> m_workers;
    std::mutex m_fdMutex;
    std::vector<int> m_fds;  // connections, shut down when the server goes
};

}  // namespace sitowiak::testing

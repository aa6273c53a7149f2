// bench_proxy_upstream PORT SECONDS: a scripted news server for the relay
// benchmarks. Listens on 127.0.0.1:PORT (0: any free port, printed on the
// first line of stdout), greets every connection and answers the commands
// of BenchPayload.h at full speed, from one thread with epoll. Body bytes
// are written straight from the shared pattern, never copied per reply.
// Stops on SIGTERM or SIGINT, or by itself after SECONDS.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>

#include "BenchPayload.h"

namespace sitowiak::bench {
namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

// A piece of a reply waiting to be written: either owned text or a view of
// the pattern.
struct Piece {
    std::string owned;
    std::string_view view;
    size_t done = 0;
    std::string_view Rest() const { return view.substr(done); }
};

struct Connection {
    int fd = -1;
    std::string input;
    bool posting = false;  // an article is coming, up to its "." line
    bool signature = false;  // ... and its signature block has begun
    size_t postedBytes = 0;
    uint32_t postedHash = 0;
    std::deque<Piece> output;
    bool closeWhenSent = false;
    bool wantWrite = false;
};

class Upstream {
public:
    explicit Upstream(const std::string& pattern) : m_pattern(pattern) {}
    int Listen(int port);
    void Run(int seconds);

private:
    void AcceptAll();
    void OnReadable(Connection& c);
    void HandleLine(Connection& c, std::string_view line);
    void Queue(Connection& c, std::string text);
    void QueueView(Connection& c, std::string_view view);
    // Writes what it can; returns false when the connection is finished.
    bool Flush(Connection& c);
    void SetWriteInterest(Connection& c, bool on);
    void Drop(int fd);

    const std::string& Overview();

    const std::string& m_pattern;
    std::string m_overview;  // made at the first XOVER
    int m_listenFd = -1;
    int m_epoll = -1;
    std::unordered_map<int, std::unique_ptr<Connection>> m_connections;
};

int Upstream::Listen(int port) {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listenFd, 4096) != 0) {
        std::perror("bind/listen");
        std::exit(1);
    }
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = m_listenFd;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listenFd, &ev);
    return ntohs(addr.sin_port);
}

void Upstream::Run(int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    epoll_event events[256];
    while (!g_stop && std::chrono::steady_clock::now() < deadline) {
        int n = ::epoll_wait(m_epoll, events, 256, 500);
        for (int i = 0; i < n; ++i) {
            int fd = events[i].data.fd;
            if (fd == m_listenFd) {
                AcceptAll();
                continue;
            }
            auto it = m_connections.find(fd);
            if (it == m_connections.end()) continue;
            Connection& c = *it->second;
            if (events[i].events & EPOLLOUT && !Flush(c)) {
                Drop(fd);
                continue;
            }
            if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) OnReadable(c);
        }
    }
}

void Upstream::AcceptAll() {
    for (;;) {
        int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
        Connection& ref = *c;
        m_connections[fd] = std::move(c);
        Queue(ref, std::string(kGreeting));
        if (!Flush(ref)) Drop(fd);
    }
}

void Upstream::OnReadable(Connection& c) {
    char chunk[16384];
    ssize_t got = ::recv(c.fd, chunk, sizeof chunk, 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        Drop(c.fd);
        return;
    }
    if (got < 0) return;
    c.input.append(chunk, static_cast<size_t>(got));
    size_t start = 0;
    for (size_t end; (end = c.input.find(kLineEnd, start)) != std::string::npos;) {
        HandleLine(c, std::string_view(c.input).substr(start, end - start));
        start = end + kLineEnd.size();
    }
    c.input.erase(0, start);
    if (!Flush(c)) Drop(c.fd);
}

const std::string& Upstream::Overview() {
    if (m_overview.empty()) m_overview = MakeOverviewPattern();
    return m_overview;
}

void Upstream::HandleLine(Connection& c, std::string_view line) {
    if (c.posting) {
        if (line == "-- ") c.signature = true;
        if (!c.signature || line == ".") {
            c.postedBytes += line.size() + kLineEnd.size();
            c.postedHash = Fnv1a(kLineEnd, Fnv1a(line, c.postedHash));
        }
        if (line != ".") return;
        c.posting = c.signature = false;
        return Queue(c, PostedReply(c.postedBytes, c.postedHash));
    }
    Command cmd = ParseCommand(line);
    switch (cmd.verb) {
        case Verb::kPost:
            c.posting = true;
            c.postedBytes = 0;
            c.postedHash = Fnv1a({});
            return Queue(c, std::string(kSendArticle));
        case Verb::kOverview:
            Queue(c, std::string(kOverviewHead));
            QueueView(c, OverviewBody(Overview(), cmd));
            return QueueView(c, kTerminator);
        case Verb::kStat:
            return Queue(c, std::string(kStatReply));
        case Verb::kQuit:
            c.closeWhenSent = true;
            return Queue(c, std::string(kBye));
        case Verb::kUnknown:
            return Queue(c, std::string(kUnknownReply));
        default:
            break;
    }
    Queue(c, ReplyHead(cmd));
    QueueView(c, ReplyBody(m_pattern, cmd));
    QueueView(c, kTerminator);
}

void Upstream::Queue(Connection& c, std::string text) {
    c.output.emplace_back();
    c.output.back().owned = std::move(text);
    c.output.back().view = c.output.back().owned;
}

void Upstream::QueueView(Connection& c, std::string_view view) {
    c.output.emplace_back();
    c.output.back().view = view;
}

bool Upstream::Flush(Connection& c) {
    while (!c.output.empty()) {
        iovec iov[8];
        int count = 0;
        for (auto it = c.output.begin(); it != c.output.end() && count < 8; ++it, ++count) {
            std::string_view rest = it->Rest();
            iov[count].iov_base = const_cast<char*>(rest.data());
            iov[count].iov_len = rest.size();
        }
        ssize_t sent = ::writev(c.fd, iov, count);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EINTR) break;
            return false;
        }
        auto left = static_cast<size_t>(sent);
        while (!c.output.empty() && left >= c.output.front().Rest().size()) {
            left -= c.output.front().Rest().size();
            c.output.pop_front();
        }
        if (left > 0) c.output.front().done += left;
    }
    if (c.output.empty() && c.closeWhenSent) return false;
    SetWriteInterest(c, !c.output.empty());
    return true;
}

void Upstream::SetWriteInterest(Connection& c, bool on) {
    if (c.wantWrite == on) return;
    c.wantWrite = on;
    epoll_event ev{};
    ev.events = EPOLLIN | (on ? EPOLLOUT : 0u);
    ev.data.fd = c.fd;
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, c.fd, &ev);
}

void Upstream::Drop(int fd) {
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    m_connections.erase(fd);
}

}  // namespace
}  // namespace sitowiak::bench

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PORT SECONDS\n", argv[0]);
        return 2;
    }
    std::signal(SIGTERM, sitowiak::bench::OnSignal);
    std::signal(SIGINT, sitowiak::bench::OnSignal);
    std::signal(SIGPIPE, SIG_IGN);
    static const std::string pattern = sitowiak::bench::MakePattern();
    sitowiak::bench::Upstream upstream(pattern);
    std::printf("%d\n", upstream.Listen(std::atoi(argv[1])));
    std::fflush(stdout);
    upstream.Run(std::atoi(argv[2]));
    return 0;
}

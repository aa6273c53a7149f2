// The least a relay that reads the bytes can do: one epoll loop, for each
// reader a connection to the upstream, and what one side sends read into a
// 64 KB buffer and written to the other. No parsing, no queue, no logging.
// floor.sh puts it beside haproxy and Sitowiak, so that a figure shows how
// far any relay on the same system calls could get on this machine.
//
// usage: bench_proxy_floor LISTEN_PORT UPSTREAM_PORT
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr size_t kRoom = 64 * 1024;

// One direction's source: its socket, the buffer of what it sent that its
// peer has not taken yet, and the peer.
struct Side {
    int fd = -1;
    Side* peer = nullptr;
    std::vector<char> buffer = std::vector<char>(kRoom);
    size_t pending = 0;  // bytes of buffer not yet written to the peer
    size_t offset = 0;   // where they start
};

int g_epoll = -1;
// Pairs closed in this batch of events: freed after it, since a later event
// of the batch may still name them.
std::vector<std::unique_ptr<Side>> g_closed;

void Watch(Side& side, uint32_t events, int op = EPOLL_CTL_MOD) {
    epoll_event event{};
    event.events = events;
    event.data.ptr = &side;
    ::epoll_ctl(g_epoll, op, side.fd, &event);
}

void SetNoDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void ClosePair(Side* side) {
    for (Side* s : {side, side->peer}) {
        ::close(s->fd);
        s->fd = -1;
        g_closed.emplace_back(s);
    }
}

// Writes what `source` holds to its peer. Returns false when the pair has
// failed. What the peer does not take waits: the source is not read until
// the peer is writable and has taken it.
bool Flush(Side& source) {
    while (source.pending > 0) {
        ssize_t n = ::send(source.peer->fd, source.buffer.data() + source.offset, source.pending,
                           MSG_NOSIGNAL);
        if (n < 0) {
            if (errno != EAGAIN) return false;
            Watch(source, 0);
            Watch(*source.peer, EPOLLOUT);
            return true;
        }
        source.offset += static_cast<size_t>(n);
        source.pending -= static_cast<size_t>(n);
    }
    return true;
}

void Accept(int listener, int upstreamPort) {
    for (;;) {
        int reader = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
        if (reader < 0) return;
        int upstream = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to = Loopback(upstreamPort);
        if (upstream < 0 || ::connect(upstream, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            ::close(reader);
            if (upstream >= 0) ::close(upstream);
            continue;
        }
        ::fcntl(upstream, F_SETFL, O_NONBLOCK);
        SetNoDelay(reader);
        SetNoDelay(upstream);
        auto* a = new Side;
        auto* b = new Side;
        a->fd = reader;
        b->fd = upstream;
        a->peer = b;
        b->peer = a;
        Watch(*a, EPOLLIN, EPOLL_CTL_ADD);
        Watch(*b, EPOLLIN, EPOLL_CTL_ADD);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s LISTEN_PORT UPSTREAM_PORT\n", argv[0]);
        return 2;
    }
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in at = Loopback(std::atoi(argv[1]));
    if (::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(listener, 1024) != 0) {
        std::perror("bench_proxy_floor: listen");
        return 1;
    }
    const int upstreamPort = std::atoi(argv[2]);
    g_epoll = ::epoll_create1(0);
    epoll_event listen{};
    listen.events = EPOLLIN;
    listen.data.ptr = nullptr;
    ::epoll_ctl(g_epoll, EPOLL_CTL_ADD, listener, &listen);
    epoll_event events[256];
    for (;;) {
        int n = ::epoll_wait(g_epoll, events, 256, -1);
        for (int i = 0; i < n; ++i) {
            auto* side = static_cast<Side*>(events[i].data.ptr);
            if (side == nullptr) {
                Accept(listener, upstreamPort);
                continue;
            }
            if (side->fd < 0) continue;
            if (events[i].events & EPOLLOUT) {
                // The peer of this side had data waiting for it.
                Side& source = *side->peer;
                if (!Flush(source)) {
                    ClosePair(side);
                } else if (source.pending == 0) {
                    Watch(*side, EPOLLIN);
                    Watch(source, EPOLLIN);
                }
                continue;
            }
            ssize_t got = ::recv(side->fd, side->buffer.data(), kRoom, 0);
            if (got < 0 && errno == EAGAIN) continue;
            if (got <= 0) {
                ClosePair(side);
                continue;
            }
            side->offset = 0;
            side->pending = static_cast<size_t>(got);
            if (!Flush(*side)) ClosePair(side);
        }
        g_closed.clear();
    }
}

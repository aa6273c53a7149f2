// Socket library benchmarks; prints each figure beside its baseline and the
// ratio, measured in one run:
//   1. bulk transfer TWSocket -> TWSocketClient over loopback against two
//      plain blocking sockets copying the same bytes in the same chunks
//      (both on one thread, as the proxy runs);
//   2. round-trip time of one client while 1 000 clients are connected to a
//      TWSocketServer, against the time with 1 client, and the time per
//      client of one round trip on every one of the 1 000;
//   3. bulk transfer from a TWSocket with TLS to an OpenSSL server thread,
//      against the same TWSocket sending plain to a plain reader thread.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <thread>

#include <QCoreApplication>

#include "net/TWSocket.h"
#include "net/TWSocketServer.h"
#include "net/tests/TestPki.h"

using namespace sitowiak::net;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kChunk = 64 * 1024;
constexpr long long kBulkBytes = 256LL << 20;  // per side and round
// Rounds alternate between the two sides; the best round of each counts, so
// that load from other processes shows less in the ratio.
constexpr int kBulkRounds = 5;
constexpr int kManyClients = 1000;
constexpr int kRoundTrips = 2000;
constexpr long long kTlsBytes = 128LL << 20;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void Pump() {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

int PlainConnect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::perror("connect");
    return fd;
}

int PlainListen(int* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, SOMAXCONN);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

// Two blocking sockets: write a chunk, read it back, repeat.
double PlainBulk() {
    int port = 0;
    const int listener = PlainListen(&port);
    const int writer = PlainConnect(port);
    const int reader = ::accept(listener, nullptr, nullptr);
    std::vector<char> out(kChunk, 'x'), in(kChunk);
    const auto start = Clock::now();
    for (long long done = 0; done < kBulkBytes; done += kChunk) {
        for (int sent = 0; sent < kChunk;)
            sent += static_cast<int>(::send(writer, out.data() + sent, kChunk - sent, 0));
        for (int got = 0; got < kChunk;)
            got += static_cast<int>(::recv(reader, in.data(), kChunk - got, 0));
    }
    const double s = Seconds(start);
    ::close(writer);
    ::close(reader);
    ::close(listener);
    return kBulkBytes / s;
}

// TWSocket sends a chunk whenever its queue has drained; the accepted
// TWSocketClient reads whatever arrives.
double SocketBulk() {
    TWSocketServer server;
    server.SetBanner("");
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    long long received = 0;
    // The receiver reads whatever has arrived.
    std::vector<char> in(4 * kChunk);
    server.OnClientConnect = [&](TCustomWSocketServer*, TWSocketClient* c, std::uint16_t) {
        c->OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
            const int n = s->Receive(in.data(), static_cast<int>(in.size()));
            if (n > 0) received += n;
        };
    };
    server.Listen();
    sockaddr_in bound{};
    server.GetSockName(bound);
    TWSocket sender;
    sender.SetAddr("127.0.0.1");
    sender.SetPort(std::to_string(ntohs(bound.sin_port)));
    std::vector<char> out(kChunk, 'x');
    long long queued = 0;
    auto sendMore = [&] {
        if (queued < kBulkBytes) {
            sender.Send(out.data(), kChunk);
            queued += kChunk;
        }
    };
    sender.OnSessionConnected = [&](TCustomWSocket*, std::uint16_t) {};
    sender.OnDataSent = [&](TCustomWSocket*, std::uint16_t) { sendMore(); };
    sender.Connect();
    while (server.ClientCount() == 0 || sender.State() != wsConnected) Pump();
    const auto start = Clock::now();
    sendMore();
    while (received < kBulkBytes) Pump();
    return kBulkBytes / Seconds(start);
}

struct EchoServer {
    TWSocketServer server;
    long long echoed = 0;
    char buf[256];
    int port = 0;
    EchoServer() {
        server.SetBanner("");
        server.SetAddr("127.0.0.1");
        server.SetPort("0");
        server.OnClientConnect = [this](TCustomWSocketServer*, TWSocketClient* c, std::uint16_t) {
            c->OnDataAvailable = [this](TCustomWSocket* s, std::uint16_t) {
                const int n = s->Receive(buf, sizeof buf);
                if (n > 0) {
                    s->Send(buf, n);
                    ++echoed;
                }
            };
        };
        server.Listen();
        sockaddr_in bound{};
        server.GetSockName(bound);
        port = ntohs(bound.sin_port);
    }
    std::vector<int> Connect(int n) {
        std::vector<int> fds;
        for (int i = 0; i < n; ++i) {
            fds.push_back(PlainConnect(port));
            if (i % 100 == 99)
                while (server.ClientCount() < i + 1) Pump();
        }
        while (server.ClientCount() < n) Pump();
        return fds;
    }
    // One ping on fd, the event loop runs until it is echoed, then read.
    void RoundTrip(int fd) {
        const long long before = echoed;
        ::send(fd, "ping\r\n", 6, 0);
        while (echoed == before) Pump();
        char in[16];
        for (int got = 0; got < 6;) got += static_cast<int>(::recv(fd, in, sizeof in, 0));
    }
};

double SecondsPerRoundTrip(EchoServer& echo, int fd) {
    for (int i = 0; i < 100; ++i) echo.RoundTrip(fd);  // warm up
    const auto start = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i) echo.RoundTrip(fd);
    return Seconds(start) / kRoundTrips;
}

void RaiseFdLimit() {
    rlimit lim{};
    ::getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &lim);
}

void Bulk() {
    double plain = 0, ours = 0;
    for (int round = 0; round < kBulkRounds; ++round) {
        plain = std::max(plain, PlainBulk());
        ours = std::max(ours, SocketBulk());
    }
    std::printf(
        "bulk transfer: TWSocket->TWSocketClient %.0f MB/s, plain blocking sockets %.0f MB/s, "
        "ratio %.2f (target >= 0.70)\n",
        ours / 1e6, plain / 1e6, ours / plain);
}

void Clients() {
    double one = 0, many = 0, perClient = 0;
    {
        EchoServer echo;
        std::vector<int> fds = echo.Connect(1);
        one = SecondsPerRoundTrip(echo, fds[0]);
        for (int fd : fds) ::close(fd);
    }
    {
        EchoServer echo;
        std::vector<int> fds = echo.Connect(kManyClients);
        many = SecondsPerRoundTrip(echo, fds[kManyClients / 2]);
        const auto start = Clock::now();
        for (int fd : fds) ::send(fd, "ping\r\n", 6, 0);
        while (echo.echoed < kRoundTrips + 100 + kManyClients) Pump();
        perClient = Seconds(start) / kManyClients;
        for (int fd : fds) ::close(fd);
    }
    std::printf(
        "round trip: %.1f us with %d clients connected, %.1f us with 1, ratio %.2f; "
        "one round trip on each of the %d: %.1f us per client\n",
        many * 1e6, kManyClients, one * 1e6, many / one, kManyClients, perClient * 1e6);
}

// A reader thread takes kTlsBytes (through TLS when ctx is set), then
// answers one byte; the TWSocket sends a chunk whenever its queue drains.
double SenderBulk(SSL_CTX* ctx, const std::string& fingerprint) {
    int port = 0;
    const int listener = PlainListen(&port);
    std::thread reader([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        SSL* ssl = nullptr;
        if (ctx != nullptr) {
            ssl = SSL_new(ctx);
            SSL_set_fd(ssl, fd);
            SSL_accept(ssl);
        }
        std::vector<char> in(kChunk);
        for (long long got = 0; got < kTlsBytes;) {
            const int n = ssl != nullptr ? SSL_read(ssl, in.data(), kChunk)
                                         : static_cast<int>(::recv(fd, in.data(), kChunk, 0));
            if (n <= 0) break;
            got += n;
        }
        if (ssl != nullptr)
            SSL_write(ssl, "k", 1);
        else
            ::send(fd, "k", 1, 0);
        SSL_free(ssl);
        ::close(fd);
    });
    TWSocket sender;
    sender.SetAddr("127.0.0.1");
    sender.SetPort(std::to_string(port));
    if (ctx != nullptr) {
        sender.SetTlsImplicit(true);
        sender.SetTlsFingerprint(fingerprint);
    }
    std::vector<char> out(kChunk, 'x');
    long long queued = 0;
    bool done = false, connected = false;
    auto sendMore = [&] {
        if (queued < kTlsBytes) {
            sender.Send(out.data(), kChunk);
            queued += kChunk;
        }
    };
    sender.OnSessionConnected = [&](TCustomWSocket*, std::uint16_t) { connected = true; };
    sender.OnDataSent = [&](TCustomWSocket*, std::uint16_t) { sendMore(); };
    sender.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        done = !s->ReceiveStr().empty() || done;
    };
    sender.Connect();
    while (!connected) Pump();
    const auto start = Clock::now();
    sendMore();
    while (!done) Pump();
    const double rate = kTlsBytes / Seconds(start);
    reader.join();
    ::close(listener);
    return rate;
}

void Tls() {
    test::Identity id;
    test::MakeIdentity(id, "localhost", "DNS:localhost", nullptr);
    test::ServerCtx ctx(id);
    double plain = 0, tls = 0;
    for (int round = 0; round < 3; ++round) {
        plain = std::max(plain, SenderBulk(nullptr, ""));
        tls = std::max(tls, SenderBulk(ctx.ctx, id.Fingerprint()));
    }
    std::printf("TLS bulk: TWSocket with TLS %.0f MB/s, without %.0f MB/s, ratio %.2f\n", tls / 1e6,
                plain / 1e6, tls / plain);
}

}  // namespace

// Arguments: "bulk", "clients" or "tls" runs only that part.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    RaiseFdLimit();
    const std::string only = argc > 1 ? argv[1] : "";
    if (only.empty() || only == "bulk") Bulk();
    if (only.empty() || only == "clients") Clients();
    if (only.empty() || only == "tls") Tls();
    return 0;
}

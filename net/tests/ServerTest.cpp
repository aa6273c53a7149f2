// The listening server: accepting, greeting and turning away, the life of
// each client object, names, and the descriptors it leaves behind.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <malloc.h>

#include <fstream>
#include <memory>

#include "net/TWSocketServer.h"
#include "net/tests/ConnectedPair.h"

namespace sitowiak::net {
namespace {

using Log = std::vector<std::string>;

struct Server {
    TWSocketServer server;
    int port = 0;
    Log log;

    Server() {
        test::EnsureApp();
        server.SetName("WSocketServer");
        server.SetAddr("127.0.0.1");
        port = test::FreePort();
        server.SetPort(std::to_string(port));
    }
    void Listen() {
        server.Listen();
        EXPECT_EQ(server.State(), wsListening);
    }
    // Connects n plain clients and waits until the server has them all.
    std::vector<int> Connect(int n) {
        std::vector<int> fds;
        for (int i = 0; i < n; ++i) fds.push_back(test::ConnectLoopback(port));
        return fds;
    }
    void WaitForClients(int count) {
        test::RunUntil([&] { return server.ClientCount() == count; });
    }
};

TEST(ServerTest, BannersAndTheClientLimit) {
    Server s;
    s.server.SetMaxClients(2);
    int created = 0;
    s.server.OnClientCreate = [&](TCustomWSocketServer*, TWSocketClient*) { ++created; };
    s.Listen();
    std::vector<int> fds;
    for (int i = 0; i < 3; ++i) {
        fds.push_back(test::ConnectLoopback(s.port));
        test::RunUntil([&] { return created == i + 1; });
    }
    EXPECT_EQ(test::ReadExactly(fds[0], 19), "Welcome to TcpSrv\r\n");
    EXPECT_EQ(test::ReadExactly(fds[1], 19), "Welcome to TcpSrv\r\n");
    EXPECT_EQ(test::ReadToEnd(fds[2]), "Sorry, too many clients\r\n");
    s.WaitForClients(2);  // the turned-away client is gone again
    for (int fd : fds) test::CloseFd(fd);
    s.WaitForClients(0);
}

TEST(ServerTest, EmptyBannersSendNothingAlsoToTurnedAwayClients) {
    Server s;
    s.server.SetBanner("");
    s.server.SetBannerToBusy("");
    s.server.SetMaxClients(1);
    s.Listen();
    const int first = test::ConnectLoopback(s.port);
    s.WaitForClients(1);
    int disconnects = 0;
    s.server.OnClientDisconnect = [&](TCustomWSocketServer*, TWSocketClient*, std::uint16_t) {
        ++disconnects;
    };
    const int second = test::ConnectLoopback(s.port);
    test::RunUntil([&] { return disconnects == 1; });  // turned away
    EXPECT_EQ(test::ReadToEnd(second), "");
    s.server.Clients(0)->Close();
    test::RunUntil([&] { return disconnects == 2; });
    EXPECT_EQ(test::ReadToEnd(first), "");
    test::CloseFd(first);
    test::CloseFd(second);
}

TEST(ServerTest, EventsPerConnectionInOrderAndNames) {
    Server s;
    TCustomWSocketServer* srv = &s.server;
    srv->OnSessionAvailable = [&](TCustomWSocket*, std::uint16_t e) {
        s.log.push_back("available " + std::to_string(e));
    };
    srv->OnClientCreate = [&](TCustomWSocketServer*, TWSocketClient* c) {
        s.log.push_back("create");
        c->OnChangeState = [&](TCustomWSocket*, TSocketState, TSocketState n) {
            s.log.push_back(std::string("client ") + test::StateName(n));
        };
    };
    srv->OnClientConnect = [&](TCustomWSocketServer*, TWSocketClient* c, std::uint16_t e) {
        s.log.push_back("connect " + c->Name() + " " + std::to_string(e) + " " + c->PeerAddr());
    };
    s.Listen();
    for (int i = 0; i < 3; ++i) {
        const int fd = test::ConnectLoopback(s.port);
        s.WaitForClients(1);
        test::CloseFd(fd);
        s.WaitForClients(0);
    }
    s.log.clear();
    const int fd = test::ConnectLoopback(s.port);
    s.WaitForClients(1);
    EXPECT_EQ(s.log, (Log{"available 0", "create", "client connected",
                          "connect WSocketServerClient4 0 127.0.0.1"}));
    EXPECT_EQ(srv->Clients(-1), nullptr);
    EXPECT_EQ(srv->Clients(1), nullptr);
    test::CloseFd(fd);
}

TEST(ServerTest, ClientClosedInConnectHandlerGetsNoBanner) {
    Server s;
    bool gone = false;
    s.server.OnClientConnect = [](TCustomWSocketServer*, TWSocketClient* c, std::uint16_t) {
        c->Close();
    };
    s.server.OnClientDisconnect = [&](TCustomWSocketServer*, TWSocketClient*, std::uint16_t) {
        gone = true;
    };
    s.Listen();
    const int fd = test::ConnectLoopback(s.port);
    test::RunUntil([&] { return gone; });
    EXPECT_EQ(test::ReadToEnd(fd), "");
    EXPECT_EQ(s.server.ClientCount(), 0);
    test::CloseFd(fd);
}

// Regression: "client closed from inside its own data handler".
TEST(ServerTest, DisconnectComesOnceAfterTheHandlerThatClosed) {
    Server s;
    int disconnects = 0;
    s.server.OnClientConnect = [&](TCustomWSocketServer*, TWSocketClient* c, std::uint16_t) {
        c->OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) { s.log.push_back("closed"); };
        c->OnDataAvailable = [&](TCustomWSocket* sender, std::uint16_t) {
            if (sender->ReceiveStr() == "bye") {
                sender->Close();
                s.log.push_back("handler returns");
            }
        };
    };
    s.server.OnClientDisconnect = [&](TCustomWSocketServer* srv, TWSocketClient* c,
                                      std::uint16_t e) {
        ++disconnects;
        s.log.push_back("disconnect " + std::to_string(e) + " count " +
                        std::to_string(srv->ClientCount()) + " " + c->PeerAddr());
    };
    s.Listen();
    const int byServer = test::ConnectLoopback(s.port);
    const int byPeer = test::ConnectLoopback(s.port);
    s.WaitForClients(2);
    test::SendAll(byServer, "bye");
    test::RunUntil([&] { return disconnects == 1; });
    EXPECT_EQ(s.log, (Log{"closed", "handler returns", "disconnect 0 count 2 127.0.0.1"}));
    s.log.clear();
    test::CloseFd(byPeer);
    test::RunUntil([&] { return disconnects == 2; });
    test::Drain();
    EXPECT_EQ(s.log, (Log{"closed", "disconnect 0 count 1 127.0.0.1"}));
    EXPECT_EQ(s.server.ClientCount(), 0);
    test::CloseFd(byServer);
}

struct CountedClient : TWSocketClient {
    static inline int live = 0;
    explicit CountedClient(TCustomWSocket* owner) : TWSocketClient(owner) { ++live; }
    ~CountedClient() override { --live; }
};

TEST(ServerTest, ClientTypeMakesDerivedClientsAndTheServerDestroysThem) {
    auto s = std::make_unique<Server>();
    s->server.SetClientType(TCustomWSocketServer::ClientTypeOf<CountedClient>());
    bool derived = false;
    s->server.OnClientConnect = [&](TCustomWSocketServer*, TWSocketClient* c, std::uint16_t) {
        derived = dynamic_cast<CountedClient*>(c) != nullptr;
        EXPECT_EQ(c->Owner(), &s->server);
    };
    s->Listen();
    std::vector<int> fds = s->Connect(3);
    s->WaitForClients(3);
    EXPECT_TRUE(derived);
    EXPECT_EQ(CountedClient::live, 3);
    s.reset();  // the server's destruction takes its clients with it
    EXPECT_EQ(CountedClient::live, 0);
    for (int fd : fds) test::CloseFd(fd);
}

TEST(ServerTest, PortInUseReportsTheBindErrorAndKeepsNoDescriptor) {
    Server first;
    first.Listen();
    TWSocketServer second;
    second.SetAddr("127.0.0.1");
    second.SetPort(std::to_string(first.port));
    const int fdsBefore = test::OpenFdCount();
    EXPECT_EQ(test::MessageOf([&] { second.Listen(); }),
              "Error 10048 in function Bind\r\nAddress already in use");
    EXPECT_EQ(second.State(), wsClosed);
    EXPECT_EQ(test::OpenFdCount(), fdsBefore);
}

int SystemBacklogLimit() {
    std::ifstream in("/proc/sys/net/core/somaxconn");
    int limit = 0;
    in >> limit;
    return limit;
}

TEST(ServerTest, ListenUsesThePlatformBacklogSoABurstIsServed) {
    Server s;
    s.Listen();
    tcp_info info{};
    socklen_t len = sizeof info;
    ASSERT_EQ(::getsockopt(s.server.Handle(), IPPROTO_TCP, TCP_INFO, &info, &len), 0);
    // For a listening socket the kernel reports its accept-queue limit here.
    EXPECT_EQ(static_cast<int>(info.tcpi_sacked), std::min(SOMAXCONN, SystemBacklogLimit()));
    // A burst of connects before the server runs at all: every one greeted.
    std::vector<int> fds = s.Connect(100);
    s.WaitForClients(100);
    for (int fd : fds) EXPECT_EQ(test::ReadExactly(fd, 19), "Welcome to TcpSrv\r\n");
    for (int fd : fds) test::CloseFd(fd);
    s.WaitForClients(0);
}

// Connections that wait together are taken several per readiness report;
// each is still announced before its client is made, and a handler that
// stops the listening ends the taking at once.
TEST(ServerTest, ABurstIsAnnouncedPerConnectionAndStopsWhenListeningEnds) {
    Server s;
    s.server.SetBanner("");
    int connects = 0;
    s.server.OnSessionAvailable = [&](TCustomWSocket*, std::uint16_t e) {
        s.log.push_back("available " + std::to_string(e));
    };
    s.server.OnClientCreate = [&](TCustomWSocketServer*, TWSocketClient*) {
        s.log.push_back("create");
    };
    s.server.OnClientConnect = [&](TCustomWSocketServer* server, TWSocketClient*, std::uint16_t) {
        s.log.push_back("connect");
        if (++connects == 30) server->Close();
    };
    s.Listen();
    std::vector<int> fds = s.Connect(40);
    test::RunUntil([&] { return connects == 30; });
    test::Drain();
    EXPECT_EQ(connects, 30);
    EXPECT_EQ(s.server.State(), wsClosed);
    ASSERT_EQ(s.log.size(), 90u);
    for (size_t i = 0; i < s.log.size(); i += 3)
        EXPECT_EQ((Log{s.log[i], s.log[i + 1], s.log[i + 2]}),
                  (Log{"available 0", "create", "connect"}))
            << i;
    for (int fd : fds) test::CloseFd(fd);
}

TEST(ServerTest, TenThousandConnectionsLeaveNoDescriptorOrSocketBehind) {
    Server s;
    s.server.SetBanner("");
    s.Listen();
    auto cycle = [&] {
        std::vector<int> fds = s.Connect(100);
        s.WaitForClients(100);
        for (int fd : fds) test::CloseFd(fd);
        s.WaitForClients(0);
    };
    cycle();  // let every cache reach its working size first
    test::Drain();
    const int fdsBefore = test::OpenFdCount();
    const int socketsBefore = winsock::SocketObjectCount();
    [[maybe_unused]] const std::size_t heapBefore = ::mallinfo2().uordblks;
    for (int batch = 0; batch < 100; ++batch) {
        cycle();
    }
    test::Drain();
    EXPECT_EQ(test::OpenFdCount(), fdsBefore);
    EXPECT_EQ(winsock::SocketObjectCount(), socketsBefore);
    // Memory stays flat: a leak of even 10 bytes a connection would show.
    // (Under AddressSanitizer the heap is its own; its leak check covers it.)
    [[maybe_unused]] const std::size_t heapAfter = ::mallinfo2().uordblks;
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LT(heapAfter, heapBefore + 100000);
#endif
}

}  // namespace
}  // namespace sitowiak::net

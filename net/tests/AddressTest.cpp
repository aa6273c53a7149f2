// IPv6 and IPv4 side by side: the texts of addresses, the dual-stack
// listener, and connections that try a list of addresses in turn.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>


#include "net/TWSocketServer.h"
#include "net/WSocketResolve.h"
#include "net/tests/ConnectedPair.h"
#include "tests/support/Ipv6Loopback.h"

namespace sitowiak::net {
namespace {

using sitowiak::testing::RequireIPv6Loopback;

// A blocking connection from the given family's loopback to port.
int ConnectFrom(int family, int port) {
    const int fd = ::socket(family, SOCK_STREAM, 0);
    sockaddr_storage a = winsock::AnyAddress(family);
    winsock::ParseAddress(family == AF_INET6 ? "::1" : "127.0.0.1", &a);
    winsock::SetAddressPort(&a, port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), winsock::AddressLength(a)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A blocking IPv6-only listener on ::1 and a free port.
int ListenIPv6Loopback(int* port) {
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    sockaddr_storage a{};
    winsock::ParseAddress("::1", &a);
    socklen_t len = winsock::AddressLength(a);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), len);
    ::listen(fd, 8);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = winsock::AddressPort(a);
    return fd;
}

std::string TextOf(const std::string& literal) {
    sockaddr_storage a{};
    if (!winsock::ParseAddress(literal, &a)) return "(not an address)";
    return winsock::AddressText(a);
}

TEST(AddressTest, LiteralsAndTheirTexts) {
    // IPv6 texts are canonical whatever was written; IPv4-mapped ones read
    // as the IPv4 address, so one reader has one text for the lists.
    EXPECT_EQ(TextOf("::1"), "::1");
    EXPECT_EQ(TextOf("[::1]"), "::1");
    EXPECT_EQ(TextOf("2001:DB8:0:0:0:0:0:1"), "2001:db8::1");
    EXPECT_EQ(TextOf("2001:db8:0:0:1:0:0:1"), "2001:db8::1:0:0:1");
    EXPECT_EQ(TextOf("::ffff:192.168.1.5"), "192.168.1.5");
    EXPECT_EQ(TextOf("[10.1.2.3]"), "10.1.2.3");
    EXPECT_EQ(TextOf("fe80::1%lo"), "fe80::1%lo");
    for (const char* no : {"localhost", "[::1", "::1]", "[]", "", "1.2.3.4x", "::g", "[[::1]]"})
        EXPECT_EQ(TextOf(no), "(not an address)") << no;

    EXPECT_EQ(winsock::AddressText(WSocketResolveHostList(" [::1] ").front()), "::1");
    EXPECT_EQ(winsock::AddressText(WSocketResolveHostList("10.0.0.1").front()), "10.0.0.1");
    EXPECT_EQ(test::MessageOf([] { WSocketResolveHostList("[::1"); }),
              "WSocketResolveHost: '[::1' Invalid IP address.");

    // An address needs no lookup, in brackets or not; its canonical text.
    test::EnsureApp();
    TWSocket s;
    std::vector<int> done;
    s.OnDnsLookupDone = [&](TCustomWSocket*, std::uint16_t e) { done.push_back(e); };
    s.DnsLookup("[2001:DB8::0:1]");
    EXPECT_EQ(done, (std::vector<int>{0}));
    EXPECT_EQ(s.DnsResult(), "2001:db8::1");
}

TEST(AddressTest, DualStackListenerNamesIPv4ReadersByTheirIPv4Text) {
    RequireIPv6Loopback();
    test::EnsureApp();
    TWSocketServer server;
    std::vector<std::string> peers;
    server.OnClientConnect = [&](TCustomWSocketServer*, TWSocketClient* c, std::uint16_t) {
        peers.push_back(c->PeerAddr());
    };
    server.SetAddr("::");
    server.SetPort("0");
    server.Listen();
    EXPECT_EQ(server.SockLocalAddr(), "::");
    const int port = std::stoi(server.SockLocalPort());
    sockaddr_in narrow{};
    ASSERT_EQ(server.GetSockName(narrow), 0);  // callers holding a sockaddr_in
    EXPECT_EQ(narrow.sin_family, AF_INET6);
    EXPECT_EQ(ntohs(narrow.sin_port), port);

    const int v4 = ConnectFrom(AF_INET, port);
    const int v6 = ConnectFrom(AF_INET6, port);
    ASSERT_GE(v4, 0);
    ASSERT_GE(v6, 0);
    test::RunUntil([&] { return peers.size() == 2; });
    EXPECT_EQ(peers, (std::vector<std::string>{"127.0.0.1", "::1"}));
    ASSERT_EQ(server.ClientCount(), 2);
    sockaddr_in mapped{};
    ASSERT_EQ(server.Clients(0)->GetPeerName(mapped), 0);
    EXPECT_EQ(mapped.sin_family, AF_INET);
    EXPECT_EQ(mapped.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    test::CloseFd(v4);
    test::CloseFd(v6);
}

struct ListClient {
    TWSocket sock;
    test::EventRecorder rec;
    ListClient(const std::vector<std::string>& addrs, int port) {
        test::EnsureApp();
        rec.Attach(sock);
        sock.OnChangeState = nullptr;
        sock.SetAddrList(addrs);
        sock.SetPort(std::to_string(port));
    }
};

TEST(AddressTest, ConnectTriesEachAddressUntilOneAnswers) {
    RequireIPv6Loopback();
    int port = 0;
    const int listener = ListenIPv6Loopback(&port);
    // 127.0.0.1 refuses (only ::1 listens on the port); 192.0.2.1 is never
    // tried.
    ListClient c({"127.0.0.1", "[::1]", "192.0.2.1"}, port);
    c.sock.Connect();
    test::RunUntil([&] { return !c.rec.log.empty(); });
    const int peer = test::AcceptBlocking(listener);
    EXPECT_EQ(c.rec.log, (std::vector<std::string>{"connected 0"}));
    EXPECT_EQ(c.sock.PeerAddr(), "::1");
    c.sock.SendStr("hello");
    EXPECT_EQ(test::ReadExactly(peer, 5), "hello");
    test::CloseFd(peer);
    test::CloseFd(listener);
}

TEST(AddressTest, WhenEveryAddressRefusesOnlyTheLastFailureIsReported) {
    RequireIPv6Loopback();
    int port = 0;
    test::CloseFd(ListenIPv6Loopback(&port));
    ListClient c({"::1", "127.0.0.1"}, port);
    c.sock.Connect();
    test::RunUntil([&] { return c.rec.Has("closed 0"); });
    EXPECT_EQ(c.rec.log, (std::vector<std::string>{"connected 10061", "closed 0"}));
    EXPECT_EQ(c.sock.State(), wsClosed);
    // The list went with the close: a new Connect needs a new address.
    c.sock.SetPort(std::to_string(port));
    EXPECT_EQ(test::MessageOf([&] { c.sock.Connect(); }), "Connect: No IP Address Specified");
}

}  // namespace
}  // namespace sitowiak::net

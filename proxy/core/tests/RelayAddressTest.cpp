// Readers over IPv6 and IPv4 on the dual-stack listener, each matched by
// its own address text, and a news server given as an IPv6 address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>


#include "proxy/core/ServerAddress.h"
#include "proxy/core/tests/RelayHarness.h"
#include "tests/support/Ipv6Loopback.h"

namespace sitowiak::testing {
namespace {

// A blocking connection to ::1 or 127.0.0.1; -1 when refused.
int ConnectLoopback(bool v6, int port) {
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a6{};
    sockaddr_in a4{};
    a6.sin6_family = AF_INET6;
    a6.sin6_addr = in6addr_loopback;
    a6.sin6_port = htons(static_cast<uint16_t>(port));
    a4.sin_family = AF_INET;
    a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a4.sin_port = htons(static_cast<uint16_t>(port));
    const int rc = v6 ? ::connect(fd, reinterpret_cast<sockaddr*>(&a6), sizeof a6)
                      : ::connect(fd, reinterpret_cast<sockaddr*>(&a4), sizeof a4);
    if (rc == 0) return fd;
    ::close(fd);
    return -1;
}

// A news server on ::1 only that greets each connection and waits for its end.
class IPv6NewsServer {
public:
    IPv6NewsServer() {
        m_fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        socklen_t len = sizeof a;
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), len);
        ::listen(m_fd, 8);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin6_port);
        m_thread = std::thread([this] {
            for (int fd; (fd = ::accept(m_fd, nullptr, nullptr)) >= 0;) {
                PeerConnection c(fd);
                c.Send("200 v6 news ready\r\n");
                bool closed = false;
                c.ReadToClose(&closed, 3000);
            }
        });
    }
    ~IPv6NewsServer() {
        ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_fd);
    }
    int Port() const { return m_port; }

private:
    int m_fd = -1, m_port = 0;
    std::thread m_thread;
};

class RelayAddressTest : public RelayTest {
protected:
    // The first line a reader from ::1 or 127.0.0.1 gets, "(closed)" when
    // the proxy closed it without a byte.
    std::string Greeting(bool v6) {
        const int port = m_proxyPort;
        auto future = std::async(std::launch::async, [port, v6] {
            const int fd = ConnectLoopback(v6, port);
            if (fd < 0) return std::string("(refused)");
            PeerConnection c(fd);
            std::string line = c.ReadLine();
            return line.empty() ? std::string("(closed)") : line;
        });
        PumpUntil([&] {
            return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
        return future.get();
    }
};

TEST_F(RelayAddressTest, ReadersOverIPv6AndIPv4AreMatchedByTheirOwnAddressText) {
    RequireIPv6Loopback();
    ScriptedServer upstream([](PeerConnection& c) {
        c.Send("200 news.test ready\r\n");
        bool closed = false;
        c.ReadToClose(&closed, 3000);
    });
    Listen(upstream);
    proxy::ProxySettings& s = m_core->Settings();

    // The write list: a reader outside it is greeted with 201. An IPv4
    // reader reaches the listener as ::ffff:127.0.0.1 but is 127.0.0.1.
    s.WriteAccess = "::1";
    EXPECT_EQ(Greeting(true), "200 news.test ready\r\n");
    EXPECT_EQ(Greeting(false), "201 news.test ready\r\n");
    s.WriteAccess = "127.0.0.1";
    EXPECT_EQ(Greeting(true), "201 news.test ready\r\n");
    EXPECT_EQ(Greeting(false), "200 news.test ready\r\n");
    s.WriteAccess = proxy::ProxySettings{}.WriteAccess;
    EXPECT_EQ(Greeting(true), "200 news.test ready\r\n");
    EXPECT_EQ(Greeting(false), "200 news.test ready\r\n");

    // The read list: "*:*" matches IPv6 texts only, "127.*" IPv4 only.
    s.WriteAccess = "";
    s.ReadAccess = "*:*";
    EXPECT_EQ(Greeting(false), "(closed)");
    EXPECT_EQ(Greeting(true), "201 news.test ready\r\n");
    s.ReadAccess = "::2;127.*";
    EXPECT_EQ(Greeting(true), "(closed)");
    EXPECT_EQ(Greeting(false), "201 news.test ready\r\n");
}

TEST_F(RelayAddressTest, AGreetingToAReaderWhoMayNotPostPromisesNoPosting) {
    // INN's own words, in any letter case; only they change, the rest of
    // the server's line stays byte for byte.
    ScriptedServer upstream([](PeerConnection& c) {
        c.Send("200 inn.test InterNetNews NNRP server INN 2.7.1 ready (Posting OK)\r\n");
        bool closed = false;
        c.ReadToClose(&closed, 3000);
    });
    Listen(upstream);
    proxy::ProxySettings& s = m_core->Settings();
    s.WriteAccess = "10.*";
    EXPECT_EQ(Greeting(false),
              "201 inn.test InterNetNews NNRP server INN 2.7.1 ready (no posting)\r\n");
    s.WriteAccess = "127.0.0.1";
    EXPECT_EQ(Greeting(false),
              "200 inn.test InterNetNews NNRP server INN 2.7.1 ready (Posting OK)\r\n");
}

TEST_F(RelayAddressTest, AnIPv6NewsServerWithOrWithoutBracketsAndPort) {
    RequireIPv6Loopback();
    IPv6NewsServer news;
    int closedPort;
    {
        IPv6NewsServer gone;
        closedPort = gone.Port();
    }
    Listen(closedPort);
    proxy::ProxySettings& s = m_core->Settings();
    // Nothing listens: the failure line shows the address in brackets, so
    // its port stays readable.
    s.Address = "::1";
    bool closed = false;
    auto got = Reader([&](PeerConnection& c) { return c.ReadToClose(&closed); });
    EXPECT_EQ(got, "400 Brak połączenia z serwerem grup [::1]:" + std::to_string(closedPort) +
                       ": serwer odmówił połączenia\r\n");

    for (const std::string& address :
         {std::string("[::1]"), std::string("::1"), "[::1]:" + std::to_string(news.Port())}) {
        s.Address = address;
        s.RemotePort = address.ends_with("]") || address == "::1" ? std::to_string(news.Port())
                                                                   : std::to_string(closedPort);
        got = Reader([](PeerConnection& c) { return c.ReadLine(); });
        EXPECT_EQ(got, "200 v6 news ready\r\n") << address;
    }
}

TEST(ServerAddressTest, HostAndPortFromTheSettings) {
    using proxy::ParseServerAddress;
    struct Case {
        const char *address, *host, *port, *text;
    } cases[] = {
        {"news.example", "news.example", "nntp", "news.example:nntp"},
        {" news.example ", "news.example", "nntp", "news.example:nntp"},
        {"news.example:563", "news.example", "563", "news.example:563"},
        {"10.0.0.1:119", "10.0.0.1", "119", "10.0.0.1:119"},
        {"::1", "::1", "nntp", "[::1]:nntp"},
        {"2001:db8::1:119", "2001:db8::1:119", "nntp", "[2001:db8::1:119]:nntp"},
        {"[::1]", "::1", "nntp", "[::1]:nntp"},
        {"[2001:db8::1]:119", "2001:db8::1", "119", "[2001:db8::1]:119"},
        {"[::1]:", "::1", "nntp", "[::1]:nntp"},
        {"news.example:", "news.example", "nntp", "news.example:nntp"},
        // Odd texts stay whole, for the lookup to refuse.
        {"[::1", "[::1", "nntp", "[[::1]:nntp"},
        {"[::1]x", "[::1]x", "nntp", "[[::1]x]:nntp"},
        {"", "", "nntp", ":nntp"},
    };
    for (const Case& c : cases) {
        const proxy::ServerAddress a = ParseServerAddress(c.address, "nntp");
        EXPECT_EQ(a.Host, c.host) << c.address;
        EXPECT_EQ(a.Port, c.port) << c.address;
        EXPECT_EQ(a.Text(), c.text) << c.address;
    }
}

}  // namespace
}  // namespace sitowiak::testing

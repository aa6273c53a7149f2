// The relay's way to the news server through a SOCKS server: a real danted
// from tests/servers between the proxy and a scripted news server, in every
// SOCKS level, with and without user name and password, and the 400 lines
// of every way it fails.
#include <algorithm>
#include <atomic>
#include <chrono>

#include "proxy/core/tests/DantedServer.h"
#include "proxy/core/tests/RelayHarness.h"

namespace sitowiak::testing {
namespace {

constexpr const char* kGreeting = "200 news.test ready\r\n";

// Greets, then answers one command line with "211 " and the line.
void GreetAndEcho(PeerConnection& c) {
    c.Send(kGreeting);
    std::string line = c.ReadLine(10000);
    if (line.ends_with("\r\n")) c.Send("211 " + line);
}

class RelaySocksTest : public RelayTest {
protected:
    RelaySocksTest() {
        m_core->Settings().Logowanie = true;
        m_core->Settings().Address = "localhost";
    }

    // Everything a reader gets, and whether the proxy closed it.
    std::string AllUntilClosed() {
        return Reader(
            [](PeerConnection& r) {
                bool closed = false;
                std::string all = r.ReadToClose(&closed, 15000);
                return all + (closed ? "<closed>" : "<open>");
            },
            20000);
    }
    std::string FailureLine(int port, const std::string& reason) {
        return "400 Brak połączenia z serwerem grup " + m_core->Settings().Address + ":" +
               std::to_string(port) + ": " + reason + "\r\n<closed>";
    }
    bool Logged(const std::string& part) {
        return std::any_of(m_log.entries.begin(), m_log.entries.end(), [&](const LoggedEntry& e) {
            return e.text.find(part) != std::string::npos;
        });
    }
    void StopListening() {
        m_core->SetListening(false);
        Pump(100);
    }
};

// Both levels danted speaks reach the server named "localhost". With 5
// danted gets the name itself (its log shows it); with 4 the proxy looks it
// up and danted gets the address, and the proxy's log says so.
TEST_F(RelaySocksTest, Levels5And4ReachTheNewsServerAndOnly4LooksTheNameUp) {
    DantedServer danted("none");
    ASSERT_TRUE(danted.up) << "danted did not start:\n" << danted.output;
    ScriptedServer news(GreetAndEcho);
    const std::string port = std::to_string(news.Port());
    m_core->Settings().SocksSerwer = danted.Address();
    struct Case {
        const char* level;
        std::string destination;  // as danted's log shows the request
    } cases[] = {{"", "ATYP: 3 address: localhost." + port},
                 {"4", "VER: 4 CMD: 1 address: 127.0.0.1." + port + " "}};
    for (const Case& k : cases) {
        m_core->Settings().SocksPoziom = k.level;
        m_log.entries.clear();
        const size_t logged = danted.Log().size();
        Listen(news.Port());
        EXPECT_EQ(GreetingAndDate(), std::string(kGreeting) + "211 DATE\r\n") << k.level;
        StopListening();
        const std::string newLog = danted.Log().substr(logged);
        EXPECT_NE(newLog.find("pass(2): tcp/connect [: "), std::string::npos) << newLog;
        EXPECT_NE(newLog.find(k.destination), std::string::npos)
            << k.level << " (not in danted's log):\n"
            << newLog;
        EXPECT_EQ(Logged("SOCKS 4: nazwa localhost ustalona na tym komputerze jako 127.0.0.1"),
                  std::string(k.level) == "4")
            << k.level;
    }
    EXPECT_EQ(news.Connections(), 2);
}

// danted does not speak SOCKS 4A: a scripted one checks the request's bytes
// (the name after an empty user code), grants it and plays the news server.
TEST_F(RelaySocksTest, Level4ASendsTheNameUnresolved) {
    std::string request;
    ScriptedServer socks([&](PeerConnection& c) {
        request = c.ReadCount(19, 5000);
        c.Send(std::string("\0\x5a\0\0\0\0\0\0", 8));
        GreetAndEcho(c);
    });
    m_core->Settings().SocksSerwer = "127.0.0.1:" + std::to_string(socks.Port());
    m_core->Settings().SocksPoziom = "4A";
    Listen(119);
    EXPECT_EQ(GreetingAndDate(), std::string(kGreeting) + "211 DATE\r\n");
    EXPECT_EQ(request, std::string("\x04\x01\0\x77\0\0\0\x01\0localhost\0", 19));
    EXPECT_FALSE(Logged("SOCKS 4: nazwa"));
    StopListening();
}

// User name and password: the right ones reach the server; wrong ones, or
// none, give the reader one 400 line that names the SOCKS server and why.
TEST_F(RelaySocksTest, UserAndPasswordAreCheckedAndTheirFailureIsTold) {
    DantedServer danted("userpass");
    ASSERT_TRUE(danted.up) << "danted did not start:\n" << danted.output;
    ScriptedServer news(GreetAndEcho);
    proxy::ProxySettings& s = m_core->Settings();
    s.SocksSerwer = " " + danted.Address() + " ";
    s.SocksUzytkownik = "sockstest";
    s.SocksHaslo = "sockspass";
    Listen(news.Port());
    EXPECT_EQ(GreetingAndDate(), std::string(kGreeting) + "211 DATE\r\n");
    const std::string socks = "serwer SOCKS " + danted.Address();
    s.SocksHaslo = "wrong";
    EXPECT_EQ(AllUntilClosed(),
              FailureLine(news.Port(), socks + ": uwierzytelnienie nie powiodło się "
                                               "(SocksUzytkownik, SocksHaslo)"));
    EXPECT_TRUE(Logged(socks + ": uwierzytelnienie nie powiodło się"));
    s.SocksUzytkownik.clear();
    s.SocksHaslo.clear();
    EXPECT_EQ(
        AllUntilClosed(),
        FailureLine(news.Port(), socks + " wymaga uwierzytelnienia (SocksUzytkownik, SocksHaslo)"));
    StopListening();
    EXPECT_EQ(news.Connections(), 1);
}

// A destination danted's rules deny (127.0.0.2), a SOCKS port nobody
// listens on, and a SOCKS server that takes the connection and says
// nothing: each gives its own 400 line, the last one at the set-up's time
// limit.
TEST_F(RelaySocksTest, RefusalsAndAnUnreachableOrSilentSocksServerAreTold) {
    DantedServer danted("none");
    ASSERT_TRUE(danted.up) << "danted did not start:\n" << danted.output;
    proxy::ProxySettings& s = m_core->Settings();
    s.Address = "127.0.0.2";
    s.SocksSerwer = danted.Address();
    const std::string socks = "serwer SOCKS " + danted.Address();
    Listen(119);
    EXPECT_EQ(AllUntilClosed(),
              FailureLine(119, socks + " odmówił połączenia na mocy swoich reguł"));
    EXPECT_TRUE(Logged(socks + " odmówił połączenia na mocy swoich reguł"));
    EXPECT_TRUE(Logged("SOCKS: connection not allowed by ruleset"));
    s.SocksPoziom = "4";
    EXPECT_EQ(AllUntilClosed(),
              FailureLine(119, socks + " odrzucił żądanie albo nie połączył się z serwerem grup"));
    StopListening();

    s.SocksPoziom = "5";
    s.Address = "localhost";
    const int dead = FreeLoopbackPort();
    s.SocksSerwer = "127.0.0.1:" + std::to_string(dead);
    Listen(119);
    EXPECT_EQ(AllUntilClosed(), FailureLine(119, "serwer SOCKS 127.0.0.1:" + std::to_string(dead) +
                                                     " jest nieosiągalny (odmowa połączenia)"));
    StopListening();

    std::atomic<bool> released{false};
    ScriptedServer silent([&](PeerConnection& c) {
        while (!released) c.Silent(50);
    });
    s.SocksSerwer = "127.0.0.1:" + std::to_string(silent.Port());
    m_core->TlsTimeoutMs = 500;
    Listen(119);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(AllUntilClosed(),
              FailureLine(119, "serwer SOCKS 127.0.0.1:" + std::to_string(silent.Port()) +
                                   " nie odpowiedział w wyznaczonym czasie"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    released = true;
    StopListening();

    s.SocksPoziom = "6";
    Listen(119);
    EXPECT_EQ(AllUntilClosed(),
              FailureLine(119,
                          "nieznany poziom SOCKS w ustawieniu SocksPoziom (dozwolone 5, 4A "
                          "albo 4)"));
    StopListening();
}

}  // namespace
}  // namespace sitowiak::testing

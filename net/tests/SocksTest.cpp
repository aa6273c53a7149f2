// SOCKS negotiation against a scripted server (for what real servers rarely
// send) and against a real one (danted).
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>
#include <tuple>
#include <utility>

#include "net/TWSocketServer.h"
#include "net/tests/ConnectedPair.h"

namespace sitowiak::net {
namespace {

using Bytes = std::string;
using Log = std::vector<std::string>;

// A SOCKS server played by a script on a thread, one connection.
struct ScriptedServer {
    int listener = -1, port = 0, conn = -1;
    std::thread thread;

    explicit ScriptedServer(std::function<void(int fd)> script) {
        test::EnsureApp();
        listener = test::ListenLoopback(&port);
        thread = std::thread([this, script] {
            conn = test::AcceptBlocking(listener);
            const int one = 1;
            ::setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            script(conn);
        });
    }
    ~ScriptedServer() {
        thread.join();
        test::CloseFd(conn);
        test::CloseFd(listener);
    }
};

// Writes the reply one byte at a time, so it arrives in separate reads.
void Trickle(int fd, const Bytes& bytes) {
    for (char c : bytes) {
        test::SendAll(fd, Bytes(1, c));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

Bytes Port(int port) {
    return {static_cast<char>(port >> 8), static_cast<char>(port & 0xFF)};
}

struct SocksClient {
    TWSocket sock;
    test::EventRecorder rec;
    Log socks;

    SocksClient(int socksPort, const std::string& level, const std::string& addr = "localhost",
                int port = 119) {
        rec.Attach(sock);
        // The requests go out through Send, so OnDataSent follows each of
        // them; not what these tests look at.
        sock.OnChangeState = nullptr;
        sock.OnDataSent = nullptr;
        sock.OnSocksConnected = [this](TCustomWSocket*, std::uint16_t e) {
            rec.log.push_back("socks connected " + std::to_string(e));
        };
        sock.OnSocksError = [this](TCustomWSocket*, int e, const std::string& m) {
            rec.log.push_back("socks error " + std::to_string(e) + " " + m);
        };
        sock.OnSocksAuthState = [this](TCustomWSocket*, TSocksAuthState s) {
            socks.push_back("auth " + std::to_string(s));
        };
        sock.SetSocksServer("127.0.0.1");
        sock.SetSocksPort(std::to_string(socksPort));
        sock.SetSocksLevel(level);
        sock.SetAddr(addr);
        sock.SetPort(std::to_string(port));
    }
    void ConnectAndWait(const std::string& until) {
        sock.Connect();
        test::RunUntil([&] { return rec.Has(until); });
    }
};

TEST(SocksTest, Socks5ReplyWithSurplusDataDeliversTheDataFirst) {
    Bytes greeting, request;
    ScriptedServer server([&](int fd) {
        greeting = test::ReadExactly(fd, 3);
        test::SendAll(fd, Bytes("\x05\x00", 2));
        request = test::ReadExactly(fd, 7 + 9);
        test::SendAll(fd, Bytes("\x05\x00\x00\x01\x7f\x00\x00\x01\x12\x34xyz", 13));
    });
    SocksClient c(server.port, "5");
    c.ConnectAndWait("data xyz");
    EXPECT_EQ(greeting, Bytes("\x05\x01\x00", 3));
    EXPECT_EQ(request, Bytes("\x05\x01\x00\x03\x09localhost", 14) + Port(119));
    EXPECT_EQ(c.rec.log, (Log{"socks connected 0", "connected 0", "data xyz"}));
    EXPECT_EQ(c.sock.BoundAddr(), "127.0.0.1");
    EXPECT_EQ(c.sock.BoundPort(), std::to_string(0x1234));
}

TEST(SocksTest, Socks5DomainReplyInSingleBytes) {
    ScriptedServer server([&](int fd) {
        test::ReadExactly(fd, 3);
        Trickle(fd, Bytes("\x05\x00", 2));
        test::ReadExactly(fd, 16);
        Trickle(fd, Bytes("\x05\x00\x00\x03\x04host\x00\x50", 11));
    });
    SocksClient c(server.port, "5");
    c.ConnectAndWait("connected 0");
    EXPECT_EQ(c.sock.BoundAddr(), "host");
    EXPECT_EQ(c.sock.BoundPort(), "80");
    EXPECT_EQ(c.sock.State(), wsConnected);
}

// Each failing reply ends in OnSocksError, OnSessionConnected(code), the
// change to wsClosed and OnSessionClosed(code).
struct Failure {
    const char* level;
    Bytes methodReply;  // empty for SOCKS 4
    Bytes connectReply;
    int code;
    std::string text;
};

TEST(SocksTest, FailingRepliesEndWithTheirCodesInOrder) {
    const std::vector<Failure> cases = {
        {"5", Bytes("\x05\xff", 2), "", 20003, "authentification method not acceptable"},
        {"5", Bytes("\x04\x00", 2), "", 20002, "socks version error"},
        {"5", Bytes("\x05\x00", 2), Bytes("\x05\x02\x00\x01", 4), 20005,
         "connection not allowed by ruleset"},
        {"5", Bytes("\x05\x00", 2), Bytes("\x05\x09\x00\x01", 4), 20012, "unassigned error #9"},
        {"5", Bytes("\x05\x00", 2), Bytes("\x05\x00\x00\x05\x00", 5), 20011,
         "address type not supported"},
        {"5", Bytes("\x05\x00", 2), Bytes("\x05\x00\x00\x03\xc8", 5), 20014,
         "socks reply too long"},
        {"4", "", Bytes("\x00\x5b\x00\x00\x00\x00\x00\x00", 8), 20016,
         "request rejected or failed"},
        {"4", "", Bytes("\x00\x5d\x00\x00\x00\x00\x00\x00", 8), 20015, "authentification failed"},
    };
    for (const Failure& f : cases) {
        ScriptedServer server([&](int fd) {
            char buf[256];
            ::recv(fd, buf, sizeof buf, 0);  // greeting or SOCKS 4 request
            if (!f.methodReply.empty()) {
                test::SendAll(fd, f.methodReply);
                if (f.connectReply.empty()) return;
                ::recv(fd, buf, sizeof buf, 0);
            }
            test::SendAll(fd, f.connectReply);
            test::ReadToEnd(fd);
        });
        SocksClient c(server.port, f.level, "127.0.0.1");
        c.ConnectAndWait("closed " + std::to_string(f.code));
        const std::string code = std::to_string(f.code);
        EXPECT_EQ(c.rec.log, (Log{"socks connected 0", "socks error " + code + " " + f.text,
                                  "connected " + code, "closed " + code}))
            << f.text;
    }
}

TEST(SocksTest, UserPasswordRequestAndItsFailure) {
    Bytes auth;
    ScriptedServer server([&](int fd) {
        EXPECT_EQ(test::ReadExactly(fd, 3), Bytes("\x05\x01\x02", 3));
        test::SendAll(fd, Bytes("\x05\x02", 2));
        auth = test::ReadExactly(fd, 3 + 4 + 6);
        test::SendAll(fd, Bytes("\x01\x01", 2));
        test::ReadToEnd(fd);
    });
    SocksClient c(server.port, "5");
    c.sock.SetSocksAuthentication(socksAuthenticateUsercode);
    c.sock.SetSocksUsercode("user");
    c.sock.SetSocksPassword("secret");
    c.ConnectAndWait("closed 20015");
    EXPECT_EQ(auth, Bytes("\x01\x04user\x06secret", 13));
    EXPECT_TRUE(c.rec.Has("socks error 20015 socks authentication failed"));
    EXPECT_EQ(c.socks, (Log{"auth 0"}));  // authStarted
}

TEST(SocksTest, Socks4ARequestCarriesTheName) {
    Bytes request;
    ScriptedServer server([&](int fd) {
        request = test::ReadExactly(fd, 9 + 2 + 10);
        test::SendAll(fd, Bytes("\x00\x5a\x00\x00\x00\x00\x00\x00", 8));
    });
    SocksClient c(server.port, "4a");
    EXPECT_EQ(c.sock.SocksLevel(), "4A");
    c.sock.SetSocksUsercode("me");
    c.ConnectAndWait("connected 0");
    EXPECT_EQ(request,
              Bytes("\x04\x01", 2) + Port(119) + Bytes("\x00\x00\x00\x01me\x00localhost\x00", 17));
}

// An IPv6 destination goes as one (ATYP 4) to a SOCKS 5 server, which may
// report an IPv6 bound address; SOCKS 4 has no room for one and says so
// before asking anything.
TEST(SocksTest, IPv6DestinationsThroughSocks5AndTheirRefusalBySocks4) {
    Bytes request;
    ScriptedServer server([&](int fd) {
        test::ReadExactly(fd, 3);
        test::SendAll(fd, Bytes("\x05\x00", 2));
        request = test::ReadExactly(fd, 4 + 16 + 2);
        Bytes reply("\x05\x00\x00\x04", 4);
        reply += Bytes("\x20\x01\x0d\xb8", 4) + Bytes(11, '\0') + Bytes("\x07", 1);
        Trickle(fd, reply + Port(1119));
    });
    SocksClient c(server.port, "5", "[2001:db8::1]");
    c.ConnectAndWait("connected 0");
    EXPECT_EQ(request, Bytes("\x05\x01\x00\x04\x20\x01\x0d\xb8", 8) + Bytes(11, '\0') +
                           Bytes("\x01", 1) + Port(119));
    EXPECT_EQ(c.sock.BoundAddr(), "2001:db8::7");
    EXPECT_EQ(c.sock.BoundPort(), "1119");

    for (const char* level : {"4", "4A"}) {
        Bytes asked;
        ScriptedServer server4([&](int fd) { asked = test::ReadToEnd(fd); });
        SocksClient c4(server4.port, level, "::1");
        c4.ConnectAndWait("closed 20018");
        EXPECT_TRUE(c4.rec.Has("socks error 20018 socks 4 cannot carry an IPv6 address")) << level;
        EXPECT_FALSE(c4.rec.Has("connected 0")) << level;
        // The SOCKS server saw the connection close, and no request.
        server4.thread.join();
        server4.thread = std::thread([] {});
        EXPECT_EQ(asked, "") << level;
    }
}

TEST(SocksTest, OversizedNamesFailWithoutOverrunningTheRequest) {
    ScriptedServer server([&](int fd) {
        test::ReadExactly(fd, 3);
        test::SendAll(fd, Bytes("\x05\x00", 2));
        test::ReadToEnd(fd);
    });
    SocksClient c(server.port, "5", std::string(130, 'h'));
    c.ConnectAndWait("closed 20014");
    EXPECT_TRUE(c.rec.Has("socks error 20014 socks request too long"));
}

TEST(SocksTest, SettingsAndTheirMessages) {
    test::EnsureApp();
    TWSocket s;
    EXPECT_EQ(test::MessageOf([&] { s.SetSocksLevel("6"); }),
              "Invalid socks level. Must be 4, 4A or 5.");
    s.SetSocksServer(" 127.0.0.1 ");
    EXPECT_EQ(s.SocksServer(), "127.0.0.1");
    s.SetAddr("127.0.0.1");
    s.SetPort("1");
    EXPECT_EQ(test::MessageOf([&] { s.Listen(); }), "Listening is not supported thru socks server");
    s.SetProto("udp");
    EXPECT_EQ(test::MessageOf([&] { s.Connect(); }),
              "tcp is the only protocol supported thru socks server");
    // After any close the SOCKS server and port are empty again.
    test::Connected c;
    c.sock.Close();
    EXPECT_EQ(c.sock.SocksServer(), "");
    EXPECT_EQ(c.sock.SocksLevel(), "5");
}

// Runs a shell command; returns its output (standard error included) and
// whether it exited with 0.
std::pair<std::string, bool> RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return {"popen failed for: " + command, false};
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) output.append(buf, n);
    const int status = ::pclose(pipe);
    return {output, status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

// The real server: danted, started by tests/servers/danted-up (which needs
// root, and installs dante-server if it is missing).
struct Danted {
    const std::string scripts = SITOWIAK_TEST_SERVERS;
    std::string dir;
    int port = 0;
    bool up = false;
    std::string output;  // what danted-up said, for the failure message

    explicit Danted(const std::string& flavour) {
        test::EnsureApp();
        port = test::FreePort();
        dir = "/tmp/sitowiak-danted-" + flavour + "-" + std::to_string(::getpid());
        std::tie(output, up) = RunCommand(scripts + "/danted-up " + std::to_string(port) + " " +
                                          dir + " " + flavour);
    }
    ~Danted() {
        if (up) RunCommand(scripts + "/danted-down " + dir);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

// An echo server in the same event loop, reached through danted.
struct Echo {
    TWSocketServer server;
    int port = test::FreePort();
    Echo() {
        server.SetBanner("");
        server.SetAddr("127.0.0.1");
        server.SetPort(std::to_string(port));
        server.OnClientConnect = [](TCustomWSocketServer*, TWSocketClient* c, std::uint16_t) {
            c->OnDataAvailable = [](TCustomWSocket* s, std::uint16_t) {
                const std::string data = s->ReceiveStr();
                if (!data.empty()) s->SendStr(data);
            };
        };
        server.Listen();
    }
};

void ExchangeThrough(SocksClient& c) {
    std::string payload;
    for (int i = 0; i < 100000; ++i) payload.push_back(static_cast<char>(i * 31 % 256));
    c.ConnectAndWait("connected 0");
    ASSERT_EQ(c.sock.State(), wsConnected);
    c.sock.SendStr(payload);
    test::RunUntil([&] { return c.rec.received.size() >= payload.size(); }, 10000);
    EXPECT_TRUE(c.rec.received == payload);
}

TEST(SocksDantedTest, Socks4AndSocks5ExchangeByteExact) {
    Danted danted("none");
    ASSERT_TRUE(danted.up) << "danted did not start:\n" << danted.output;
    Echo echo;
    for (const char* level : {"5", "4"}) {
        SocksClient c(danted.port, level, "127.0.0.1", echo.port);
        ExchangeThrough(c);
        c.sock.Close();
    }
    SocksClient denied(danted.port, "5", "127.0.0.2", echo.port);
    denied.ConnectAndWait("closed 20005");
    EXPECT_TRUE(denied.rec.Has("socks error 20005 connection not allowed by ruleset"));
}

TEST(SocksDantedTest, Socks5WithUserAndPassword) {
    Danted danted("userpass");
    ASSERT_TRUE(danted.up) << "danted did not start:\n" << danted.output;
    Echo echo;
    SocksClient c(danted.port, "5", "127.0.0.1", echo.port);
    c.sock.SetSocksAuthentication(socksAuthenticateUsercode);
    c.sock.SetSocksUsercode("sockstest");
    c.sock.SetSocksPassword("sockspass");
    ExchangeThrough(c);
    EXPECT_EQ(c.socks, (Log{"auth 0", "auth 1"}));  // started, succeeded
    SocksClient wrong(danted.port, "5", "127.0.0.1", echo.port);
    wrong.sock.SetSocksAuthentication(socksAuthenticateUsercode);
    wrong.sock.SetSocksUsercode("sockstest");
    wrong.sock.SetSocksPassword("wrong");
    wrong.ConnectAndWait("closed 20015");
}

}  // namespace
}  // namespace sitowiak::net

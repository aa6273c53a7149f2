// The relay's connection to a news server over TLS: from the first byte,
// and with STARTTLS after the greeting. Real OpenSSL servers on loopback
// threads, certificates made here; the reader sees the server's own bytes or
// one 400 line that says why not.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "net/tests/TestPki.h"
#include "proxy/core/tests/DantedServer.h"
#include "proxy/core/tests/RelayHarness.h"

namespace sitowiak::testing {
namespace {

using net::test::Identity;
using net::test::MakeIdentity;
using net::test::ServerCtx;

constexpr const char* kGreeting = "200 tls.test ready\r\n";

// A news server on 127.0.0.1 that runs `script` on each connection's
// descriptor, on its own thread; reads time out after 10 s.
class RawServer {
public:
    explicit RawServer(std::function<void(int fd)> script) {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
        ::listen(m_listener, 8);
        socklen_t len = sizeof sin;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&sin), &len);
        m_port = ntohs(sin.sin_port);
        m_thread = std::thread([this, script] {
            for (;;) {
                int fd = ::accept(m_listener, nullptr, nullptr);
                if (fd < 0) return;
                timeval tv{10, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
                script(fd);
                ::close(fd);
            }
        });
    }
    ~RawServer() {
        ::shutdown(m_listener, SHUT_RDWR);
        ::close(m_listener);
        m_thread.join();
    }
    int Port() const { return m_port; }

private:
    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;
};

std::string ReadPlainLine(int fd) {
    std::string line;
    char c;
    while (::recv(fd, &c, 1, 0) == 1) {
        line += c;
        if (line.ends_with("\r\n")) break;
    }
    return line;
}

void SendPlain(int fd, std::string_view bytes) {
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

// Over an established session: answers each command line with
// "211 <the command>" until the proxy ends the session. Records how it
// ended: "close_notify" or "cut".
void ServeCommands(SSL* ssl, std::string* seen, std::string* end) {
    std::string line;
    char c;
    for (;;) {
        int n = SSL_read(ssl, &c, 1);
        if (n <= 0) {
            *end = SSL_get_error(ssl, n) == SSL_ERROR_ZERO_RETURN ? "close_notify" : "cut";
            return;
        }
        line += c;
        if (!line.ends_with("\r\n")) continue;
        *seen += line;
        std::string reply = "211 " + line;
        SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
        line.clear();
    }
}

class RelayTlsTest : public RelayTest {
protected:
    static void SetUpTestSuite() {
        // The system trust store, as OpenSSL finds it, holds the test CA:
        // the same way a user points the proxy at a CA of their own.
        MakeIdentity(Ca(), "Sitowiak Test CA", "", nullptr);
        static const std::string path =
            (std::filesystem::temp_directory_path() /
             ("sitowiak-relay-ca-" + std::to_string(::getpid()) + ".pem"))
                .string();
        net::test::WritePem(Ca(), path);
        ::setenv("SSL_CERT_FILE", path.c_str(), 1);
    }
    static Identity& Ca() {
        static Identity ca;
        return ca;
    }

    // What a reader gets in its first 400 line or greeting, then whether
    // the proxy closed it.
    std::string FirstLine(bool* closed = nullptr) {
        return Reader(
            [closed](PeerConnection& r) {
                std::string line = r.ReadLine(15000);
                if (closed != nullptr) r.ReadToClose(closed, 5000);
                return line;
            },
            20000);
    }
    std::string FailureLine(int port, const std::string& reason) {
        return "400 Brak połączenia z serwerem grup 127.0.0.1:" + std::to_string(port) + ": " +
               reason + "\r\n";
    }
};

TEST_F(RelayTlsTest, StartTlsCarriesTheConversationAndEndsItWithCloseNotify) {
    Identity server;
    MakeIdentity(server, "news", "IP:127.0.0.1", &Ca());
    ServerCtx ctx(server);
    std::string cleartext, seen, end;
    std::atomic<bool> done{false};
    RawServer upstream([&](int fd) {
        // The reader writes before this greeting comes through.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        SendPlain(fd, kGreeting);
        cleartext = ReadPlainLine(fd);
        SendPlain(fd, "382 Begin TLS negotiation now\r\n");
        SSL* ssl = SSL_new(ctx.ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) ServeCommands(ssl, &seen, &end);
        SSL_free(ssl);
        done = true;
    });
    m_core->Settings().Szyfrowanie = "STARTTLS";
    // Outside the write list: the greeting says 201 after TLS as before.
    m_core->Settings().WriteAccess = "10.*";
    Listen(upstream.Port());
    std::string got = Reader(
        [](PeerConnection& r) {
            // Written at once: they wait for the session to stand, then go
            // on inside TLS, never in the clear.
            r.Send("GROUP pl.test\r\nDATE\r\n");
            std::string bytes = r.ReadLine(15000);
            bytes += r.ReadLine();
            bytes += r.ReadLine();
            r.Close();
            return bytes;
        },
        20000);
    EXPECT_EQ(got, "201 tls.test ready\r\n211 GROUP pl.test\r\n211 DATE\r\n");
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }, 10000));
    EXPECT_EQ(cleartext, "STARTTLS\r\n");
    EXPECT_EQ(seen, "GROUP pl.test\r\nDATE\r\n");
    EXPECT_EQ(end, "close_notify");
}

// A server that ends with close_notify and waits for ours before it closes
// (a two-way TLS shutdown): the proxy answers it and the reader is closed,
// instead of both waiting for the other.
TEST_F(RelayTlsTest, AServersCloseNotifyEndsTheReaderToo) {
    Identity server;
    MakeIdentity(server, "news", "IP:127.0.0.1", &Ca());
    ServerCtx ctx(server);
    std::atomic<int> shutdown{-1};
    RawServer upstream([&](int fd) {
        SSL* ssl = SSL_new(ctx.ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            SSL_write(ssl, kGreeting, static_cast<int>(std::strlen(kGreeting)));
            char line[64];
            SSL_read(ssl, line, sizeof line);
            SSL_write(ssl, "205 bye\r\n", 9);
            SSL_shutdown(ssl);              // sends ours
            shutdown = SSL_shutdown(ssl);  // 1 once the proxy's has come
        }
        SSL_free(ssl);
    });
    m_core->Settings().Szyfrowanie = "TLS";
    Listen(upstream.Port());
    std::string got = Reader(
        [](PeerConnection& r) {
            std::string bytes = r.ReadLine(15000);
            r.Send("QUIT\r\n");
            bool closed = false;
            bytes += r.ReadToClose(&closed, 8000);
            return bytes + (closed ? "<closed>" : "<open>");
        },
        20000);
    EXPECT_EQ(got, std::string(kGreeting) + "205 bye\r\n<closed>");
    EXPECT_TRUE(PumpUntil([&] { return shutdown.load() >= 0; }, 5000));
    EXPECT_EQ(shutdown.load(), 1);
}

// The second reader's connection resumes the session the first one got,
// and still reaches the same server with the same bytes.
TEST_F(RelayTlsTest, TheNextReaderResumesTheSession) {
    Identity server;
    MakeIdentity(server, "news", "IP:127.0.0.1", &Ca());
    ServerCtx ctx(server);
    std::mutex mutex;
    std::vector<int> reused;
    RawServer upstream([&](int fd) {
        SSL* ssl = SSL_new(ctx.ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            SSL_write(ssl, kGreeting, static_cast<int>(std::strlen(kGreeting)));
            {
                const std::lock_guard<std::mutex> lock(mutex);
                reused.push_back(SSL_session_reused(ssl));
            }
            char c;
            SSL_read(ssl, &c, 1);
        }
        SSL_free(ssl);
    });
    m_core->Settings().Szyfrowanie = "TLS";
    Listen(upstream.Port());
    for (int i = 0; i < 2; ++i) EXPECT_EQ(FirstLine(), kGreeting);
    ASSERT_TRUE(PumpUntil([&] {
        const std::lock_guard<std::mutex> lock(mutex);
        return reused.size() == 2;
    }));
    EXPECT_EQ(reused, (std::vector<int>{0, 1}));
    m_core->SetListening(false);
    Pump(100);
}

// A server that answers STARTTLS with anything but a clean 382, or stays
// silent before it (a port that wants TLS from the first byte does), is
// refused: the reader gets one 400 line, and nothing the reader sends
// reaches the server in the clear.
const std::string kPadded382Text =
    "382 Go" + std::string(512 - 8, ' ') + "\r\n" + "200 injected in the clear\r\n";
const char* const kPadded382 = kPadded382Text.c_str();

TEST_F(RelayTlsTest, AServerThatDoesNotTakeStartTlsIsRefused) {
    struct Case {
        const char* greeting;  // null: none
        const char* answer;    // null: none
        const char* reason;
    } cases[] = {
        {kGreeting, "502 Command unavailable\r\n",
         "serwer nie przyjął STARTTLS (502 Command unavailable)"},
        {kGreeting, "382 Go\r\n200 injected\r\n",
         "serwer wysłał niezaszyfrowane dane po odpowiedzi 382"},
        // The 382 fills the connector's read exactly, so the cleartext behind
        // it reaches the TLS layer: the same reason, not advice about ports.
        {kGreeting, kPadded382, "serwer wysłał niezaszyfrowane dane po odpowiedzi 382"},
        {kGreeting, nullptr, "serwer nie odpowiedział na STARTTLS"},
        {nullptr, nullptr,
         "serwer nie przysłał powitania przed STARTTLS (port 563 wymaga szyfrowania TLS (563))"},
    };
    m_core->TlsTimeoutMs = 500;
    for (const Case& k : cases) {
        std::string after = "?";
        {
            RawServer upstream([&](int fd) {
                if (k.greeting == nullptr) {
                    after = ReadPlainLine(fd);  // until the proxy gives up
                    return;
                }
                SendPlain(fd, k.greeting);
                ReadPlainLine(fd);
                if (k.answer != nullptr) SendPlain(fd, k.answer);
                after = ReadPlainLine(fd);
            });
            m_core->Settings().Szyfrowanie = "starttls";
            Listen(upstream.Port());
            std::string got = Reader(
                [](PeerConnection& r) {
                    r.Send("GROUP secret\r\n");
                    bool closed = false;
                    std::string all = r.ReadToClose(&closed, 10000);
                    return all + (closed ? "<closed>" : "<open>");
                },
                20000);
            EXPECT_EQ(got, FailureLine(upstream.Port(), k.reason) + "<closed>") << k.answer;
            m_core->SetListening(false);
            Pump(100);
        }
        // Nothing, or the start of the handshake the 382 asked for.
        EXPECT_TRUE(after.empty() || after[0] == '\x16') << k.answer;
        EXPECT_EQ(after.find("GROUP"), std::string::npos) << k.answer;
    }
}

// TLS from the first byte: a certificate that does not verify is refused
// with the reason and its fingerprint; naming that fingerprint in
// "OdciskSerwera" accepts exactly that certificate.
TEST_F(RelayTlsTest, ImplicitTlsRefusesWhatDoesNotVerifyAndTakesANamedFingerprint) {
    Identity good, selfSigned, otherName, expired;
    MakeIdentity(good, "news", "IP:127.0.0.1", &Ca());
    MakeIdentity(selfSigned, "news", "IP:127.0.0.1", nullptr);
    MakeIdentity(otherName, "news", "DNS:other.example", &Ca());
    MakeIdentity(expired, "news", "IP:127.0.0.1", &Ca(), -7200, -3600);
    auto hex = [](const Identity& id) {
        std::string s;
        for (char ch : id.Fingerprint())
            if (ch != ':') s += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        return s;
    };
    // The reason names the fingerprint and the command that trusts it.
    auto seen = [&](const Identity& id) {
        return "; odcisk SHA-256 certyfikatu: " + hex(id) +
               "; aby mu zaufać: sitowiak --set OdciskSerwera=" + hex(id);
    };
    struct Case {
        const Identity& cert;
        std::string fingerprint;
        std::string expected;  // the reason, or "" for the greeting
        bool offered;          // the view is offered the certificate to trust
    } cases[] = {
        {good, "", "", false},
        {selfSigned, "", "certyfikat serwera wystawił nieznany wystawca" + seen(selfSigned), true},
        {selfSigned, selfSigned.Fingerprint(), "", false},
        // Another certificate than the one trusted is never offered.
        {good, selfSigned.Fingerprint(),
         "certyfikat serwera ma inny odcisk niż OdciskSerwera" + seen(good), false},
        {otherName, "",
         "certyfikat serwera jest wystawiony na inną nazwę niż 127.0.0.1" + seen(otherName), true},
        {expired, "", "certyfikat serwera wygasł" + seen(expired), true},
        {good, "12:34", "OdciskSerwera nie jest odciskiem SHA-256 (64 cyfry szesnastkowe)", false},
    };
    for (const Case& k : cases) {
        ServerCtx ctx(k.cert);
        RawServer upstream([&](int fd) {
            SSL* ssl = SSL_new(ctx.ctx);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) == 1) {
                SSL_write(ssl, kGreeting, static_cast<int>(std::strlen(kGreeting)));
                char c;
                SSL_read(ssl, &c, 1);
            }
            SSL_free(ssl);
        });
        m_core->Settings().Szyfrowanie = "TLS";
        m_core->Settings().OdciskSerwera = k.fingerprint;
        Listen(upstream.Port());
        bool closed = false;
        std::string line = FirstLine(k.expected.empty() ? nullptr : &closed);
        if (k.expected.empty()) {
            EXPECT_EQ(line, kGreeting) << k.fingerprint;
        } else {
            EXPECT_EQ(line, FailureLine(upstream.Port(), k.expected));
            EXPECT_TRUE(closed);
        }
        EXPECT_EQ(m_view.refusedCertificates,
                  k.offered ? std::vector<std::string>{"127.0.0.1:" +
                                                       std::to_string(upstream.Port()) + " " +
                                                       hex(k.cert)}
                            : std::vector<std::string>{})
            << k.expected;
        m_view.refusedCertificates.clear();
        m_core->SetListening(false);
        Pump(100);
    }
}

// A server that ends the connection in the middle of the handshake, and a
// stored way of encryption the proxy does not know: that reader alone gets
// the 400 line; nothing is sent in the clear.
TEST_F(RelayTlsTest, AHandshakeCutShortOrAnUnknownWayEndsThatReaderWithTheReason) {
    std::string received;
    RawServer upstream([&](int fd) {
        // The whole first record, so that the close is an orderly one.
        unsigned char head[5];
        if (::recv(fd, head, sizeof head, MSG_WAITALL) != 5) return;
        received.assign(reinterpret_cast<char*>(head), 5);
        std::string body(static_cast<size_t>(head[3] << 8 | head[4]), '\0');
        ::recv(fd, body.data(), body.size(), MSG_WAITALL);
    });
    Listen(upstream.Port());
    m_core->Settings().Szyfrowanie = "TLS";
    EXPECT_EQ(FirstLine(),
              FailureLine(upstream.Port(), "serwer zamknął połączenie podczas uzgadniania TLS"));
    ASSERT_EQ(received.size(), 5u);
    EXPECT_EQ(received[0], '\x16') << "a TLS handshake record first";
    m_core->Settings().Szyfrowanie = "SSL";
    EXPECT_EQ(FirstLine(),
              FailureLine(upstream.Port(), "nieznany sposób szyfrowania w ustawieniu Szyfrowanie"));
}

// With STARTTLS chosen, a greeting other than 200 or 201 never hands the
// reader a session in the clear, whether a real refusal that leaves the
// connection open or a man in the middle answering for the server: the
// reader gets the proxy's own 400 line naming what the server said, the
// log says the same, and nothing the reader sends reaches the server.
TEST_F(RelayTlsTest, OnlyAReadyGreetingLeadsToStartTlsAnyOtherEndsTheReader) {
    struct Case {
        const char* greeting;
        const char* reason;
    } cases[] = {
        {"400 busy\r\n", "serwer nie przyjmuje czytelników (400 busy)"},
        {"502 no permission\r\n", "serwer nie przyjmuje czytelników (502 no permission)"},
        {"281 hello\r\n", "nieoczekiwane powitanie serwera przed STARTTLS (281 hello)"},
        {"hello\r\n", "nieoczekiwane powitanie serwera przed STARTTLS (hello)"},
    };
    m_core->Settings().Szyfrowanie = "STARTTLS";
    m_core->Settings().Logowanie = true;
    for (const Case& k : cases) {
        std::string after = "?";
        {
            RawServer upstream([&](int fd) {
                SendPlain(fd, k.greeting);
                after = ReadPlainLine(fd);  // until the proxy closes
            });
            Listen(upstream.Port());
            m_log.entries.clear();
            std::string got = Reader(
                [](PeerConnection& r) {
                    r.Send("AUTHINFO USER secret\r\n");
                    bool closed = false;
                    std::string all = r.ReadToClose(&closed, 10000);
                    return all + (closed ? "<closed>" : "<open>");
                },
                20000);
            const std::string line = FailureLine(upstream.Port(), k.reason);
            EXPECT_EQ(got, line + "<closed>") << k.greeting;
            EXPECT_TRUE(std::any_of(m_log.entries.begin(), m_log.entries.end(),
                                    [&](const LoggedEntry& e) { return e.text == line; }))
                << "the log names the greeting too: " << k.greeting;
            m_core->SetListening(false);
            Pump(100);
        }
        EXPECT_EQ(after, "") << k.greeting;
    }
}

// TLS from the first byte against a port that speaks NNTP in the clear:
// the reader is told that the server answered without encryption.
TEST_F(RelayTlsTest, TlsAgainstACleartextPortSaysSo) {
    RawServer upstream([&](int fd) {
        SendPlain(fd, kGreeting);
        ReadPlainLine(fd);  // until the proxy gives up
    });
    Listen(upstream.Port());
    m_core->Settings().Szyfrowanie = "TLS";
    EXPECT_EQ(FirstLine(), FailureLine(upstream.Port(),
                                       "serwer odpowiedział bez szyfrowania (ten port wymaga "
                                       "szyfrowania STARTTLS albo <brak>)"));
}


// TLS and STARTTLS through a SOCKS server (danted): the certificate is
// checked against the news server's name, never the SOCKS server's address.
// One made out for "localhost" only is taken; one for 127.0.0.1, the SOCKS
// server's address, is refused for the name.
TEST_F(RelayTlsTest, TlsThroughSocksChecksTheNewsServersName) {
    DantedServer danted("none");
    ASSERT_TRUE(danted.up) << "danted did not start:\n" << danted.output;
    Identity byName, byAddress;
    MakeIdentity(byName, "news", "DNS:localhost", &Ca());
    MakeIdentity(byAddress, "news", "IP:127.0.0.1", &Ca());
    ServerCtx nameCtx(byName), addressCtx(byAddress);
    std::atomic<SSL_CTX*> ctx{nameCtx.ctx};
    std::atomic<bool> startTls{false};
    std::string seen, end;
    RawServer upstream([&](int fd) {
        if (startTls) {
            SendPlain(fd, kGreeting);
            if (ReadPlainLine(fd) != "STARTTLS\r\n") return;
            SendPlain(fd, "382 Begin TLS negotiation now\r\n");
        }
        SSL* ssl = SSL_new(ctx.load());
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            if (!startTls) SSL_write(ssl, kGreeting, static_cast<int>(std::strlen(kGreeting)));
            seen.clear();
            ServeCommands(ssl, &seen, &end);
        }
        SSL_free(ssl);
    });
    proxy::ProxySettings& s = m_core->Settings();
    s.Address = "localhost";
    s.SocksSerwer = danted.Address();
    Listen(upstream.Port());
    for (const char* way : {"TLS", "STARTTLS"}) {
        s.Szyfrowanie = way;
        startTls = std::string(way) == "STARTTLS";
        EXPECT_EQ(GreetingAndDate(), std::string(kGreeting) + "211 DATE\r\n") << way;
    }
    ctx = addressCtx.ctx;
    for (const char* way : {"TLS", "STARTTLS"}) {
        s.Szyfrowanie = way;
        startTls = std::string(way) == "STARTTLS";
        EXPECT_TRUE(GreetingAndDate().starts_with(
            "400 Brak połączenia z serwerem grup localhost:" + std::to_string(upstream.Port()) +
            ": certyfikat serwera jest wystawiony na inną nazwę niż localhost; odcisk"))
            << way;
    }
    m_core->SetListening(false);
    Pump(100);
    EXPECT_NE(danted.Log().find("ATYP: 3 address: localhost." + std::to_string(upstream.Port())),
              std::string::npos);
}

}  // namespace
}  // namespace sitowiak::testing

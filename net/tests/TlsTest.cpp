// TLS to a blocking OpenSSL server on loopback with certificates made by the
// test: echoes byte for byte both ways (implicit and after a plain
// exchange), and each certificate or handshake fault is refused with its
// code, nothing left hanging.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "net/TWSocket.h"
#include "net/WSocketResolve.h"
#include "net/tests/EventRecorder.h"
#include "net/tests/TlsPeer.h"

namespace sitowiak::net {
namespace {

using test::Identity;

// The certificates of every test, made once.
struct Pki {
    Identity ca, server, wrongName, expired, selfSigned, otherCa;
    std::string caFile, otherCaFile;
    Pki() {
        test::MakeIdentity(ca, "Test CA", "", nullptr);
        test::MakeIdentity(otherCa, "Other CA", "", nullptr);
        test::MakeIdentity(server, "localhost", "DNS:localhost,IP:127.0.0.1", &ca);
        test::MakeIdentity(wrongName, "news.example", "DNS:news.example", &ca);
        test::MakeIdentity(expired, "localhost", "DNS:localhost", &ca, -172800, -86400);
        test::MakeIdentity(selfSigned, "localhost", "DNS:localhost", nullptr);
        char dir[] = "/tmp/sitowiak-tls-XXXXXX";
        const std::string base = ::mkdtemp(dir);
        caFile = test::WritePem(ca, base + "/ca.pem");
        otherCaFile = test::WritePem(otherCa, base + "/other.pem");
    }
};

Pki& Certs() {
    static Pki pki;
    return pki;
}

std::string Lines(std::size_t size) {
    std::string s;
    for (int i = 0; s.size() < size; ++i) s += "line " + std::to_string(i * 7919 % 100003) + "\r\n";
    s.resize(size - 2);
    return s + "\r\n";
}

struct Client {
    TWSocket sock;
    test::EventRecorder rec;
    Client(int port, const std::string& host = "localhost") {
        rec.Attach(sock);
        sock.OnChangeState = nullptr;
        sock.OnDataSent = nullptr;
        sock.OnTlsDone = [this](TCustomWSocket*, std::uint16_t e) {
            rec.log.push_back("tls " + std::to_string(e));
        };
        sock.SetAddr(host);
        sock.SetPort(std::to_string(port));
        sock.SetTlsCaFile(Certs().caFile);
    }
    bool Closed() const { return sock.State() == wsClosed; }
};

// Implicit TLS, data read as it comes: 1 MB goes out and comes back
// unchanged, and the session is reported connected only after the
// handshake.
TEST(TlsTest, ImplicitTlsEchoesAMegabyteExactly) {
    test::ServerCtx ctx(Certs().server);
    bool served = false;
    test::LoopbackServer srv([&](int fd) { served = test::ServeEcho(ctx.ctx, fd); });
    Client c(srv.port);
    c.sock.SetTlsImplicit(true);
    c.sock.Connect();
    ASSERT_TRUE(test::RunUntil([&] { return c.rec.Has("connected 0"); }));
    ASSERT_EQ(c.rec.log.front(), "tls 0");
    EXPECT_TRUE(c.sock.TlsActive());
    const std::string data = Lines(1 << 20);
    c.sock.SendStr(data);
    ASSERT_TRUE(test::RunUntil([&] { return c.rec.received.size() >= data.size(); }, 30000));
    EXPECT_TRUE(c.rec.received == data);
    c.sock.Close();
    test::RunUntil([&] { return c.Closed(); });
    srv.thread.join();
    srv.thread = std::thread([] {});
    EXPECT_TRUE(served);
}

// STARTTLS: a plain greeting and command in line mode, the upgrade, then
// 1 MB of lines through the line mode over TLS.
TEST(TlsTest, StartTlsAfterAPlainExchangeEchoesLinesExactly) {
    test::ServerCtx ctx(Certs().server);
    std::string command;
    test::LoopbackServer srv([&](int fd) {
        test::SendAll(fd, "200 ready\r\n");
        command = test::ReadExactly(fd, 10);
        test::SendAll(fd, "382 go ahead\r\n");
        test::ServeEcho(ctx.ctx, fd);
    });
    Client c(srv.port, "127.0.0.1");  // the name checked is the address
    std::vector<std::string> lines;
    std::string joined;
    c.sock.SetLineMode(true);
    c.sock.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        const std::string line = s->ReceiveStr();
        if (line.empty()) return;
        lines.push_back(line);
        if (line == "382 go ahead\r\n") static_cast<TWSocket*>(s)->StartTls();
        if (c.sock.TlsActive()) joined += line;
    };
    c.sock.OnSessionConnected = [&](TCustomWSocket*, std::uint16_t) {};
    c.sock.Connect();
    ASSERT_TRUE(test::RunUntil([&] { return lines.size() == 1; }));
    EXPECT_FALSE(c.sock.TlsActive());
    c.sock.SendStr("STARTTLS\r\n");
    const std::string data = Lines(1 << 20);
    ASSERT_TRUE(test::RunUntil([&] { return lines.size() == 2; }));
    // Sent during the handshake: held until it is over.
    c.sock.SendStr(data);
    ASSERT_TRUE(test::RunUntil([&] { return joined.size() >= data.size(); }, 30000));
    EXPECT_EQ(command, "STARTTLS\r\n");
    EXPECT_TRUE(c.rec.Has("tls 0"));
    EXPECT_TRUE(joined == data);
    EXPECT_EQ(lines.size(),
              2 + static_cast<std::size_t>(std::count(data.begin(), data.end(), '\n')));
    c.sock.Close();
}

struct Refusal {
    const char* what;
    const Identity* cert;
    std::string caFile;
    std::string fingerprint;
    int code;
};

// Each certificate fault has its own code, reported as the handshake's end,
// as the connection's result and as its close; a fingerprint accepts
// exactly its certificate.
TEST(TlsTest, EachCertificateFaultIsRefusedWithItsCode) {
    Pki& p = Certs();
    const Refusal cases[] = {
        {"wrong name", &p.wrongName, p.caFile, "", TCustomTlsWSocket::kTlsNameMismatch},
        {"expired", &p.expired, p.caFile, "", TCustomTlsWSocket::kTlsExpired},
        {"self-signed", &p.selfSigned, p.caFile, "", TCustomTlsWSocket::kTlsUnknownIssuer},
        {"other CA", &p.server, p.otherCaFile, "", TCustomTlsWSocket::kTlsUnknownIssuer},
        {"other fingerprint", &p.selfSigned, "", p.server.Fingerprint(),
         TCustomTlsWSocket::kTlsFingerprintMismatch},
        {"own fingerprint", &p.selfSigned, "", p.selfSigned.Fingerprint(), 0},
    };
    for (const Refusal& r : cases) {
        SCOPED_TRACE(r.what);
        test::ServerCtx ctx(*r.cert);
        test::LoopbackServer srv([&](int fd) { test::ServeEcho(ctx.ctx, fd); });
        Client c(srv.port);
        c.sock.SetTlsCaFile(r.caFile);
        c.sock.SetTlsFingerprint(r.fingerprint);
        c.sock.SetTlsImplicit(true);
        c.sock.Connect();
        const std::string code = std::to_string(r.code);
        ASSERT_TRUE(test::RunUntil([&] { return c.rec.Has("connected " + code); }));
        if (r.code == 0) {
            c.sock.SendStr("ping\r\n");
            ASSERT_TRUE(test::RunUntil([&] { return c.rec.received == "ping\r\n"; }));
            c.sock.Close();
            continue;
        }
        ASSERT_TRUE(test::RunUntil([&] { return c.Closed(); }));
        EXPECT_EQ(c.rec.log,
                  (std::vector<std::string>{"tls " + code, "connected " + code, "closed " + code}));
        EXPECT_EQ(c.sock.LastError(), r.code);
        EXPECT_NE(SocketErrorText(r.code), "Not a WinSock error");
    }
}

// A server that offers only TLS 1.1, one that closes after the client's
// hello, and one that never answers: each ends with its code.
TEST(TlsTest, BadOrSilentHandshakesEndWithTheirCodes) {
    test::ServerCtx oldTls(Certs().server);
    SSL_CTX_set_security_level(oldTls.ctx, 0);
    SSL_CTX_set_min_proto_version(oldTls.ctx, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(oldTls.ctx, TLS1_1_VERSION);
    SSL_CTX_set_cipher_list(oldTls.ctx, "DEFAULT:@SECLEVEL=0");
    struct Case {
        const char* what;
        std::function<void(int)> script;
        int code;
    } cases[] = {
        {"TLS 1.1 only", [&](int fd) { test::ServeEcho(oldTls.ctx, fd); },
         TCustomTlsWSocket::kTlsHandshakeFailed},
        {"closes after hello",
         [](int fd) {
             char buf[4096];
             (void)::recv(fd, buf, sizeof buf, 0);
             ::shutdown(fd, SHUT_WR);
             test::ReadToEnd(fd);
         },
         TCustomTlsWSocket::kTlsClosedInHandshake},
        {"silent", [](int fd) { test::ReadToEnd(fd); }, TCustomTlsWSocket::kTlsHandshakeTimeout},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        test::LoopbackServer srv(k.script);
        Client c(srv.port);
        c.sock.SetTlsImplicit(true);
        c.sock.SetTlsTimeoutMs(300);
        c.sock.Connect();
        ASSERT_TRUE(test::RunUntil([&] { return c.Closed(); }));
        const std::string code = std::to_string(k.code);
        EXPECT_TRUE(c.rec.Has("tls " + code));
        EXPECT_TRUE(c.rec.Has("connected " + code));
        EXPECT_EQ(c.rec.log.back(), "closed " + code);
        EXPECT_FALSE(c.rec.Has("connected 0"));
    }
}

}  // namespace
}  // namespace sitowiak::net

// The TLS layer's handshake and record handling against a scripted peer: a
// real OpenSSL server in memory whose bytes reach the socket in pieces of
// 1 to 16 bytes, with one byte altered and the connection closed at a
// chosen point. Input: a flags byte (bit 0: STARTTLS after a plain line,
// bit 1: fingerprint instead of the CA), the piece size, two bytes of the
// close point (0xFFFF: never), two bytes of the altered position and the
// value it is xored with, then the plain bytes the server sends once the
// handshake is over. Looks for crashes and leaks, and aborts when the
// socket delivers anything that is not a prefix of what the server sent.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include <QCoreApplication>

#include "fuzz/net/LoopbackListener.h"
#include "net/TWSocket.h"
#include "net/tests/TestPki.h"

using namespace sitowiak::net;

namespace {

struct Fixture {
    test::Identity ca, server;
    test::ServerCtx* ctx;
    std::string caFile;
    Fixture() {
        test::MakeIdentity(ca, "Fuzz CA", "", nullptr);
        test::MakeIdentity(server, "localhost", "DNS:localhost", &ca);
        ctx = new test::ServerCtx(server);
        char path[] = "/tmp/sitowiak-fuzz-ca-XXXXXX";
        const int fd = ::mkstemp(path);
        ::close(fd);
        caFile = test::WritePem(ca, path);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sitowiak::fuzz::EnsureCoreApplication();
    static int port = 0;
    static int listener = sitowiak::fuzz::LoopbackListener(&port);
    static Fixture* fx = new Fixture;
    if (size < 7) return 0;
    const bool startTls = data[0] & 1;
    const std::size_t piece = data[1] % 16 + 1;
    const std::size_t closeAt = static_cast<std::size_t>(data[2] << 8 | data[3]);
    const std::size_t alterAt = static_cast<std::size_t>(data[4] << 8 | data[5]);
    const std::uint8_t alterBy = data[6];
    const std::string payload(reinterpret_cast<const char*>(data + 7), size - 7);

    SSL* ssl = SSL_new(fx->ctx->ctx);
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl, in, out);
    SSL_set_accept_state(ssl);
    {
        TWSocket sock;
        std::string got;
        sock.SetLineMode(startTls);
        sock.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
            const std::string part = s->ReceiveStr();
            auto* t = static_cast<TWSocket*>(s);
            if (!t->TlsActive() && !t->TlsHandshaking() && part.rfind("382", 0) == 0) {
                t->StartTls();
                return;
            }
            if (t->TlsActive()) got += part;
        };
        sock.SetAddr("localhost");
        sock.SetPort(std::to_string(port));
        if (data[0] & 2)
            sock.SetTlsFingerprint(fx->server.Fingerprint());
        else
            sock.SetTlsCaFile(fx->caFile);
        sock.SetTlsImplicit(!startTls);
        sock.SetTlsTimeoutMs(0);  // the script ends every run by closing
        sock.Connect();
        int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        // Every piece leaves at once (no waiting for the client's ACK).
        const int one = 1;
        ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::string pending = startTls ? "382 go ahead\r\n" : "";
        std::size_t sent = 0;
        bool payloadQueued = false;
        for (int round = 0; round < 2000 && peer >= 0 && sock.State() != wsClosed; ++round) {
            QCoreApplication::processEvents();
            char buf[4096];
            const ssize_t n = ::recv(peer, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) BIO_write(in, buf, static_cast<int>(n));
            if (!SSL_is_init_finished(ssl)) {
                SSL_do_handshake(ssl);
            } else if (!payloadQueued) {
                payloadQueued = true;
                if (!payload.empty())
                    SSL_write(ssl, payload.data(), static_cast<int>(payload.size()));
            } else {
                SSL_read(ssl, buf, sizeof buf);  // what the client sends is dropped
            }
            char* cipher = nullptr;
            const long len = BIO_get_mem_data(out, &cipher);
            if (len > 0 && (!startTls || sent > 0)) {
                pending.append(cipher, static_cast<std::size_t>(len));
                (void)BIO_reset(out);
            }
            if (!pending.empty()) {
                std::string part = pending.substr(0, piece);
                pending.erase(0, part.size());
                if (alterAt >= sent && alterAt < sent + part.size())
                    part[alterAt - sent] = static_cast<char>(part[alterAt - sent] ^ alterBy);
                ::send(peer, part.data(), part.size(), MSG_NOSIGNAL);
                sent += part.size();
            } else if (payloadQueued && n <= 0) {
                break;
            }
            if (sent >= closeAt) {
                ::close(peer);
                peer = -1;
            }
        }
        if (peer >= 0) ::close(peer);
        for (int i = 0; i < 8; ++i) QCoreApplication::processEvents();
        if (payload.compare(0, got.size(), got) != 0) std::abort();
    }
    SSL_free(ssl);
    return 0;
}

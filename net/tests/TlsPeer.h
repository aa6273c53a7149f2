// A blocking OpenSSL server on a loopback thread that plays a script on
// one connection.
#pragma once

#include <functional>
#include <string>
#include <thread>

#include "net/tests/TestLoop.h"
#include "net/tests/TestPki.h"

namespace sitowiak::net::test {

// Accepts one connection and runs script on it (the descriptor is closed
// afterwards).
struct LoopbackServer {
    int listener = -1, port = 0;
    std::thread thread;

    explicit LoopbackServer(std::function<void(int fd)> script) {
        EnsureApp();
        listener = ListenLoopback(&port);
        thread = std::thread([this, script] {
            const int fd = AcceptBlocking(listener);
            script(fd);
            CloseFd(fd);
        });
    }
    ~LoopbackServer() {
        thread.join();
        CloseFd(listener);
    }
};

// Handshakes on fd and echoes every byte until the peer closes. False when
// the handshake failed.
inline bool ServeEcho(SSL_CTX* ctx, int fd) {
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    const bool ok = SSL_accept(ssl) == 1;
    if (ok) {
        char buf[16384];
        for (;;) {
            const int n = SSL_read(ssl, buf, sizeof buf);
            if (n <= 0 || SSL_write(ssl, buf, n) != n) break;
        }
    }
    SSL_free(ssl);
    return ok;
}

}  // namespace sitowiak::net::test

// A TWSocket connected to a plain blocking loopback peer, with its events
// recorded.
#pragma once

#include <functional>
#include <string>

#include "net/TWSocket.h"
#include "net/tests/EventRecorder.h"
#include "net/tests/TestLoop.h"

namespace sitowiak::net::test {

inline std::string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "(no exception)";
}

inline int FreePort() {
    int port = 0;
    CloseFd(ListenLoopback(&port));
    return port;
}

struct Connected {
    int listener = -1, peer = -1;
    TWSocket sock;
    EventRecorder rec;

    // before runs on the socket just before it connects.
    explicit Connected(bool readData = true,
                       const std::function<void(TWSocket&)>& before = nullptr) {
        EnsureApp();
        int port = 0;
        listener = ListenLoopback(&port);
        rec.Attach(sock, readData);
        if (before) before(sock);
        sock.SetAddr("127.0.0.1");
        sock.SetPort(std::to_string(port));
        sock.Connect();
        peer = AcceptBlocking(listener);
        RunUntil([&] { return sock.State() == wsConnected; });
    }
    ~Connected() {
        if (peer >= 0) CloseFd(peer);
        CloseFd(listener);
    }
    void PeerCloses() {
        CloseFd(peer);
        peer = -1;
    }
};

}  // namespace sitowiak::net::test

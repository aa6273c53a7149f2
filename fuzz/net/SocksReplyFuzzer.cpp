// The SOCKS reply parser against arbitrary server replies, in every
// negotiation state. Input: a settings byte (bits 0-1: level 5, 4 or 4A;
// bit 2: offer user/password), a piece-size byte, then the bytes the
// "server" sends, in pieces, until it closes. Looks for crashes, reads or
// writes outside the reply area, and leaks.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include <QCoreApplication>

#include "fuzz/net/LoopbackListener.h"
#include "net/TWSocket.h"

using namespace sitowiak::net;

namespace {

void Pump(int rounds) {
    for (int i = 0; i < rounds; ++i) QCoreApplication::processEvents();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sitowiak::fuzz::EnsureCoreApplication();
    static int port = 0;
    static int listener = sitowiak::fuzz::LoopbackListener(&port);
    if (size < 2) return 0;
    const char* levels[] = {"5", "4", "4A", "5"};
    const std::size_t piece = data[1] % 16 + 1;
    const std::string replies(reinterpret_cast<const char*>(data + 2), size - 2);
    {
        TWSocket sock;
        sock.OnDataAvailable = [](TCustomWSocket* s, std::uint16_t) { s->ReceiveStr(); };
        sock.SetSocksServer("127.0.0.1");
        sock.SetSocksPort(std::to_string(port));
        sock.SetSocksLevel(levels[data[0] & 3]);
        if (data[0] & 4) {
            sock.SetSocksAuthentication(socksAuthenticateUsercode);
            sock.SetSocksUsercode("user");
            sock.SetSocksPassword("password");
        }
        sock.SetAddr("127.0.0.1");
        sock.SetPort("119");
        sock.Connect();
        const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        Pump(3);
        for (std::size_t at = 0; at < replies.size() && sock.State() != wsClosed; at += piece) {
            const std::string part = replies.substr(at, piece);
            ::send(peer, part.data(), part.size(), MSG_NOSIGNAL);
            Pump(2);
        }
        ::close(peer);
        Pump(4);
    }
    return 0;
}

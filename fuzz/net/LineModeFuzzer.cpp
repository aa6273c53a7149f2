// Line mode against arbitrary received bytes, arriving in arbitrary pieces.
// Input: flags byte (bit 0 LineEdit, bit 1 LineEcho, bit 2 a small
// LineLimit, bit 3 LF instead of CR LF, bit 4 switch LineMode off and on
// while lines arrive, bit 5 the handler leaves every third offer untaken,
// bit 6 it pauses the socket every fourth call, resumed after each piece),
// a piece-size byte, then the bytes received.
// Without editing and limit, the delivered reads put together must give
// back exactly the received bytes, each line ending at its first marker.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include <QCoreApplication>

#include "fuzz/net/LoopbackListener.h"
#include "net/TWSocket.h"

using namespace sitowiak::net;

namespace {

class FuzzLineSocket : public TWSocket {
public:
    void Pump() { ReceiveLoop(0, TWSocketOptions{}); }
    void EndSession() { TriggerSessionClosed(0); }
};

void DrainEcho(int fd) {
    char buf[4096];
    while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sitowiak::fuzz::EnsureCoreApplication();
    if (size < 2) return 0;
    const std::uint8_t flags = data[0];
    const std::size_t piece = data[1] % 64 + 1;
    const std::string input(reinterpret_cast<const char*>(data + 2), size - 2);
    const bool checked = (flags & 0x07) == 0;
    const std::string lineEnd = (flags & 0x08) ? "\n" : "\r\n";

    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) != 0) return 0;
    std::string delivered;
    {
        FuzzLineSocket sock;
        sock.Dup(fds[0]);
        sock.SetLineMode(true);
        sock.SetLineEnd(lineEnd);
        sock.SetLineEdit(flags & 0x01);
        sock.SetLineEcho(flags & 0x02);
        sock.SetLineLimit((flags & 0x04) ? 64 : 0);
        int lines = 0;
        int calls = 0;
        bool finishing = false;
        sock.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
            ++calls;
            if ((flags & 0x20) && !finishing && calls % 3 == 0) return;
            if ((flags & 0x40) && !finishing && calls % 4 == 0) s->Pause();
            const std::string got = s->ReceiveStr();
            auto* line = static_cast<TWSocket*>(s);
            if (checked && line->LineMode() && !got.empty()) {
                const std::size_t at = got.find(lineEnd);
                // A complete line ends at its first marker; only the last
                // (delivered at the close) may lack one.
                if (at != std::string::npos && at + lineEnd.size() != got.size()) std::abort();
            }
            delivered += got;
            if ((flags & 0x10) && ++lines % 3 == 0) line->SetLineMode(!line->LineMode());
        };
        for (std::size_t at = 0; at < input.size(); at += piece) {
            const std::string part = input.substr(at, piece);
            if (::send(fds[1], part.data(), part.size(), 0) != static_cast<ssize_t>(part.size()))
                break;
            sock.Pump();
            QCoreApplication::processEvents();
            sock.Resume();
            QCoreApplication::processEvents();
            DrainEcho(fds[1]);
        }
        // What a pause or an untaken line left in the socket is read now,
        // as the peer's close would have it read.
        finishing = true;
        sock.Resume();
        QCoreApplication::processEvents();
        sock.Pump();
        sock.SetLineMode(true);
        QCoreApplication::processEvents();
        sock.EndSession();
    }
    ::close(fds[1]);
    if (checked && delivered != input) std::abort();
    return 0;
}

// Random byte streams from both sides through a real relay: a ProxyCore
// listening on loopback, a reader socket and a news server socket driven by
// this program, and the Qt event loop in between. Looks for crashes, leaks
// and undefined behaviour in the request and response handling and in the
// article and overview rewriting, and for a relay that does not end when
// both of its peers have gone.
//
// Input: one byte of settings, then records. A record is one header byte
// (bit 7: from the news server, else from the reader; bits 0-6: length, 127
// meaning a two-byte length follows) and that many bytes, which are sent to
// the proxy before the event loop runs for a while. A length of 0 takes one
// more byte that picks a canned command or reply (pipelined commands, every
// command the relay tells apart, status lines of every reply kind), so that
// the fuzzer reaches deep conversations without guessing their words.
//   settings bit 0-1: forced charset (none, utf-8, windows-1250, us-ascii)
//            bit 2-3: forced content type (none, text/plain, text/html)
//            bit 4: style links; bit 5: raw overview lines left out;
//            bit 6: logging and line mode; bit 7: the reader may post.
// Built as fuzz_relay_starttls, the relay asks the news server for
// STARTTLS first, so the server's records meet that exchange.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "proxy/core/ProxyCore.h"
#include "proxy/core/TClient.h"

namespace {

using namespace sitowiak;
using Clock = std::chrono::steady_clock;

// How long one input may wait for connections to be made or to end. A relay
// that has not ended this long after both its peers closed never will.
constexpr auto kSetupWait = std::chrono::seconds(2);
constexpr auto kEndWait = std::chrono::seconds(10);
constexpr int kPumpsPerRecord = 4;

class View : public proxy::ProxyView {
public:
    void SetListenCaption(const std::string&) override {}
    void SetAddressEditsEnabled(bool) override {}
    void SetStatusPanel(int, const std::string&) override {}
};

// Keeps only the last entry, so that logging costs little but runs fully.
class Log : public log::LogSink {
public:
    bool lineMode = false;
    std::string last;
    void SetEntryStyle(log::Rgb, const std::string& title) override { last = title; }
    void SetEntryTitle(const std::string& title) override { last = title; }
    void AddEntry(const std::string& text) override { last = text; }
    bool LineModeChecked() const override { return lineMode; }
};

// Canned reader commands: every command the relay treats apart, in the
// spellings the server accepts, some pipelined in one record.
constexpr std::string_view kCommands[] = {"ARTICLE 1\r\n",
                                          "BODY 1\r\n",
                                          " head 1\n",
                                          "XOVER 1-2\r\n",
                                          "over 1-2\n",
                                          "XHDR subject 1-2\r\n",
                                          "HDR From 1\r\n",
                                          "XHDR Newsgroups 1\r\n",
                                          "CAPABILITIES\r\n",
                                          "COMPRESS DEFLATE\r\n",
                                          "STARTTLS\r\n",
                                          "POST\r\n",
                                          "\tpost\n",
                                          "IHAVE <a@b>\r\n",
                                          "TAKETHIS <a@b>\r\n",
                                          "CHECK <a@b>\r\n",
                                          "XBATCH 20\r\n",
                                          "MODE READER\r\n",
                                          "LISTGROUP g\r\n",
                                          "GROUP g\r\n",
                                          "  \r\n",
                                          ".\r\n",
                                          "\r\n.\r\n",
                                          "ARTICLE 1\r\nXOVER 1\r\nBODY 1\r\n",
                                          "GROUP g\r\nPOST\r\nDATE\r\n",
                                          "DATE\r\nPOST\r\nDATE\r\n",
                                          "HEAD 1\r\nBODY 1\r\nSTAT 1\r\n"};
// Canned server lines: status lines of every reply kind and terminators.
constexpr std::string_view kReplies[] = {"200 ready\r\n",
                                         "220 1 <a@b>\r\n",
                                         "221 1 <a@b>\r\n",
                                         "222 1 <a@b>\r\n",
                                         "224 overview\r\n",
                                         "225 headers\r\n",
                                         "101 caps\r\nCOMPRESS DEFLATE\r\nSTARTTLS\r\n",
                                         "340 send\r\n",
                                         "335 send\r\n",
                                         "339 batch\r\n",
                                         "211 3 1 3 g\r\n",
                                         "215 list\r\n",
                                         "100 help\r\n",
                                         "240 ok\r\n",
                                         "430 no\r\n",
                                         "440 no\r\n",
                                         ".\r\n",
                                         "\r\n.\r\n",
                                         "Subject: =?iso-8859-2?Q?Za=BF=F3=B3=E6?=\r\n",
                                         "Content-Type: text/plain; charset=iso-8859-2\r\n\r\n"};

int ListenOnLoopback(int* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
    ::listen(fd, 16);
    socklen_t len = sizeof sin;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
    *port = ntohs(sin.sin_port);
    return fd;
}

int ConnectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
    return fd;
}

void Drain(int fd) {
    char buf[65536];
    while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
}

// The proxy and the news server's listening socket, made once.
struct Rig {
    View view;
    Log log;
    platform::ProductIdentity identity;
    std::unique_ptr<proxy::ProxyCore> core;
    int upstreamListen = -1, proxyPort = 0;

    Rig() {
        static int argc = 1;
        static char name[] = "fuzz_relay";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);  // lives as long as the process
        identity.ProductName = "Sitowiak";
        identity.ProductUrl = "https://sitowiak.plaskun.example/";
        identity.ProductVersion = (5ull << 48) | 48;
        int upstreamPort = 0;
        upstreamListen = ListenOnLoopback(&upstreamPort);
        core = std::make_unique<proxy::ProxyCore>(view, identity);
        proxy::ProxySettings& s = core->Settings();
        s.LocalPort = "0";
        s.RemotePort = std::to_string(upstreamPort);
        s.Address = "127.0.0.1";
        core->SetLog(&log);
        core->SetListening(true);
        sockaddr_in sin{};
        socklen_t len = sizeof sin;
        ::getsockname(core->WSocketServer().Handle(), reinterpret_cast<sockaddr*>(&sin), &len);
        proxyPort = ntohs(sin.sin_port);
    }

    void Configure(uint8_t s) {
        static const char* const kCharsets[] = {"", "utf-8", "windows-1250", "us-ascii"};
        static const char* const kTypes[] = {"", "text/plain", "text/html", ""};
        proxy::ProxySettings& v = core->Settings();
        v.Kodowanie = kCharsets[s & 3];
        v.Zawartosc = kTypes[(s >> 2) & 3];
        v.Style = s & 0x10;
        v.IgnorowanieBlednych = s & 0x20;
        v.Logowanie = s & 0x40;
        log.lineMode = s & 0x40;
        v.WriteAccess = s & 0x80 ? "127.0.0.1" : "10.*";
#ifdef SITOWIAK_FUZZ_STARTTLS
        // The news server's first bytes then go through the STARTTLS
        // exchange (greeting, answer, handshake) before the relay.
        v.Szyfrowanie = "STARTTLS";
#endif
    }

    static void Pump() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

    template <typename F>
    static bool PumpUntil(F done, Clock::duration wait) {
        for (auto until = Clock::now() + wait; !done();) {
            if (Clock::now() > until) return false;
            Pump();
        }
        return true;
    }

    bool UpstreamConnected() {
        auto& server = core->WSocketServer();
        if (server.ClientCount() != 1) return false;
        auto* relay = static_cast<proxy::TClientNntp*>(server.Clients(0));
        return relay->RemoteSocket && relay->RemoteSocket->State() == net::wsConnected;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig rig;
    if (size == 0) return 0;
    rig.Configure(data[0]);
    int reader = ConnectTo(rig.proxyPort);
    int upstream = -1;
    rig.PumpUntil(
        [&] {
            return (upstream = ::accept4(rig.upstreamListen, nullptr, nullptr,
                                         SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;
        },
        kSetupWait);
    if (upstream < 0 || !rig.PumpUntil([&] { return rig.UpstreamConnected(); }, kSetupWait)) {
        // Nothing to fuzz without both connections; never expected on loopback.
        std::abort();
    }
    size_t at = 1;
    while (at < size) {
        uint8_t header = data[at++];
        size_t length = header & 0x7F;
        if (length == 0x7F && at + 2 <= size) {
            length = static_cast<size_t>(data[at]) << 8 | data[at + 1];
            at += 2;
        }
        length = std::min(length, size - at);
        int to = header & 0x80 ? upstream : reader;
        if (length > 0) {
            ::send(to, data + at, length, MSG_NOSIGNAL | MSG_DONTWAIT);
            at += length;
        } else if (at < size) {
            uint8_t pick = data[at++];
            std::string_view canned = header & 0x80 ? kReplies[pick % std::size(kReplies)]
                                                    : kCommands[pick % std::size(kCommands)];
            ::send(to, canned.data(), canned.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        for (int i = 0; i < kPumpsPerRecord; ++i) {
            rig.Pump();
            Drain(reader);
            Drain(upstream);
        }
    }
    // Either side may go first; the relay must end either way.
    if (data[0] & 1) std::swap(reader, upstream);
    ::close(reader);
    rig.Pump();
    ::close(upstream);
    if (!rig.PumpUntil([&] { return rig.core->WSocketServer().ClientCount() == 0; }, kEndWait))
        std::abort();
    return 0;
}

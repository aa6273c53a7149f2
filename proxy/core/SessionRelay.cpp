#include "SessionRelay.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <cstring>

#include "net/TBuffer.h"
#include "net/WSocketBinding.h"
#include "proxy/core/ConnectionColors.h"
#include "proxy/core/HostPattern.h"
#include "proxy/core/NntpWords.h"
#include "proxy/core/ProxyCore.h"

namespace sitowiak::proxy {
namespace {

using filter::TBuforArt;

// A burst from the news server is read in reads of this size, gathered up to
// this much in one pass and sent to the reader in one go.
constexpr int32_t kBurstRead = 64 * 1024;

// Reads straight into the buffer's spare room behind the content: the
// plain reserve, or a room widened to `room` bytes. Sets `filled` when the
// read took all the room it had (more is then likely to wait).
int ReadInto(net::TCustomWSocket& socket, TBuforArt& buffer, int32_t room, bool& filled) {
    room = std::max(room, TBuforArt::ReserveSize());
    buffer.Reserve(room);
    int count = socket.Receive(buffer.Data() + buffer.Length(), room);
    filled = count == room;
    return count;
}

int ReadInto(net::TCustomWSocket& socket, TBuforArt& buffer) {
    bool filled;
    return ReadInto(socket, buffer, 0, filled);
}

std::string_view Content(TBuforArt& buffer) {
    return {buffer.Data(), static_cast<size_t>(buffer.Length())};
}

// Searches `what` in the buffer from `scanned`, minus the bytes of a match
// that may have begun before it, so that each read looks only at new bytes
// and still finds the first occurrence. NUL bytes are ordinary data here.
size_t FindFrom(std::string_view content, std::string_view what, size_t scanned) {
    size_t from = scanned >= what.size() - 1 ? scanned - (what.size() - 1) : 0;
    return content.find(what, from);
}

bool StartsWithWord(std::string_view line, std::string_view word) {
    if (line.size() < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
        if ((line[i] & ~0x20) != word[i]) return false;
    return true;
}

// Drops the first `count` bytes of the buffer, keeping the rest in order.
void DropFront(TBuforArt& buffer, size_t count) {
    if (count == 0) return;
    buffer.ResizeGap(buffer.Data(), buffer.Data() + count, -static_cast<int32_t>(count));
}

// Cuts the buffer at `end` and returns what followed.
std::string SplitTail(TBuforArt& buffer, size_t end) {
    std::string tail(Content(buffer).substr(end));
    buffer.SetLength(static_cast<int>(end));
    buffer.Grow(0);
    return tail;
}

void Append(TBuforArt& buffer, std::string_view bytes) {
    int old = buffer.Length();
    buffer.Grow(static_cast<int>(bytes.size()));
    std::memcpy(buffer.Data() + old, bytes.data(), bytes.size());
}

// Both connections carry request and reply, each written in several sends:
// with Nagle's rule the last small segment of a reply would wait for the
// reader's delayed acknowledgement (40 ms on Linux) before leaving.
void SendAtOnce(net::TCustomWSocket& socket) {
    net::winsock::SetSockOptInt(socket.Handle(), IPPROTO_TCP, TCP_NODELAY, 1);
}

// The send queue writes blocks of this size, one send each.
constexpr size_t kSendBlock = net::TBuffer::kDefaultBufSize;

// While a burst from the server is passed on, the reader connection is
// corked: the sends of one pass (up to 64 KB each, and what the network
// does not take at once queued in blocks of 1514) fill whole segments
// instead of each leaving as a small packet. The cork goes on only when
// something is sent and more is likely to follow (the last read was full,
// or the bytes take several blocks), and comes off as soon as the server
// has nothing more waiting and the queue is empty, which sends what is held
// at once.
void Cork(TClientNntp& c, bool on) {
    if (c.m_corked == on) return;
    c.m_corked = on;
    net::winsock::SetSockOptInt(c.Handle(), IPPROTO_TCP, TCP_CORK, on ? 1 : 0);
}

void SendBytes(net::TCustomWSocket& socket, std::string_view bytes) {
    if (!bytes.empty()) socket.Send(bytes.data(), static_cast<int>(bytes.size()));
}

}  // namespace

TClientNntp& SessionRelay::ClientOf(net::TCustomWSocket* readerSocket) {
    return static_cast<TClientNntp&>(*readerSocket);
}

TClientNntp& SessionRelay::OwnerOf(net::TCustomWSocket* remoteSocket) {
    return static_cast<TClientNntp&>(*remoteSocket->Owner());
}

void SessionRelay::Start(TClientNntp& c) {
    bool lineMode = m_core.LineMode();
    c.OnDataAvailable = [this](net::TCustomWSocket* s, uint16_t e) { ClientDataAvailable(s, e); };
    c.OnDataSent = [this](net::TCustomWSocket* s, uint16_t e) { ClientDataSent(s, e); };
    c.OnBgException = &ProxyCore::BgException;
    c.SetLineMode(lineMode);
    c.SetLineEnd(std::string(nntp::kLineEnd));
    SendAtOnce(c);

    c.RemoteSocket = std::make_unique<net::TWSocket>(&c);
    net::TWSocket& remote = *c.RemoteSocket;
    // A graceful close, so that an article still in the kernel's buffer
    // reaches the server when the relay ends.
    remote.SetLingerOnOff(net::wsLingerOff);
    remote.SetPort(m_core.Settings().RemotePort);
    remote.SetLineMode(lineMode);
    remote.SetLineEnd(std::string(nntp::kLineEnd));
    remote.OnSessionConnected = [this](net::TCustomWSocket* s, uint16_t e) {
        RemoteSessionConnected(s, e);
    };
    remote.OnDataAvailable = [this](net::TCustomWSocket* s, uint16_t e) {
        RemoteDataAvailable(s, e);
    };
    remote.OnSessionClosed = [this](net::TCustomWSocket* s, uint16_t e) {
        RemoteSessionClosed(s, e);
    };
    remote.OnBgException = &ProxyCore::BgException;
    remote.OnDnsLookupDone = [this](net::TCustomWSocket* s, uint16_t e) {
        RemoteDnsLookupDone(s, e);
    };
    remote.DnsLookup(m_core.Settings().Address);
}

// A news server that cannot be found, or a connection that cannot even be
// started (no descriptor left for the socket), would leave the reader waiting
// for a greeting that never comes: the reader is closed, as after a failed
// connect. The failure stays with this relay and never reaches the listening
// server, which would stop listening for everyone.
void SessionRelay::RemoteDnsLookupDone(net::TCustomWSocket* Sender, uint16_t Error) {
    TClientNntp& c = OwnerOf(Sender);
    if (Error != 0) {
        c.CloseDelayed();
        return;
    }
    try {
        Sender->SetAddr(Sender->DnsResult());
        Sender->Connect();
    } catch (const std::exception&) {
        c.CloseDelayed();
    }
}

void SessionRelay::RemoteSessionConnected(net::TCustomWSocket* Sender, uint16_t Error) {
    if (Error != 0) return;
    SendAtOnce(*Sender);
    Log(OwnerOf(Sender), "Nawiązanie połączenia", {});
}

void SessionRelay::ClientDataAvailable(net::TCustomWSocket* Sender, uint16_t Error) {
    if (Error != 0) return;
    TClientNntp& c = ClientOf(Sender);
    TBuforArt& request = *c.RequestBuffer;
    size_t oldLength = static_cast<size_t>(request.Length());
    int count = ReadInto(c, request);
    if (count < 0) return;
    // Requests that arrive before the news server is connected, or after it
    // has gone, are dropped.
    if (!c.RemoteSocket || c.RemoteSocket->State() != net::wsConnected) return;
    request.Grow(count);
    Log(c, "Żądania", Content(request).substr(oldLength));
    ProcessRequests(c);
}

// Works through everything the reader has sent: commands line by line, and a
// posted article once it is complete. Every command line is examined, so a
// POST that follows other commands in the same read is still checked.
void SessionRelay::ProcessRequests(TClientNntp& c) {
    for (;;) {
        bool progressed = c.Posting ? ForwardArticle(c) : ForwardCommands(c);
        if (!progressed || c.RequestBuffer->Length() == 0) return;
    }
}

// Passes on the complete command lines at the front of the request buffer,
// marking ARTICLE and XOVER and checking POST against the write list. Stops
// after a permitted POST: what follows is the article. Returns whether
// anything was consumed.
bool SessionRelay::ForwardCommands(TClientNntp& c) {
    TBuforArt& request = *c.RequestBuffer;
    std::string_view content = Content(request);
    net::TWSocket& remote = *c.RemoteSocket;
    size_t sentFrom = 0, lineStart = 0;
    while (lineStart < content.size()) {
        size_t lineEnd = FindFrom(content, nntp::kLineEnd, std::max(lineStart, c.m_requestScanned));
        if (lineEnd == std::string_view::npos) break;
        lineEnd += nntp::kLineEnd.size();
        std::string_view line = content.substr(lineStart, lineEnd - lineStart);
        if (StartsWithWord(line, nntp::kXover)) c.OverviewPending = true;
        if (StartsWithWord(line, nntp::kArticle)) c.ArticlePending = true;
        if (StartsWithWord(line, nntp::kPost)) {
            if (!MatchPatternList(c.PeerAddr(), m_core.Settings().WriteAccess)) {
                SendBytes(remote, content.substr(sentFrom, lineStart - sentFrom));
                RefusePost(c);
                sentFrom = lineStart = lineEnd;
                continue;
            }
            c.Posting = true;
            c.m_awaitingPostAnswer = true;
            lineStart = lineEnd;
            break;
        }
        lineStart = lineEnd;
    }
    SendBytes(remote, content.substr(sentFrom, lineStart - sentFrom));
    // The partial line left over has been searched for a line end already;
    // an article after a permitted POST has not been searched at all.
    c.m_requestScanned = c.Posting ? 0 : content.size() - lineStart;
    DropFront(request, lineStart);
    if (!c.Posting && static_cast<size_t>(request.Length()) > nntp::kMaxCommandLine) c.Close();
    return lineStart > 0;
}

// Sends the posted article upstream once its terminating line is in, with
// the footer and the forced charset. Returns whether it was complete.
bool SessionRelay::ForwardArticle(TClientNntp& c) {
    TBuforArt& request = *c.RequestBuffer;
    std::string_view content = Content(request);
    // The terminating line; an empty article is that line alone.
    constexpr std::string_view kDotLine = nntp::kTerminator.substr(2);
    size_t end = kDotLine.size();
    if (!content.starts_with(kDotLine)) {
        size_t found = FindFrom(content, nntp::kTerminator, c.m_requestScanned);
        if (found == std::string_view::npos) {
            c.m_requestScanned = content.size();
            if (content.size() > nntp::kMaxPostedArticle) c.Close();
            return false;
        }
        end = found + nntp::kTerminator.size();
    }
    std::string tail = SplitTail(request, end);
    const auto& id = m_core.Identity();
    request.RewriteArticle(0, id.ProductName, id.ProductUrl, id.ProductVersion,
                           m_core.Settings().Kodowanie, m_core.Settings().Kodowanie, std::string(),
                           true, false);
    Log(c, "Wypchnięcie na serwer", Content(request));
    SendBytes(*c.RemoteSocket, Content(request));
    request.SetLength(0);
    Append(request, tail);
    c.m_requestScanned = 0;
    c.Posting = false;
    return true;
}

// The 441 line goes to the reader without touching either buffer, so neither
// a reply being held nor the requests after the POST are lost.
void SessionRelay::RefusePost(TClientNntp& c) {
    SendBytes(c, nntp::kPostRefused);
}

// Reads what the news server sent, then delivers it. While reads fill
// their room, the same pass reads on (in widened reads) until the socket is
// empty or kBurstRead bytes are in, so a burst goes to the reader in large
// sends; the socket's receive loop calls again while more waits.
void SessionRelay::RemoteDataAvailable(net::TCustomWSocket* Sender, uint16_t Error) {
    if (Error != 0) return;
    TClientNntp& c = OwnerOf(Sender);
    TBuforArt& response = *c.ResponseBuffer;
    const size_t oldLength = static_cast<size_t>(response.Length());
    int32_t room = c.m_fullRead ? kBurstRead : 0;
    bool filled = false;
    for (;;) {
        int count = ReadInto(*Sender, response, room, filled);
        if (count <= 0) {
            filled = false;
            break;
        }
        response.Grow(count);
        if (!filled || static_cast<size_t>(response.Length()) - oldLength >= kBurstRead) break;
        room = kBurstRead;
    }
    c.m_fullRead = filled;
    if (static_cast<size_t>(response.Length()) == oldLength) {
        Cork(c, false);
        return;
    }
    Log(c, "Odpowiedzi", Content(response).substr(oldLength));
    ProcessResponses(c);
    // Bytes still queued for the reader keep the cork on: they leave in
    // whole segments as room appears, and ClientDataSent takes the cork off
    // once the queue is empty.
    if (c.m_corked && c.AllSent() &&
        (!c.m_fullRead || net::winsock::BytesWaiting(Sender->Handle()) <= 0))
        Cork(c, false);
}

void SessionRelay::ProcessResponses(TClientNntp& c) {
    while (c.ResponseBuffer->Length() > 0 && DeliverResponse(c)) {
    }
}

// Delivers what is ready at the front of the response buffer: everything
// when no reply is held, else a held reply once its terminating line is in.
// Bytes after a held reply's end stay for the next round. Returns whether
// something was delivered.
bool SessionRelay::DeliverResponse(TClientNntp& c) {
    TBuforArt& response = *c.ResponseBuffer;
    std::string_view content = Content(response);
    if (c.m_awaitingPostAnswer) {
        c.m_awaitingPostAnswer = false;
        // The server refused the POST itself: no article will follow.
        if (content.front() != '3' && c.Posting) c.Posting = false;
    }
    size_t end = content.size();
    bool held = c.ArticlePending || c.OverviewPending;
    if (held && content.front() != '2') {
        c.ArticlePending = c.OverviewPending = held = false;
    } else if (held) {
        size_t found = FindFrom(content, nntp::kTerminator, c.m_responseScanned);
        if (found == std::string_view::npos) {
            c.m_responseScanned = content.size();
            return false;
        }
        end = found + nntp::kTerminator.size();
    }
    std::string tail = end < content.size() ? SplitTail(response, end) : std::string();
    if (held) RewriteHeld(c);
    SendToReader(c, Content(response));
    response.SetLength(0);
    c.m_responseScanned = 0;
    if (!tail.empty()) Append(response, tail);
    if (c.RequestBuffer->Length() > 0 && !c.Posting) ProcessRequests(c);
    return true;
}

void SessionRelay::RewriteHeld(TClientNntp& c) {
    TBuforArt& response = *c.ResponseBuffer;
    size_t statusEnd = Content(response).find(nntp::kLineEnd) + nntp::kLineEnd.size();
    const auto& id = m_core.Identity();
    if (c.ArticlePending) {
        response.RewriteArticle(static_cast<int>(statusEnd), id.ProductName, id.ProductUrl,
                                id.ProductVersion, std::string(), m_core.Settings().Kodowanie,
                                m_core.Settings().Zawartosc, false, m_core.Settings().Style);
        c.ArticlePending = false;
    } else {
        response.RewriteOverview(static_cast<int>(statusEnd), m_core.Settings().Kodowanie,
                                 m_core.Settings().IgnorowanieBlednych);
        c.OverviewPending = false;
    }
    Log(c, "Wypchnięcie czytnikowi", Content(response));
}

void SessionRelay::SendToReader(TClientNntp& c, std::string_view bytes) {
    if (c.State() == net::wsConnected) {
        if (c.m_fullRead || bytes.size() > kSendBlock) Cork(c, true);
        SendBytes(c, bytes);
        HoldBackServer(c);
        return;
    }
    // The title alone: the colour stays as the last entry set it.
    if (log::LogSink* sink = m_core.LogSinkIfLogging()) {
        sink->SetEntryTitle("Błąd: Komputer źródłowy rozłączył się");
        sink->AddEntry(std::string());
    }
    c.RemoteSocket->CloseDelayed();
}

// The news server has gone. Whatever it sent still reaches the reader: bytes
// left in the socket while the server was held back are taken first, held
// replies they complete are rewritten, an unfinished one goes as it came,
// and the reader is closed only when its send queue is empty. A reset closes
// the reader too, instead of leaving it connected to nothing.
void SessionRelay::RemoteSessionClosed(net::TCustomWSocket* Sender, uint16_t) {
    TClientNntp& c = OwnerOf(Sender);
    TBuforArt& response = *c.ResponseBuffer;
    for (int count; (count = ReadInto(*Sender, response)) > 0;) response.Grow(count);
    if (c.State() == net::wsConnected) ProcessResponses(c);
    if (response.Length() > 0 && c.State() == net::wsConnected) SendBytes(c, Content(response));
    response.SetLength(0);
    c.ArticlePending = c.OverviewPending = false;
    if (c.AllSent())
        c.CloseDelayed();
    else
        c.m_closeWhenSent = true;
}

// The reader has taken everything queued for it: the news server is read
// again if it was held back.
void SessionRelay::ClientDataSent(net::TCustomWSocket* Sender, uint16_t) {
    TClientNntp& c = ClientOf(Sender);
    Cork(c, false);
    if (c.m_closeWhenSent) c.CloseDelayed();
    if (c.m_serverHeldBack && c.RemoteSocket) {
        c.m_serverHeldBack = false;
        c.RemoteSocket->Resume();
    }
}

// Stops reading the news server while too much waits to go to the reader;
// the server then waits in TCP, not in our memory. What the current read
// pass still takes is bounded by the kernel's receive buffer.
void SessionRelay::HoldBackServer(TClientNntp& c) {
    if (c.m_serverHeldBack || !c.RemoteSocket) return;
    if (c.BufferedByteCount() <= nntp::kMaxQueuedForReader) return;
    c.m_serverHeldBack = true;
    c.RemoteSocket->Pause();
}

void SessionRelay::Log(TClientNntp& c, const char* title, std::string_view bytes) {
    log::LogSink* sink = m_core.LogSinkIfLogging();
    if (!sink) return;
    // A logged text ends at its first zero byte.
    bytes = bytes.substr(0, std::min(bytes.size(), bytes.find('\0')));
    sink->SetEntryStyle(c.LogColor, title);
    sink->AddEntry(std::string(bytes));
}

}  // namespace sitowiak::proxy

#include "SessionRelay.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <new>
#include <utility>

#include "net/TBuffer.h"
#include "net/WSocketBinding.h"
#include "net/WSocketTypes.h"
#include "proxy/core/ConnectionColors.h"
#include "proxy/core/ServerAddress.h"
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

std::string_view Content(const TBuforArt& buffer) {
    return {buffer.Data(), static_cast<size_t>(buffer.Length())};
}

// Searches `what` in the buffer from `scanned`, minus the bytes of a match
// that may have begun before it, so that each read looks only at new bytes
// and still finds the first occurrence. NUL bytes are ordinary data here.
size_t FindFrom(std::string_view content, std::string_view what, size_t scanned) {
    size_t from = scanned >= what.size() - 1 ? scanned - (what.size() - 1) : 0;
    return content.find(what, from);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Whether `word` is `upper` without regard to case.
bool SameWord(std::string_view word, std::string_view upper) {
    if (word.size() != upper.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != upper[i]) return false;
    }
    return true;
}

// Splits off the first word of `text` after white space; `text` keeps what
// follows the word.
std::string_view NextWord(std::string_view& text) {
    size_t start = 0;
    while (start < text.size() && IsBlank(text[start])) ++start;
    size_t end = start;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    std::string_view word = text.substr(start, end - start);
    text.remove_prefix(end);
    return word;
}

// The three-digit code at the start of a status line; -1 when there is none.
int StatusCode(std::string_view line) {
    if (line.size() < 3) return -1;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9') return -1;
        code = code * 10 + (line[i] - '0');
    }
    return code;
}

bool IsOverviewField(std::string_view field) {
    return std::any_of(std::begin(nntp::kOverviewFields), std::end(nntp::kOverviewFields),
                       [&](std::string_view f) { return SameWord(field, f); });
}

// Whether the reply with `code` to a command of `verb` is held and rewritten.
bool Rewrites(Verb verb, int code) {
    switch (verb) {
        case Verb::Article:
        case Verb::Body:
        case Verb::Head:
            return code == 220;
        case Verb::Overview:
            return code == 224;
        case Verb::HeaderValues:
            return code == 221 || code == 225;
        case Verb::Capabilities:
            return code == 101;
        default:
            return false;
    }
}

// The refusal of a command that hands the server an article, for a reader
// outside the write list.
std::string Refusal(int code, std::string_view messageId) {
    std::string line = std::to_string(code) + " ";
    if (!messageId.empty()) line.append(messageId).append(" ");
    line.append(nntp::kRefusalText).append(nntp::kLineEnd);
    return line;
}

// Cuts a rewritten article reply to what HEAD or BODY give: the status line
// with their code, then the header or the body, then the terminating line.
void CutArticle(TBuforArt& held, size_t statusEnd, Verb verb) {
    std::string_view reply = Content(held);
    size_t blank = FindFrom(reply, "\r\n\r\n", statusEnd);
    size_t last = reply.size() - nntp::kTerminator.size() + nntp::kLineEnd.size();  // the "."
    if (verb == Verb::Head) {
        held.Data()[2] = '1';
        if (blank != std::string_view::npos && blank + 2 < last)
            held.ResizeGap(held.Data() + blank + 2, held.Data() + last,
                           -static_cast<int32_t>(last - blank - 2));
    } else {
        held.Data()[2] = '2';
        size_t bodyStart = blank == std::string_view::npos ? last : blank + 4;
        if (bodyStart > statusEnd)
            held.ResizeGap(held.Data() + statusEnd, held.Data() + bodyStart,
                           -static_cast<int32_t>(bodyStart - statusEnd));
    }
}

// A greeting (or MODE READER answer) of 200 to a reader who may not post:
// 201, and INN's "(posting ok)" says what it would say itself. The
// phrase is as long as its replacement, so the line keeps its length.
void DenyPosting(char* line, size_t length) {
    line[2] = '1';
    constexpr std::string_view kOffered = "posting ok", kDenied = "no posting";
    static_assert(kOffered.size() == kDenied.size());
    for (size_t i = 3; i + kOffered.size() <= length; ++i) {
        bool same = true;
        for (size_t k = 0; k < kOffered.size() && same; ++k) {
            char ch = line[i + k];
            if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
            same = ch == kOffered[k];
        }
        if (same) {
            std::memcpy(line + i, kDenied.data(), kDenied.size());
            i += kDenied.size() - 1;
        }
    }
}

// Leaves out the capabilities the proxy cannot carry (COMPRESS, STARTTLS)
// and, for a reader outside the write list, those that offer posting.
void DropCapabilities(TBuforArt& held, size_t statusEnd, bool mayPost) {
    std::string_view list = Content(held).substr(statusEnd);
    std::string kept;
    kept.reserve(list.size());
    while (!list.empty()) {
        size_t end = list.find('\n');
        end = end == std::string_view::npos ? list.size() : end + 1;
        std::string_view line = list.substr(0, end);
        list.remove_prefix(end);
        std::string_view rest = line.substr(0, line.find_first_of("\r\n"));
        std::string_view word = NextWord(rest);
        bool drop = SameWord(word, nntp::kCompress) || SameWord(word, nntp::kStartTls) ||
                    (!mayPost && (SameWord(word, nntp::kPost) || SameWord(word, nntp::kIhave)));
        if (!drop) kept += line;
    }
    int32_t change =
        static_cast<int32_t>(kept.size()) - (held.Length() - static_cast<int32_t>(statusEnd));
    char* at = held.ResizeGap(held.Data() + statusEnd, held.Data() + held.Length(), change);
    std::memcpy(at, kept.data(), kept.size());
}

void SendBytes(net::TCustomWSocket& socket, std::string_view bytes) {
    if (!bytes.empty()) socket.Send(bytes.data(), static_cast<int>(bytes.size()));
}

// A relay that queued more than this for its reader leaves the heap holding
// that much in freed blocks: it is given back when the relay ends.
constexpr int64_t kTrimFrom = 1 << 20;

// The send queue writes blocks of this size, one send each.
constexpr size_t kSendBlock = net::TBuffer::kDefaultBufSize;

// While a burst from the server is passed on, the reader connection is
// corked: the sends of one pass (up to 64 KB each, and what the network
// does not take at once queued in blocks of 1514) fill whole segments
// instead of each leaving as a small packet. The cork goes on only when
// something is sent and more is likely to follow (the last two passes
// ended in full reads, or bytes of several blocks wait in the queue): a
// reply of one full read and a short one (about 100 KB) goes in two sends
// without it, saving the calls that set it, take it off and ask whether
// more waits. It comes off as soon as the server has nothing more waiting
// and the queue is empty, which sends what is held at once.
void Cork(TClientNntp& c, bool on) {
    if (c.corked == on) return;
    c.corked = on;
    c.SetCork(on);
}

// The reason a connection to the news server failed, for the reader.
std::string FailureReason(int error) {
    switch (error) {
        case 0:
            return "serwer zamknął połączenie przed powitaniem";
        case net::WSAECONNREFUSED:
            return "serwer odmówił połączenia";
        case net::WSAECONNRESET:
            return "serwer zerwał połączenie przed powitaniem";
        case net::WSAETIMEDOUT:
            return "serwer nie odpowiedział w wyznaczonym czasie";
        case net::WSAENETUNREACH:
        case net::WSAEHOSTUNREACH:
            return "serwer jest nieosiągalny";
        case net::WSAEAFNOSUPPORT:
            return "ten komputer nie obsługuje adresów IPv6";
        case net::WSAHOST_NOT_FOUND:
        case net::WSANO_DATA:
            return "nieznana nazwa serwera";
        case net::WSATRY_AGAIN:
            return "serwer nazw nie odpowiada";
        case net::WSANO_RECOVERY:
            return "błąd serwera nazw";
        case -1:
            return "nie można utworzyć połączenia";
        default:
            return "błąd " + std::to_string(error);
    }
}

// Marks the relay's conversation as being moved on, for the life of the
// object (see SessionRelay::Advance).
struct Running {
    TClientNntp& c;
    explicit Running(TClientNntp& client) : c(client) { c.advancing = true; }
    ~Running() { c.advancing = false; }
};

}  // namespace

// Relay start for an admitted reader. The handlers reach their relay
// directly: the relay owns the upstream socket, so it outlives them.
void SessionRelay::Start(TClientNntp& c) {
    bool lineMode = m_core.LineMode();
    c.OnDataAvailable = [this, &c](net::TCustomWSocket*, uint16_t e) { ClientDataAvailable(c, e); };
    c.OnDataSent = [this, &c](net::TCustomWSocket*, uint16_t e) { ClientDataSent(c, e); };
    c.OnBgException = &ProxyCore::BgException;
    c.SetLineMode(lineMode);
    c.SetLineEnd(std::string(nntp::kLineEnd));
    // Both connections carry request and reply, each written in several
    // sends: with Nagle's rule the last small segment of a reply would wait
    // for the peer's delayed acknowledgement (40 ms on Linux).
    c.SetNoDelay(true);
    // The greeting is the first reply, though nothing asked for it.
    c.Replies.push_back({Verb::Greeting, {}});
    c.heldShare.Bind(&m_heldTotal);

    c.RemoteSocket = std::make_unique<net::TWSocket>(&c);
    net::TWSocket& remote = *c.RemoteSocket;
    // A graceful close, so that an article still in the kernel's buffer
    // reaches the server when the relay ends.
    remote.SetLingerOnOff(net::wsLingerOff);
    remote.SetTlsTimeoutMs(m_core.TlsTimeoutMs);
    const ServerAddress server =
        ParseServerAddress(m_core.Settings().Address, m_core.Settings().RemotePort);
    remote.SetPort(server.Port);
    remote.SetLineMode(lineMode);
    remote.SetLineEnd(std::string(nntp::kLineEnd));
    remote.OnSessionConnected = [this, &c](net::TCustomWSocket*, uint16_t e) {
        RemoteSessionConnected(c, e);
    };
    remote.OnDataAvailable = [this, &c](net::TCustomWSocket*, uint16_t e) {
        RemoteDataAvailable(c, e);
    };
    remote.OnSessionClosed = [this, &c](net::TCustomWSocket*, uint16_t e) {
        RemoteSessionClosed(c, e);
    };
    remote.OnBgException = &ProxyCore::BgException;
    remote.OnDnsLookupDone = [this, &c](net::TCustomWSocket*, uint16_t e) {
        RemoteDnsLookupDone(c, e);
    };
    c.serverName = server.Text();
    c.connector = std::make_unique<UpstreamConnector>(remote, m_core.Settings(), server.Host);
    c.connector->OnHandover = [this, &c](const std::string& greeting) {
        UpstreamReady(c, greeting);
    };
    c.connector->OnFailure = [&c](int code) { c.connectError = code; };
    if (int error = c.connector->Prepare()) {
        NewsServerUnreachable(c, error);
        return;
    }
    // Through SOCKS 5 or 4A the SOCKS server looks the name up.
    if (c.connector->ConnectsByName()) {
        if (int error = c.connector->ConnectByName()) NewsServerUnreachable(c, error);
        return;
    }
    remote.DnsLookup(server.Host);
}

// A news server that cannot be found, or a connection that cannot even be
// started (no descriptor left for the socket), would leave the reader waiting
// for a greeting that never comes: the reader is told why and closed. The
// failure stays with this relay and never reaches the listening server,
// which would stop listening for everyone.
void SessionRelay::RemoteDnsLookupDone(TClientNntp& c, uint16_t Error) {
    if (Error != 0) {
        NewsServerUnreachable(c, Error);
        return;
    }
    // Every address of the name in turn, until one connects.
    net::TWSocket& remote = *c.RemoteSocket;
    try {
        if (remote.DnsResultList().empty())
            remote.SetAddr(remote.DnsResult());
        else
            remote.SetAddrList(remote.DnsResultList());
        if (std::string note = c.connector ? c.connector->TakeLookup() : ""; !note.empty())
            Log(c, "Nawiązywanie połączenia", note);
        remote.Connect();
    } catch (const std::exception&) {
        NewsServerUnreachable(c, -1);
    }
}

// A failed connect is followed by the socket's close, which tells the reader.
void SessionRelay::RemoteSessionConnected(TClientNntp& c, uint16_t Error) {
    if (Error != 0) {
        c.connectError = Error;
        return;
    }
    c.RemoteSocket->SetNoDelay(true);
    if (c.connector) c.connector->Connected();
    Log(c, "Nawiązanie połączenia", {});
}

// One line "400 " and the reason, then the close; the log says the same.
void SessionRelay::NewsServerUnreachable(TClientNntp& c, int error) {
    std::string reason = c.connector ? c.connector->FailureText(error) : std::string();
    if (reason.empty()) reason = FailureReason(error);
    m_core.NewsServerFailed(c, reason);
    std::string line = "400 Brak połączenia z serwerem grup " + c.serverName + ": " + reason +
                       std::string(nntp::kLineEnd);
    std::string detail = c.connector ? c.connector->FailureDetail() : std::string();
    Log(c, "Błąd połączenia z serwerem", detail.empty() ? line : line + detail);
    if (std::string seen = c.connector ? c.connector->UntrustedFingerprint(error) : "";
        !seen.empty())
        m_core.View().CertificateRefused(c.serverName, seen);
    c.Replies.clear();
    if (c.State() == net::wsConnected) SendBytes(c, line);
    CloseWhenSent(c);
}

// The connection is ready after STARTTLS: the greeting the connector kept
// is the server's first reply, as if it had just arrived.
void SessionRelay::UpstreamReady(TClientNntp& c, const std::string& greeting) {
    Guarded(c, [&] {
        c.ResponseBuffer->Append(greeting.data(), static_cast<int32_t>(greeting.size()));
        c.greeted = true;
        Log(c, "Odpowiedzi", greeting);
        Advance(c);
    });
}

void SessionRelay::CloseWhenSent(TClientNntp& c) {
    if (c.AllSent())
        c.CloseDelayed();
    else
        c.closeWhenSent = true;
}

bool SessionRelay::SessionOpen(const TClientNntp& c) {
    return c.greeted && c.RemoteSocket && c.RemoteSocket->State() == net::wsConnected &&
           !(c.connector && c.connector->Busy());
}

bool SessionRelay::MayPost(TClientNntp& c) {
    return MatchPatternList(c.PeerAddr(), m_core.Settings().WriteAccess);
}

// While the reader is held back its bytes are not read: they wait in its
// socket, and the socket asks again only after HoldBackReader resumes it.
void SessionRelay::ClientDataAvailable(TClientNntp& c, uint16_t Error) {
    if (Error != 0 || c.outOfMemory || c.readerHeldBack) return;
    Guarded(c, [&] {
        TBuforArt& request = *c.RequestBuffer;
        size_t oldLength = static_cast<size_t>(request.Length());
        // Commands come a few at a time; a posted article comes in bursts,
        // read as those from the server are.
        bool filled;
        int count = ReadInto(c, request, c.Request == RequestMode::Article ? kBurstRead : 0, filled);
        if (count < 0) return;
        // Requests that arrive after the news server has gone are dropped.
        // Those written before its greeting has come through wait for it,
        // held back past the same bound as commands the server does not read.
        if (c.greeted && !SessionOpen(c)) return;
        request.Grow(count);
        Log(c, "Żądania", Content(request).substr(oldLength));
        Advance(c);
    });
}

// An allocation that fails would otherwise escape to the socket's receive
// loop, which asks again at once: the same growth fails again, for ever,
// and no byte moves. The relay ends instead.
template <typename Step>
void SessionRelay::Guarded(TClientNntp& c, Step step) {
    try {
        step();
    } catch (const std::bad_alloc&) {
        OutOfMemory(c);
    }
}

// Gives back what the relay holds (shrinking never fails), stops reading
// both sides and closes the reader, which ends the relay and with it the
// connection to the news server.
void SessionRelay::OutOfMemory(TClientNntp& c) {
    c.outOfMemory = true;
    c.RequestBuffer->SetLength(0);
    c.ResponseBuffer->SetLength(0);
    if (c.HeldReply) c.HeldReply->SetLength(0);
    c.heldShare.Set(0);
    c.overviewLines.reset();
    c.Replies.clear();
    c.Stage = ReplyStage::StatusLine;
    c.trimAtEnd = true;
    try {
        Log(c, "Błąd: brak pamięci", "Zabrakło pamięci na odpowiedź: połączenie zostaje zamknięte");
    } catch (const std::bad_alloc&) {
    }
    c.CloseDelayed();
}

// A send that fails closes its socket at once, and a closing socket in line
// mode delivers its last line from inside that send: such a nested call
// only asks the running one to go round again, so that no step works on
// buffers changed under it. The news server's close waits the same way.
void SessionRelay::Advance(TClientNntp& c) {
    if (c.advancing) {
        c.advanceAgain = true;
        return;
    }
    {
        Running running(c);
        do {
            c.advanceAgain = false;
            for (bool moved = true; moved;) {
                moved = false;
                while (c.RequestBuffer->Length() > 0 && c.Request != RequestMode::Waiting &&
                       SessionOpen(c) && ForwardRequests(c))
                    moved = true;
                while (DeliverReplies(c)) moved = true;
            }
        } while (c.advanceAgain);
    }
    HoldBackReader(c);
    if (c.serverGone) RemoteSessionClosed(c, 0);
}

// One step on the request side, by what the reader's bytes are now. Returns
// whether anything was consumed.
bool SessionRelay::ForwardRequests(TClientNntp& c) {
    switch (c.Request) {
        case RequestMode::Commands:
            return ForwardCommands(c);
        case RequestMode::Article:
            return ForwardArticle(c);
        case RequestMode::Unchanged:
        case RequestMode::Discarded:
            return ForwardUnchanged(c);
        case RequestMode::Batch:
            return ForwardBatch(c);
        case RequestMode::Waiting:
            return false;
    }
    return false;
}

// Passes on the complete command lines at the front of the request buffer,
// each queued with what it is. A line ends with CR LF or a bare LF, as the
// news server reads it; it goes on with CR LF. Stops where the reader's next
// bytes are no longer commands.
bool SessionRelay::ForwardCommands(TClientNntp& c) {
    TBuforArt& request = *c.RequestBuffer;
    std::string_view content = Content(request);
    std::string out;
    size_t lineStart = 0;
    while (c.Request == RequestMode::Commands && lineStart < content.size()) {
        size_t lineEnd = content.find('\n', lineStart == 0 ? c.requestScanned : lineStart);
        if (lineEnd == std::string_view::npos) break;
        std::string_view line = content.substr(lineStart, lineEnd - lineStart);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ForwardCommand(c, line, out);
        lineStart = lineEnd + 1;
    }
    SendBytes(*c.RemoteSocket, out);
    // The partial line left over has been searched for a line end already.
    c.requestScanned = c.Request == RequestMode::Commands ? content.size() - lineStart : 0;
    request.DropFront(static_cast<int32_t>(lineStart));
    if (c.Request == RequestMode::Commands &&
        static_cast<size_t>(request.Length()) > nntp::kMaxCommandLine)
        c.Close();
    return lineStart > 0;
}

// Queues one command line (without its line end) and adds what goes to the
// server for it to `out`.
void SessionRelay::ForwardCommand(TClientNntp& c, std::string_view line, std::string& out) {
    std::string_view rest = line;
    std::string_view word = NextWord(rest);
    auto pass = [&](Verb verb) {
        out.append(line).append(nntp::kLineEnd);
        c.Replies.push_back({verb, {}});
    };
    auto answer = [&](std::string_view reply) {
        c.Replies.push_back({Verb::Answered, std::string(reply)});
    };
    // The server would read the line only up to the NUL ("POST\0junk" is a
    // POST to INN) while the write list reads all of it: such a line is
    // answered here and never goes on.
    if (line.find('\0') != std::string_view::npos) return answer(nntp::kNulRefused);
    // A line without a word gets no reply from the news server (INN skips
    // it): passing it on would leave the queue one reply short.
    if (word.empty()) return;
    // With no forced value and no style link the rewriter leaves an article
    // as it is: ARTICLE, BODY and HEAD then pass at full speed, unheld.
    const ProxySettings& settings = m_core.Settings();
    const bool articlesStay =
        settings.Kodowanie.empty() && settings.Zawartosc.empty() && !settings.Style;
    if (SameWord(word, nntp::kArticle)) {
        pass(articlesStay ? Verb::Other : Verb::Article);
    } else if (SameWord(word, nntp::kBody) || SameWord(word, nntp::kHead)) {
        if (articlesStay) return pass(Verb::Other);
        // Otherwise asked as ARTICLE, so that the body is converted by the
        // header ARTICLE would use, and cut after rewriting.
        out.append(line.substr(0, line.size() - rest.size() - word.size()))
            .append(nntp::kArticle)
            .append(rest)
            .append(nntp::kLineEnd);
        c.Replies.push_back({SameWord(word, nntp::kBody) ? Verb::Body : Verb::Head, {}});
    } else if (SameWord(word, nntp::kXover) || SameWord(word, nntp::kOver)) {
        pass(Verb::Overview);
    } else if (SameWord(word, nntp::kXhdr) || SameWord(word, nntp::kHdr)) {
        std::string_view args = rest;
        pass(IsOverviewField(NextWord(args)) ? Verb::HeaderValues : Verb::Other);
    } else if (SameWord(word, nntp::kCapabilities)) {
        pass(Verb::Capabilities);
    } else if (SameWord(word, nntp::kMode)) {
        std::string_view args = rest;
        pass(SameWord(NextWord(args), nntp::kReader) ? Verb::ModeReader : Verb::Other);
    } else if (SameWord(word, nntp::kListGroup)) {
        pass(Verb::ListGroup);
    } else if (SameWord(word, nntp::kCompress)) {
        answer(nntp::kCompressRefused);
    } else if (SameWord(word, nntp::kStartTls)) {
        answer(nntp::kStartTlsRefused);
    } else if (SameWord(word, nntp::kPost) || SameWord(word, nntp::kIhave) ||
               SameWord(word, nntp::kTakeThis) || SameWord(word, nntp::kCheck) ||
               SameWord(word, nntp::kXbatch)) {
        std::string_view args = rest;
        std::string_view argument = NextWord(args);
        bool post = SameWord(word, nntp::kPost), ihave = SameWord(word, nntp::kIhave);
        bool takeThis = SameWord(word, nntp::kTakeThis), xbatch = SameWord(word, nntp::kXbatch);
        if (!MayPost(c)) {
            if (post)
                answer(nntp::kPostRefused);
            else if (ihave)
                answer(Refusal(nntp::kIhaveRefusedCode, {}));
            else if (takeThis)
                answer(Refusal(nntp::kTakeThisRefusedCode, argument));
            else if (xbatch)
                answer(Refusal(nntp::kXbatchRefusedCode, {}));
            else
                answer(Refusal(nntp::kCheckRefusedCode, argument));
            // TAKETHIS sends its article without waiting for an answer.
            if (takeThis) c.Request = RequestMode::Discarded;
            return;
        }
        if (post || ihave || xbatch) {
            // Nothing more goes until the server has said whether the
            // article or batch may follow.
            pass(post ? Verb::Post : Verb::Transfer);
            c.Request = RequestMode::Waiting;
            c.transferVerb = post ? Verb::Post : ihave ? Verb::Transfer : Verb::Other;
            c.batchLeft = 0;
            if (xbatch)
                std::from_chars(argument.data(), argument.data() + argument.size(), c.batchLeft);
        } else {
            pass(Verb::Other);
            if (takeThis) c.Request = RequestMode::Unchanged;
        }
    } else {
        pass(Verb::Other);
    }
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
        size_t found = FindFrom(content, nntp::kTerminator, c.requestScanned);
        if (found == std::string_view::npos) {
            c.requestScanned = content.size();
            if (content.size() > nntp::kMaxPostedArticle) c.Close();
            return false;
        }
        end = found + nntp::kTerminator.size();
    }
    // What the reader sent after the article waits apart while it is
    // rewritten in place.
    TBuforArt tail;
    tail.Append(request.Data() + end, request.Length() - static_cast<int32_t>(end));
    request.SetLength(static_cast<int32_t>(end));
    request.Grow(0);
    const auto& id = m_core.Identity();
    request.RewriteArticle(0, id.ProductName, id.ProductUrl, id.ProductVersion,
                           m_core.Settings().Kodowanie, m_core.Settings().Kodowanie, std::string(),
                           true, false);
    Log(c, "Wypchnięcie na serwer", Content(request));
    SendBytes(*c.RemoteSocket, Content(request));
    request.SetLength(0);
    request.Append(tail.Data(), tail.Length());
    c.requestScanned = 0;
    c.Request = RequestMode::Commands;
    return true;
}

// An article passed on as it is (IHAVE, TAKETHIS) or dropped (a refused
// TAKETHIS), up to its terminating line.
bool SessionRelay::ForwardUnchanged(TClientNntp& c) {
    TBuforArt& request = *c.RequestBuffer;
    std::string_view content = Content(request);
    constexpr std::string_view kDotLine = nntp::kTerminator.substr(2);
    size_t end = kDotLine.size();
    bool complete = c.requestScanned == 0 && content.starts_with(kDotLine);
    if (!complete) {
        size_t found = FindFrom(content, nntp::kTerminator, c.requestScanned);
        complete = found != std::string_view::npos;
        // Without the end, all but the bytes that may begin it.
        end = complete ? found + nntp::kTerminator.size()
                       : content.size() - std::min(content.size(), nntp::kTerminator.size() - 1);
    }
    if (c.Request == RequestMode::Unchanged) SendBytes(*c.RemoteSocket, content.substr(0, end));
    request.DropFront(static_cast<int32_t>(end));
    c.requestScanned = complete ? 0 : static_cast<size_t>(request.Length());
    if (complete) c.Request = RequestMode::Commands;
    return end > 0;
}

// An XBATCH batch: the announced number of bytes, passed on as they are.
bool SessionRelay::ForwardBatch(TClientNntp& c) {
    TBuforArt& request = *c.RequestBuffer;
    int64_t n = std::min<int64_t>(c.batchLeft, request.Length());
    SendBytes(*c.RemoteSocket, Content(request).substr(0, static_cast<size_t>(n)));
    request.DropFront(static_cast<int32_t>(n));
    c.batchLeft -= n;
    if (c.batchLeft <= 0) c.Request = RequestMode::Commands;
    return n > 0 || c.Request == RequestMode::Commands;
}

// Reads what the news server sent, then delivers it. While reads fill
// their room, the same pass reads on (in widened reads) until the socket is
// empty or kBurstRead bytes are in, so a burst goes to the reader in large
// sends; the socket's receive loop calls again while more waits.
void SessionRelay::RemoteDataAvailable(TClientNntp& c, uint16_t Error) {
    if (Error != 0 || c.outOfMemory) return;
    Guarded(c, [&] { ReadFromServer(c); });
}

void SessionRelay::ReadFromServer(TClientNntp& c) {
    net::TWSocket& remote = *c.RemoteSocket;
    // While a held reply is collected and nothing follows it yet, the bytes
    // are read straight into it.
    TBuforArt& response =
        c.Stage == ReplyStage::Held && c.HeldReply && c.ResponseBuffer->Length() == 0
            ? *c.HeldReply
            : *c.ResponseBuffer;
    const size_t oldLength = static_cast<size_t>(response.Length());
    // Replies of some kilobytes then take one read each, not a first read
    // into the buffer's small room and a second one; after small replies
    // the small room comes back (the buffer gives a wide block back as soon
    // as it is empty, so an idle reader keeps only the small one). A pass
    // that ended in a full read took kBurstRead bytes, so it was wide too.
    int32_t room = c.wideReads ? kBurstRead : 0;
    bool filled = false;
    for (;;) {
        int count = ReadInto(remote, response, room, filled);
        if (count <= 0) {
            filled = false;
            break;
        }
        response.Grow(count);
        if (!filled || static_cast<size_t>(response.Length()) - oldLength >= kBurstRead) break;
        room = kBurstRead;
    }
    c.fullReads = filled ? std::min(c.fullReads + 1, 2) : 0;
    c.wideReads = static_cast<size_t>(response.Length()) - oldLength >
                  static_cast<size_t>(TBuforArt::ReserveSize());
    if (static_cast<size_t>(response.Length()) == oldLength) {
        Cork(c, false);
        return;
    }
    c.greeted = true;
    Log(c, "Odpowiedzi", Content(response).substr(oldLength));
    Advance(c);
    // Bytes still queued for the reader keep the cork on: they leave in
    // whole segments as room appears, and ClientDataSent takes the cork off
    // once the queue is empty.
    if (c.corked && c.AllSent() && (c.fullReads == 0 || remote.WaitingByteCount() <= 0))
        Cork(c, false);
}

// Delivers what is ready at the front of the reply queue: the proxy's own
// answers, single-line replies once their line is in, multi-line replies
// that are not rewritten as they come, and held replies once complete.
// Returns whether anything was delivered.
bool SessionRelay::DeliverReplies(TClientNntp& c) {
    bool delivered = false;
    size_t at = 0;  // bytes of the response buffer already delivered
    auto consumed = [&] {
        c.ResponseBuffer->DropFront(static_cast<int32_t>(at));
        at = 0;
    };
    for (;;) {
        if (!c.Replies.empty() && c.Replies.front().verb == Verb::Answered) {
            SendToReader(c, c.Replies.front().answer);
            c.Replies.pop_front();
            delivered = true;
            continue;
        }
        if (c.Stage == ReplyStage::Draining) {
            if (!DrainHeld(c)) break;
            delivered = true;
            continue;
        }
        std::string_view content = Content(*c.ResponseBuffer).substr(at);
        if (content.empty() && c.Stage != ReplyStage::Held) break;
        if (c.Replies.empty()) {
            // Nothing was asked: passed on as it comes.
            SendToReader(c, content);
            at += content.size();
            delivered = true;
            break;
        }
        Verb verb = c.Replies.front().verb;
        if (c.Stage == ReplyStage::StatusLine) {
            size_t eol = content.find(nntp::kLineEnd);
            if (eol == std::string_view::npos) {
                if (content.size() <= nntp::kMaxStatusLine) break;
                // No status line at all: passed on as it came.
                SendToReader(c, content);
                at += content.size();
                delivered = true;
                break;
            }
            size_t lineEnd = eol + nntp::kLineEnd.size();
            int code = StatusCode(content);
            bool multiLine =
                nntp::IsMultiLineCode(code) || (verb == Verb::ListGroup && code == 211);
            if (multiLine && Rewrites(verb, code) &&
                (verb == Verb::Overview || verb == Verb::HeaderValues)) {
                // An overview's lines are independent: each is rewritten as
                // it comes, with the settings of this moment.
                const ProxySettings& s = m_core.Settings();
                c.overviewLines = std::make_unique<filter::OverviewLineRewriter>(
                    s.Kodowanie, s.IgnorowanieBlednych, s.KodowanieNieoznaczonych);
                SendToReader(c, content.substr(0, lineEnd));
                at += lineEnd;
                delivered = true;
                c.Stage = ReplyStage::Lines;
                c.responseScanned = 0;
                continue;
            }
            if (multiLine) {
                c.Stage = Rewrites(verb, code) ? ReplyStage::Held : ReplyStage::Streamed;
                c.responseScanned = 0;
                continue;
            }
            // A reader outside the write list is told that it may not post.
            if ((verb == Verb::Greeting || verb == Verb::ModeReader) && code == 200 && !MayPost(c))
                DenyPosting(c.ResponseBuffer->Data() + at, eol);
            SendToReader(c, Content(*c.ResponseBuffer).substr(at, lineEnd));
            at += lineEnd;
            delivered = true;
            ReplyEnded(c, code);
            continue;
        }
        if (c.Stage == ReplyStage::Streamed) {
            size_t found = FindFrom(content, nntp::kTerminator, c.responseScanned);
            if (found == std::string_view::npos) {
                // All but the bytes that may begin the terminating line.
                size_t keep = std::min(content.size(), nntp::kTerminator.size() - 1);
                SendToReader(c, content.substr(0, content.size() - keep));
                at += content.size() - keep;
                c.responseScanned = keep;
                delivered = delivered || content.size() > keep;
                break;
            }
            size_t end = found + nntp::kTerminator.size();
            SendToReader(c, content.substr(0, end));
            at += end;
            delivered = true;
            ReplyEnded(c, 0);
            continue;
        }
        if (c.Stage == ReplyStage::Lines) {
            bool ended = false;
            size_t used = DeliverLines(c, content, ended);
            at += used;
            delivered = delivered || used > 0;
            if (!ended) break;
            // Lines left out are said, so that a short group is explained.
            if (size_t left = c.overviewLines->LeftOut(); left > 0)
                Log(c, "Pominięte wiersze",
                    "Wiersze z bajtami 8-bitowymi spoza słów kodowanych, których nie da "
                    "się odczytać, pominięte (Ignorowanie nagłówków Utf-8): " +
                        std::to_string(left));
            c.overviewLines.reset();
            ReplyEnded(c, 0);
            continue;
        }
        if (c.Stage == ReplyStage::Skipped) {
            size_t found = FindFrom(content, nntp::kTerminator, c.responseScanned);
            if (found == std::string_view::npos) {
                size_t keep = std::min(content.size(), nntp::kTerminator.size() - 1);
                at += content.size() - keep;
                c.responseScanned = keep;
                break;
            }
            at += found + nntp::kTerminator.size();
            SendToReader(c, nntp::kTerminator.substr(nntp::kLineEnd.size()));
            delivered = true;
            ReplyEnded(c, 0);
            continue;
        }
        // Held: the reply is collected in its own buffer, so that it can be
        // rewritten in place; what follows it stays in the response buffer.
        consumed();
        if (!c.HeldReply) c.HeldReply = std::make_unique<TBuforArt>();
        if (c.HeldReply->Length() == 0) {
            std::swap(c.HeldReply, c.ResponseBuffer);
        } else {
            c.HeldReply->Append(c.ResponseBuffer->Data(), c.ResponseBuffer->Length());
            c.ResponseBuffer->SetLength(0);
        }
        TBuforArt& reply = *c.HeldReply;
        c.heldShare.Set(reply.Length());
        size_t found = FindFrom(Content(reply), nntp::kTerminator, c.responseScanned);
        if (found == std::string_view::npos) {
            c.responseScanned = static_cast<size_t>(reply.Length());
            const bool overTotal = m_heldTotal > m_core.MaxHeldTotal;
            if (c.responseScanned <= nntp::kMaxHeldReply && !overTotal) break;
            StopHolding(c, verb, overTotal);
            delivered = true;
            continue;
        }
        size_t end = found + nntp::kTerminator.size();
        c.ResponseBuffer->Append(reply.Data() + end, reply.Length() - static_cast<int32_t>(end));
        reply.SetLength(static_cast<int32_t>(end));
        reply.Grow(0);
        SendHeld(c, verb);
        delivered = true;
        ReplyEnded(c, 0);
    }
    consumed();
    return delivered;
}

// The reply at the front of the queue is complete: a POST, IHAVE or XBATCH
// answered with 3xx lets its article or batch follow and stays queued for
// the final answer; any other answer lets the commands behind it go on.
void SessionRelay::ReplyEnded(TClientNntp& c, int code) {
    Outstanding& front = c.Replies.front();
    c.Stage = ReplyStage::StatusLine;
    c.responseScanned = 0;
    if (front.verb == Verb::Post || front.verb == Verb::Transfer) {
        if (code / 100 == 3) {
            front.verb = Verb::Other;
            c.Request = c.transferVerb == Verb::Post       ? RequestMode::Article
                        : c.transferVerb == Verb::Transfer ? RequestMode::Unchanged
                                                           : RequestMode::Batch;
            return;
        }
        c.Request = RequestMode::Commands;
    }
    c.Replies.pop_front();
}

// Rewrites and passes on the complete overview lines at the front of
// `content`, each exactly as RewriteOverview gives it in the whole reply.
size_t SessionRelay::DeliverLines(TClientNntp& c, std::string_view content, bool& ended) {
    return c.overviewLines->RewriteLines(content, c.responseScanned, ended,
                                         [&](std::string_view bytes) {
                                             Log(c, "Wypchnięcie czytnikowi", bytes);
                                             SendToReader(c, bytes);
                                         });
}

// A held reply past the ceiling is not rewritten: what is held goes to the
// reader as it came (cut to what BODY or HEAD give, when they were asked as
// ARTICLE), and the rest passes as it comes. The held bytes go in pieces as
// the reader takes them, from where they are, while the server is held
// back: copied to the send queue at once they would cost their size again.
// The bytes that may begin the terminating line stay to be searched with
// what follows.
void SessionRelay::StopHolding(TClientNntp& c, Verb verb, bool overTotal) {
    Log(c, "Odpowiedź bez filtrowania",
        overTotal ? "Odpowiedzi czekające na przepisanie zajmują razem ponad " +
                        std::to_string(m_core.MaxHeldTotal >> 20) +
                        " MiB: ta idzie do czytnika bez przepisania"
                  : std::string("Odpowiedź przekroczyła 256 MiB: idzie do czytnika bez "
                                "przepisania"));
    TBuforArt& held = *c.HeldReply;
    std::string_view content = Content(held);
    const size_t statusEnd = content.find(nntp::kLineEnd) + nntp::kLineEnd.size();
    const size_t keep = nntp::kTerminator.size() - 1;
    const size_t end = content.size() - keep;
    size_t blank = FindFrom(content, "\r\n\r\n", statusEnd);
    if (blank == std::string_view::npos || blank + 4 > end) verb = Verb::Article;
    // Everything was moved into the held reply: the response buffer is empty.
    c.ResponseBuffer->Append(held.Data() + end, static_cast<int32_t>(keep));
    c.afterDrain = ReplyStage::Streamed;
    if (verb == Verb::Head) {
        held.Data()[2] = '1';
        held.SetLength(static_cast<int32_t>(blank + 2));
        c.afterDrain = ReplyStage::Skipped;
    } else if (verb == Verb::Body) {
        held.Data()[2] = '2';
        held.SetLength(static_cast<int32_t>(end));
        held.ResizeGap(held.Data() + statusEnd, held.Data() + blank + 4,
                       -static_cast<int32_t>(blank + 4 - statusEnd));
    } else {
        held.SetLength(static_cast<int32_t>(end));
    }
    c.heldSent = 0;
    c.responseScanned = 0;
    c.Stage = ReplyStage::Draining;
    if (!c.serverHeldBack && c.RemoteSocket) {
        c.serverHeldBack = true;
        c.RemoteSocket->Pause();
    }
}

// Sends as much of a reply that stopped being held as the reader's queue
// has room for. Returns whether all of it has gone; the held block is then
// given back and the server read again.
bool SessionRelay::DrainHeld(TClientNntp& c) {
    TBuforArt& held = *c.HeldReply;
    const size_t length = static_cast<size_t>(held.Length());
    // What the network takes at once leaves room for more; once the queue
    // is full, its emptying (ClientDataSent) asks for the next piece.
    while (c.heldSent < length) {
        const int64_t room = nntp::kMaxQueuedForReader - c.BufferedByteCount();
        if (room <= 0) return false;
        size_t n = std::min(length - c.heldSent, static_cast<size_t>(room));
        // A reader that has gone takes nothing: SendToReader closes the rest.
        if (c.State() != net::wsConnected) n = length - c.heldSent;
        SendToReader(c, Content(held).substr(c.heldSent, n));
        c.heldSent += n;
    }
    held.SetLength(0);
    c.heldShare.Set(0);
    c.heldSent = 0;
    c.Stage = c.afterDrain;
    if (c.serverHeldBack && c.RemoteSocket && c.BufferedByteCount() <= nntp::kMaxQueuedForReader) {
        c.serverHeldBack = false;
        c.RemoteSocket->Resume();
    }
    return true;
}

// Rewrites a complete held reply with the settings of this moment and
// sends it to the reader.
void SessionRelay::SendHeld(TClientNntp& c, Verb verb) {
    TBuforArt& held = *c.HeldReply;
    size_t statusEnd = Content(held).find(nntp::kLineEnd) + nntp::kLineEnd.size();
    const auto& id = m_core.Identity();
    const ProxySettings& s = m_core.Settings();
    switch (verb) {
        case Verb::Article:
        case Verb::Body:
        case Verb::Head:
            held.RewriteArticle(statusEnd, id.ProductName, id.ProductUrl, id.ProductVersion,
                                s.KodowanieNieoznaczonych, s.Kodowanie, s.Zawartosc, false,
                                s.Style);
            if (verb != Verb::Article) CutArticle(held, statusEnd, verb);
            break;
        case Verb::Capabilities:
            DropCapabilities(held, statusEnd, MayPost(c));
            break;
        default:
            break;
    }
    Log(c, "Wypchnięcie czytnikowi", Content(held));
    SendToReader(c, Content(held));
    held.SetLength(0);
    c.heldShare.Set(0);
}

void SessionRelay::SendToReader(TClientNntp& c, std::string_view bytes) {
    if (bytes.empty()) return;
    if (c.State() == net::wsConnected) {
        if (c.fullReads > 1) Cork(c, true);
        SendBytes(c, bytes);
        // What the socket did not take at once leaves in blocks as room
        // appears: corked, they fill whole segments. Bytes taken whole need
        // no cork, and setting it on and off costs two calls per reply.
        if (!c.AllSent() && bytes.size() > kSendBlock) Cork(c, true);
        HoldBackServer(c);
        return;
    }
    // The title alone: the colour stays as the last entry set it.
    if (log::LogSink* sink = m_core.LogSinkIfLogging()) {
        sink->SetEntryTitle("Błąd: Komputer źródłowy rozłączył się");
        sink->AddEntry(std::string());
    }
    if (c.RemoteSocket) c.RemoteSocket->CloseDelayed();
}

// The news server has gone. Whatever it sent still reaches the reader: bytes
// left in the socket while the server was held back are taken first, held
// replies they complete are rewritten, an unfinished one goes as it came,
// and the reader is closed only when its send queue is empty. A reset closes
// the reader too, instead of leaving it connected to nothing. A server that
// goes before its greeting leaves the reader a line that says why.
void SessionRelay::RemoteSessionClosed(TClientNntp& c, uint16_t Error) {
    if (c.outOfMemory) return;
    Guarded(c, [&] { ServerClosed(c, Error); });
}

void SessionRelay::ServerClosed(TClientNntp& c, uint16_t Error) {
    if (c.advancing) {
        c.serverGone = true;
        if (c.connectError == 0) c.connectError = Error;
        return;
    }
    c.serverGone = false;
    if (!c.greeted) {
        NewsServerUnreachable(c, c.connectError != 0 ? c.connectError : Error);
        return;
    }
    TBuforArt& response = *c.ResponseBuffer;
    for (int count; (count = ReadInto(*c.RemoteSocket, response)) > 0;) response.Grow(count);
    if (c.State() == net::wsConnected) {
        Running running(c);
        DeliverReplies(c);
        if (c.HeldReply) SendBytes(c, Content(*c.HeldReply).substr(c.heldSent));
        SendBytes(c, Content(*c.ResponseBuffer));
    }
    if (c.HeldReply) c.HeldReply->SetLength(0);
    c.heldShare.Set(0);
    c.heldSent = 0;
    c.ResponseBuffer->SetLength(0);
    c.Replies.clear();
    c.overviewLines.reset();
    c.Stage = ReplyStage::StatusLine;
    CloseWhenSent(c);
}

// The reader has taken everything queued for it: the news server is read
// again if it was held back.
void SessionRelay::ClientDataSent(TClientNntp& c, uint16_t) {
    Cork(c, false);
    if (c.closeWhenSent) c.CloseDelayed();
    if (c.outOfMemory) return;
    // The next piece of a reply that stopped being held; the server stays
    // held back until all of it has gone.
    if (c.Stage == ReplyStage::Draining) Guarded(c, [&] { Advance(c); });
    if (c.Stage == ReplyStage::Draining) return;
    if (c.serverHeldBack && c.RemoteSocket) {
        c.serverHeldBack = false;
        c.RemoteSocket->Resume();
    }
    HoldBackReader(c);
}

// Stops reading the news server while too much waits to go to the reader;
// the server then waits in TCP, not in our memory. What the current read
// pass still takes is bounded by the kernel's receive buffer.
void SessionRelay::HoldBackServer(TClientNntp& c) {
    if (c.BufferedByteCount() > kTrimFrom) c.trimAtEnd = true;
    if (c.serverHeldBack || !c.RemoteSocket) return;
    if (c.BufferedByteCount() <= nntp::kMaxQueuedForReader) return;
    c.serverHeldBack = true;
    c.RemoteSocket->Pause();
}

// Stops reading the reader while too much waits to go to the news server
// (a server that does not read, or one held back because this very reader
// does not read its replies) or to the reader itself (answers the proxy
// gives on its own, which no server holds back), and reads it again once
// half of that has gone. Called after every step of the conversation and
// whenever either send queue runs empty. Of the request buffer only what
// waits for a POST's answer, or for the news server's greeting, counts: a
// partial command line and a posted article being collected must be read
// to their end before any of them can go (holding them would never end),
// and their own limits bound them.
void SessionRelay::HoldBackReader(TClientNntp& c) {
    if (!c.RemoteSocket || c.outOfMemory) return;
    int64_t waiting = c.RemoteSocket->BufferedByteCount();
    if (c.Request == RequestMode::Waiting || !c.greeted) waiting += c.RequestBuffer->Length();
    // While a command waits for the server's reply, the proxy's own answers
    // wait behind it and the server, held back past the bound, stops
    // sending: that chain bounds the queue, and a pipelining reader keeps
    // the server fed with its next commands. With nothing owed by the server
    // only the reader's own queue can stop it.
    const int64_t toReader = c.Replies.empty() ? c.BufferedByteCount() : 0;
    if (!c.readerHeldBack) {
        if (waiting <= nntp::kMaxQueuedForServer && c.Replies.size() <= nntp::kMaxOutstanding &&
            toReader <= nntp::kMaxQueuedForReader)
            return;
        c.readerHeldBack = true;
        c.trimAtEnd = true;
        if (!c.RemoteSocket->OnDataSent)
            c.RemoteSocket->OnDataSent = [this, &c](net::TCustomWSocket*, uint16_t) {
                HoldBackReader(c);
            };
        return;
    }
    if (waiting > nntp::kMaxQueuedForServer / 2 || c.Replies.size() > nntp::kMaxOutstanding / 2 ||
        toReader > nntp::kMaxQueuedForReader / 2)
        return;
    c.readerHeldBack = false;
    // Asks the socket afresh for what waits in it.
    if (c.State() == net::wsConnected) c.Resume();
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

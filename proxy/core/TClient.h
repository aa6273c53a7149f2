// The relay object: one per reader connection. It is the accepted reader
// socket itself, extended with the upstream socket to the news server and
// the two buffers in which each direction's bytes wait to be passed on.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "filter/OverviewLineRewriter.h"
#include "filter/TBuforArt.h"
#include "log/LogSink.h"
#include "net/TWSocket.h"
#include "net/TWSocketClient.h"
#include "proxy/core/UpstreamConnector.h"

namespace sitowiak::proxy {

class TClient : public net::TWSocketClient {
public:
    explicit TClient(net::TCustomWSocket* AOwner);
    // Destroys the upstream socket (closing that connection), then the buffers.
    ~TClient() override;

    log::Rgb LogColor = 0;
    std::unique_ptr<net::TWSocket> RemoteSocket;
    std::unique_ptr<filter::TBuforArt> RequestBuffer;
    std::unique_ptr<filter::TBuforArt> ResponseBuffer;
    // Much passed through this relay: when it ends, the allocator is asked
    // to give its free memory back to the system.
    bool trimAtEnd = false;
};

// One relay's part of the bytes that all relays hold for rewriting, kept in
// a total the relays share; the part leaves the total with the relay.
class HeldShare {
public:
    HeldShare() = default;
    HeldShare(const HeldShare&) = delete;
    HeldShare& operator=(const HeldShare&) = delete;
    ~HeldShare() { Set(0); }

    void Bind(int64_t* total) { m_total = total; }
    void Set(int64_t bytes) {
        if (m_total) *m_total += bytes - m_bytes;
        m_bytes = bytes;
    }

private:
    int64_t* m_total = nullptr;
    int64_t m_bytes = 0;
};

// What one outstanding command is, as far as its reply is concerned.
enum class Verb : uint8_t {
    Greeting,      // the server's first line, not asked for
    Other,         // passed on unchanged
    Article,       // ARTICLE: a 220 is held and rewritten
    Body,          // BODY asked as ARTICLE (something is forced): rewritten, cut to the body
    Head,          // HEAD asked as ARTICLE (something is forced): rewritten, cut to the header
    Overview,      // XOVER and OVER: a 224 is rewritten line by line as it comes
    HeaderValues,  // XHDR and HDR of an overview field: rewritten as overview lines
    Capabilities,  // a 101 is held and loses what the proxy cannot carry
    ModeReader,    // MODE READER: 200 becomes 201 outside the write list
    ListGroup,     // its 211 is multi-line
    Post,          // POST: a 340 lets the article follow
    Transfer,      // IHAVE or XBATCH: a 3xx lets the article or batch follow
    Answered,      // the proxy answers it itself, in turn
};

struct Outstanding {
    Verb verb = Verb::Other;
    std::string answer;  // Answered: the proxy's own reply
};

// The outstanding commands, oldest first. A vector read from `m_head`: it
// allocates nothing until the first command, and keeps a small room once the
// queue has run empty. The answered entries before `m_head` are dropped
// once they are half of it, so a queue that never runs empty (a reader that
// always has commands in flight) does not grow.
class ReplyQueue {
public:
    bool empty() const { return m_head == m_items.size(); }
    size_t size() const { return m_items.size() - m_head; }
    Outstanding& front() { return m_items[m_head]; }
    void push_back(Outstanding item) { m_items.push_back(std::move(item)); }
    void pop_front() {
        if (++m_head == m_items.size()) {
            clear();
        } else if (m_head >= kCompactFrom && m_head * 2 >= m_items.size()) {
            m_items.erase(m_items.begin(), m_items.begin() + static_cast<ptrdiff_t>(m_head));
            m_head = 0;
        }
    }
    void clear() {
        if (m_items.capacity() > kCompactFrom)
            std::vector<Outstanding>().swap(m_items);
        else
            m_items.clear();
        m_head = 0;
    }

private:
    static constexpr size_t kCompactFrom = 256;
    std::vector<Outstanding> m_items;
    size_t m_head = 0;
};

// What the reader's next bytes are.
enum class RequestMode : uint8_t {
    Commands,   // command lines
    Waiting,    // a POST, IHAVE or XBATCH went on: nothing more goes until its answer
    Article,    // a permitted POST's article: collected, rewritten, sent
    Unchanged,  // an IHAVE or TAKETHIS article: passed on as it is, to its end
    Discarded,  // the article of a refused TAKETHIS: dropped, to its end
    Batch,      // an XBATCH batch: batchLeft bytes passed on as they are
};

// The reply at the front of the queue, once its status line is in.
enum class ReplyStage : uint8_t {
    StatusLine,  // waiting for the status line
    Streamed,    // multi-line, passed on as it comes, to its terminating line
    Held,        // multi-line, collected in HeldReply to be rewritten
    Lines,       // an overview: each line rewritten and passed on as it comes
    Skipped,     // the rest of a HEAD asked as ARTICLE, dropped to its end
    Draining,    // a held reply past the ceiling, sent unrewritten as the reader takes it
};

class TClientNntp : public TClient {
public:
    explicit TClientNntp(net::TCustomWSocket* AOwner);

    // Request side.
    RequestMode Request = RequestMode::Commands;
    size_t requestScanned = 0;        // bytes of RequestBuffer searched for an end
    int64_t batchLeft = 0;            // Batch: bytes still to pass on
    Verb transferVerb = Verb::Other;  // Waiting for: Post, Transfer (IHAVE) or Other (XBATCH)

    // Reply side: every command passed on or answered, oldest first; the
    // next reply from the server belongs to the first entry that the proxy
    // does not answer itself.
    ReplyQueue Replies;
    ReplyStage Stage = ReplyStage::StatusLine;
    size_t responseScanned = 0;  // bytes searched for the terminating line
    // A held reply being collected; the ResponseBuffer keeps what follows
    // it. Made at the first held reply, so an idle reader costs no third
    // buffer.
    std::unique_ptr<filter::TBuforArt> HeldReply;
    HeldShare heldShare;                            // HeldReply's bytes in the shared total
    size_t heldSent = 0;                            // Draining: bytes of HeldReply sent
    ReplyStage afterDrain = ReplyStage::Streamed;  // Draining: what the rest of the reply is
    // Lines: the rewriting of the overview's lines, with the settings of
    // the moment its status line came.
    std::unique_ptr<filter::OverviewLineRewriter> overviewLines;

    // Connection.
    std::string serverName;       // "address:port", for the failure line
    // When the reader was let in, for the line at its end.
    std::chrono::steady_clock::time_point admittedAt{};
    bool admitted = false;
    std::unique_ptr<UpstreamConnector> connector;  // TLS or STARTTLS set-up
    bool greeted = false;         // a byte has come from the news server
    int connectError = 0;         // why the connection to it failed
    bool closeWhenSent = false;   // the server has gone: close once the queue is sent
    bool advancing = false;       // SessionRelay::Advance is running for this relay
    bool advanceAgain = false;    // ... and was asked again from inside
    bool serverGone = false;      // ... and the news server closed meanwhile
    bool corked = false;          // the reader connection holds partial segments
    int fullReads = 0;            // passes in a row (0 to 2) whose last server read was full
    bool wideReads = false;       // the last pass from the server took more than a first room
    bool serverHeldBack = false;  // the server is not read until the reader catches up
    bool readerHeldBack = false;  // the reader is not read until the server catches up
    bool outOfMemory = false;     // an allocation failed: nothing more is read, the reader closes
};

}  // namespace sitowiak::proxy

// The relay object: one per reader connection. It is the accepted reader
// socket itself, extended with the upstream socket to the news server and
// the two buffers in which each direction's bytes wait to be passed on.
#pragma once

#include <memory>

#include "filter/TBuforArt.h"
#include "log/LogSink.h"
#include "net/TWSocket.h"
#include "net/TWSocketClient.h"

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
};

class TClientNntp : public TClient {
public:
    explicit TClientNntp(net::TCustomWSocket* AOwner);

    bool Posting = false;          // what the reader sends next is an article
    bool ArticlePending = false;   // an ARTICLE reply is held until complete
    bool OverviewPending = false;  // an XOVER reply is held until complete

    // Our additions to the relay's state.
    // Bytes of each buffer already searched for a line end or the
    // terminating line, so that every read searches only the new bytes.
    size_t m_requestScanned = 0;
    size_t m_responseScanned = 0;
    // A POST went to the server and its answer has not come yet: anything
    // but a 3xx continuation ends Posting.
    bool m_awaitingPostAnswer = false;
    // The news server has gone: close the reader once its queue is sent.
    bool m_closeWhenSent = false;
    // The reader connection holds partial segments while a burst from the
    // server is being passed on (see SessionRelay).
    bool m_corked = false;
    // The last read from the server filled its room: more of a burst waits.
    bool m_fullRead = false;
    // The news server is not read until the reader has taken its queue.
    bool m_serverHeldBack = false;
};

}  // namespace sitowiak::proxy

// The relay between each reader and its news server connection: the event
// handlers of the reader socket and of the upstream socket. Requests go
// upstream as soon as a line is complete; responses go to the reader as they
// come, except a 2xx reply to ARTICLE or XOVER, which is held until its
// terminating line and rewritten, and a posted article, which is collected,
// rewritten with the footer and then sent upstream.
#pragma once

#include <cstdint>
#include <exception>
#include <string_view>

#include "proxy/core/TClient.h"

namespace sitowiak::proxy {

class ProxyCore;

class SessionRelay {
public:
    explicit SessionRelay(ProxyCore& core) : m_core(core) {}

    // Relay start for an admitted reader: handlers, the upstream socket and
    // the lookup of the news server; the connection follows the lookup.
    void Start(TClientNntp& client);

    void ClientDataAvailable(net::TCustomWSocket* Sender, uint16_t Error);
    void ClientDataSent(net::TCustomWSocket* Sender, uint16_t Error);
    void RemoteDnsLookupDone(net::TCustomWSocket* Sender, uint16_t Error);
    void RemoteSessionConnected(net::TCustomWSocket* Sender, uint16_t Error);
    void RemoteDataAvailable(net::TCustomWSocket* Sender, uint16_t Error);
    void RemoteSessionClosed(net::TCustomWSocket* Sender, uint16_t Error);

private:
    static TClientNntp& ClientOf(net::TCustomWSocket* readerSocket);
    static TClientNntp& OwnerOf(net::TCustomWSocket* remoteSocket);

    void ProcessRequests(TClientNntp& c);
    bool ForwardCommands(TClientNntp& c);
    bool ForwardArticle(TClientNntp& c);
    void ProcessResponses(TClientNntp& c);
    bool DeliverResponse(TClientNntp& c);
    void RewriteHeld(TClientNntp& c);
    void SendToReader(TClientNntp& c, std::string_view bytes);
    void HoldBackServer(TClientNntp& c);
    void RefusePost(TClientNntp& c);
    void Log(TClientNntp& c, const char* title, std::string_view bytes);

    ProxyCore& m_core;
};

}  // namespace sitowiak::proxy

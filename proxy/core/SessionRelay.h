// The relay between each reader and its news server connection: the event
// handlers of the reader socket and of the upstream socket. Every command
// the reader sends is queued with what it is, and every reply from the
// server is matched to the oldest unanswered command: replies that the
// command asks to rewrite (ARTICLE, BODY, HEAD while something is forced;
// CAPABILITIES) are held until their terminating line and rewritten; overviews (XOVER, OVER, XHDR and HDR
// of overview fields) are rewritten line by line as they come; all others
// pass at once. Commands the proxy answers itself
// (refusals by the write list, COMPRESS, STARTTLS) take their turn in the
// same queue, so the reader gets its replies in the order of its commands.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
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

    void ClientDataAvailable(TClientNntp& c, uint16_t Error);
    void ClientDataSent(TClientNntp& c, uint16_t Error);
    void RemoteDnsLookupDone(TClientNntp& c, uint16_t Error);
    void RemoteSessionConnected(TClientNntp& c, uint16_t Error);
    void RemoteDataAvailable(TClientNntp& c, uint16_t Error);
    void RemoteSessionClosed(TClientNntp& c, uint16_t Error);

private:
    // Moves the conversation on as far as the bytes at hand allow: requests
    // go upstream, replies and the proxy's own answers go to the reader.
    void Advance(TClientNntp& c);
    bool ForwardRequests(TClientNntp& c);
    bool ForwardCommands(TClientNntp& c);
    void ForwardCommand(TClientNntp& c, std::string_view line, std::string& out);
    bool ForwardArticle(TClientNntp& c);
    bool ForwardUnchanged(TClientNntp& c);
    bool ForwardBatch(TClientNntp& c);
    void ReadFromServer(TClientNntp& c);
    void ServerClosed(TClientNntp& c, uint16_t Error);
    bool DeliverReplies(TClientNntp& c);
    size_t DeliverLines(TClientNntp& c, std::string_view content, bool& ended);
    void StopHolding(TClientNntp& c, Verb verb, bool overTotal);
    bool DrainHeld(TClientNntp& c);
    void ReplyEnded(TClientNntp& c, int code);
    void SendHeld(TClientNntp& c, Verb verb);
    void SendToReader(TClientNntp& c, std::string_view bytes);
    void HoldBackServer(TClientNntp& c);
    void HoldBackReader(TClientNntp& c);
    // Runs a handler's work; an allocation that fails in it ends the relay.
    template <typename Step>
    void Guarded(TClientNntp& c, Step step);
    void OutOfMemory(TClientNntp& c);
    void CloseWhenSent(TClientNntp& c);
    void NewsServerUnreachable(TClientNntp& c, int error);
    void UpstreamReady(TClientNntp& c, const std::string& greeting);
    bool MayPost(TClientNntp& c);
    // Whether the news server's side stands for the reader's commands: its
    // greeting has come (after TLS, when TLS is asked for) and it has not gone.
    static bool SessionOpen(const TClientNntp& c);
    void Log(TClientNntp& c, const char* title, std::string_view bytes);

    ProxyCore& m_core;
    // The bytes all relays hold for rewriting (each relay's HeldShare).
    int64_t m_heldTotal = 0;
};

}  // namespace sitowiak::proxy

// A connection accepted by a listening server (TCustomWSocketServer). The
// server creates it, owns it, and destroys it after its close has been
// reported through the server's OnClientDisconnect. Derive from it for
// per-connection state and give the server a ClientType that creates the
// derived class.
#pragma once

#include <optional>
#include <string>

#include "net/TWSocket.h"

namespace sitowiak::net {

class TWSocketClient : public TWSocket {
public:
    // AOwner is normally the server that creates the client.
    explicit TWSocketClient(TCustomWSocket* AOwner = nullptr);
    ~TWSocketClient() override;

    // Sends Banner + CR LF; an empty banner sends nothing.
    virtual void SendBanner();
    void Dup(TSocket NewHandle) override;
    // The peer's address and port captured when the connection was adopted;
    // still valid after the client has closed.
    std::string PeerAddr() override { return m_peerAddr; }
    std::string PeerPort() override { return m_peerPort; }

    const std::string& Banner() const { return m_banner; }
    void SetBanner(const std::string& Value) { m_banner = Value; }
    TCustomWSocketServer* Server() const { return m_server; }

protected:
    void TriggerSessionClosed(int Error) override;

private:
    friend class TCustomWSocketServer;

    std::string m_banner;
    TCustomWSocketServer* m_server = nullptr;
    std::string m_peerAddr;
    std::string m_peerPort;
    // The address accept gave, for Dup: no getpeername is then needed.
    std::optional<sockaddr_storage> m_acceptedPeer;
    bool m_closeNotified = false;
    // The server's number for this client (its name ends with it).
    int m_clientId = 0;
};

}  // namespace sitowiak::net

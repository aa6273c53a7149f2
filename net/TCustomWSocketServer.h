// A listening socket that accepts every connection itself, wraps it in a
// client object made by ClientType, keeps the live clients in creation
// order, greets each with Banner, turns clients away above MaxClients, and
// destroys each client after its close has been reported.
//
// Per accepted connection: OnSessionAvailable, OnClientCreate, the client's
// OnChangeState (to wsConnected), OnClientConnect; after the client's
// OnSessionClosed and once the current handler has returned,
// OnClientDisconnect, then the client is destroyed. Until then the client
// stays in the list, so ClientCount inside OnClientDisconnect still counts
// it and a loop closing every client by index sees a list that holds still.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "net/TWSocket.h"
#include "net/TWSocketClient.h"

namespace sitowiak::net {

class TCustomWSocketServer : public TWSocket {
public:
    // Makes a client for the server (owner). The server takes ownership.
    using TClientFactory = std::function<TWSocketClient*(TCustomWSocketServer* Owner)>;

    template <class T>
    static TClientFactory ClientTypeOf() {
        return [](TCustomWSocketServer* owner) -> TWSocketClient* { return new T(owner); };
    }

    explicit TCustomWSocketServer(TCustomWSocket* AOwner = nullptr);
    ~TCustomWSocketServer() override;

    virtual int ClientCount() const { return static_cast<int>(m_clients.size()); }
    // The client at Index, or nullptr outside 0 ... ClientCount() - 1.
    virtual TWSocketClient* Clients(int Index) const;

    const std::string& Banner() const { return m_banner; }
    void SetBanner(const std::string& Value) { m_banner = Value; }
    const std::string& BannerToBusy() const { return m_bannerToBusy; }
    void SetBannerToBusy(const std::string& Value) { m_bannerToBusy = Value; }
    void SetClientType(TClientFactory Value) { m_clientType = std::move(Value); }
    int MaxClients() const { return m_maxClients; }
    void SetMaxClients(int Value) { m_maxClients = Value; }

    TWSocketClientCreateEvent OnClientCreate;
    TWSocketClientConnectEvent OnClientConnect;
    TWSocketClientConnectEvent OnClientDisconnect;

protected:
    void HandleMessage(const platform::ChannelMessage& Msg) override;
    void TriggerSessionAvailable(int Error) override;
    virtual void TriggerClientCreate(TWSocketClient* Client);
    virtual void TriggerClientConnect(TWSocketClient* Client, int Error);
    virtual void TriggerClientDisconnect(TWSocketClient* Client, int Error);

private:
    friend class TWSocketClient;
    // The ownership notification: a client leaves the list when destroyed.
    void ClientDestroyed(TWSocketClient* Client);
    TSocket AcceptWaiting(sockaddr_storage& Peer);
    TWSocketClient* CreateClient(TSocket Handle, const sockaddr_storage& Peer);
    void GreetClient(TWSocketClient* Client);
    void ClientClosed(int ClientId);
    bool Contains(const TWSocketClient* Client) const;

    std::string m_banner = "Welcome to TcpSrv";
    std::string m_bannerToBusy = "Sorry, too many clients";
    TClientFactory m_clientType;
    std::vector<TWSocketClient*> m_clients;
    int m_clientNum = 0;
    int m_maxClients = 0;
};

}  // namespace sitowiak::net

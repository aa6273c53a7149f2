#include "net/TCustomWSocketServer.h"

#include <algorithm>

namespace sitowiak::net {

namespace {

constexpr int kWsaEMFILE = 10024;  // no descriptor left (process or system)

// One descriptor the process keeps in reserve. When descriptors run out, a
// waiting connection cannot be accepted and keeps the listening socket
// ready, so the event loop would come back to it at once, forever. Giving
// up the reserve for a moment lets that connection be taken and closed: it
// costs only itself, and the listening socket stays open.
TSocket g_reserve = INVALID_SOCKET;

void HoldReserve() {
    if (g_reserve == INVALID_SOCKET) g_reserve = winsock::Socket(AF_INET, SOCK_STREAM, 0);
}

void ShedConnection(TSocket listener) {
    if (g_reserve == INVALID_SOCKET) return;  // taken by someone else meanwhile
    winsock::CloseSocket(g_reserve);
    g_reserve = INVALID_SOCKET;
    sockaddr_storage peer{};
    const TSocket shed = winsock::Accept(listener, &peer);
    if (shed != INVALID_SOCKET) winsock::CloseSocket(shed);
    HoldReserve();
}

}  // namespace

TCustomWSocketServer::TCustomWSocketServer(TCustomWSocket* AOwner)
    : TWSocket(AOwner), m_clientType(ClientTypeOf<TWSocketClient>()) {
    HoldReserve();
}

// Clients go first, last to first; the listening socket after them.
TCustomWSocketServer::~TCustomWSocketServer() {
    BeginDestroy();
    while (!m_clients.empty()) {
        TWSocketClient* client = m_clients.back();
        try {
            delete client;
        } catch (...) {
        }
        // A client whose destructor failed must not be deleted again.
        if (!m_clients.empty() && m_clients.back() == client) m_clients.pop_back();
    }
}

TWSocketClient* TCustomWSocketServer::Clients(int Index) const {
    if (Index < 0 || Index >= ClientCount()) return nullptr;
    return m_clients[static_cast<std::size_t>(Index)];
}

bool TCustomWSocketServer::Contains(const TWSocketClient* Client) const {
    return std::find(m_clients.begin(), m_clients.end(), Client) != m_clients.end();
}

void TCustomWSocketServer::ClientDestroyed(TWSocketClient* Client) {
    m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), Client), m_clients.end());
}

// Waiting connections: accept each, wrap it in a new client, report it and
// greet it. A connection is taken before its client is made, so that a
// connection that vanished in between leaves no client behind. Up to
// kAcceptsPerReport are taken per readiness report: when many readers
// connect at once, each does not cost a pass of the event loop. Every
// connection is announced by OnSessionAvailable, as when each had its own
// report.
void TCustomWSocketServer::TriggerSessionAvailable(int Error) {
    constexpr int kAcceptsPerReport = 16;
    TWSocket::TriggerSessionAvailable(Error);
    if (Error != 0) return;
    for (int taken = 0; taken < kAcceptsPerReport && State() == wsListening; ++taken) {
        sockaddr_storage peer{};
        const TSocket handle = AcceptWaiting(peer);
        if (handle == INVALID_SOCKET) return;
        if (taken > 0) TWSocket::TriggerSessionAvailable(0);
        TWSocketClient* client = CreateClient(handle, peer);
        TriggerClientConnect(client, Error);
        if (Contains(client) && client->State() == wsConnected) GreetClient(client);
    }
}

// The next waiting connection, or INVALID_SOCKET when none waits (or none
// could be taken for lack of descriptors: that one is shed). Peer: the
// address accept gave, which Accept leaves in m_sin.
TSocket TCustomWSocketServer::AcceptWaiting(sockaddr_storage& Peer) {
    TSocket handle = INVALID_SOCKET;
    try {
        handle = Accept();
        if (handle != INVALID_SOCKET) Peer = m_sin;
    } catch (const ESocketException&) {
        if (LastError() != kWsaEMFILE) throw;
        ShedConnection(m_hSocket);
    }
    // A reserve lost to another thread in the moment it was given up is
    // taken again once descriptors are back.
    if (handle != INVALID_SOCKET) HoldReserve();
    return handle;
}

TWSocketClient* TCustomWSocketServer::CreateClient(TSocket Handle, const sockaddr_storage& Peer) {
    TWSocketClient* client = nullptr;
    try {
        ++m_clientNum;
        client = m_clientType(this);
        m_clients.push_back(client);
        client->m_server = this;
        client->m_clientId = m_clientNum;
        TriggerClientCreate(client);
        client->SetName(Name() + "Client" + std::to_string(m_clientNum));
        client->SetBanner(m_banner);
    } catch (...) {
        winsock::CloseSocket(Handle);  // not adopted by any client
        throw;
    }
    client->m_acceptedPeer = Peer;
    client->Dup(Handle);
    return client;
}

void TCustomWSocketServer::GreetClient(TWSocketClient* Client) {
    if (m_maxClients > 0 && ClientCount() > m_maxClients) {
        Client->SetBanner(m_bannerToBusy);
        Client->SendBanner();
        Client->Close();
        return;
    }
    Client->SendBanner();
}

void TCustomWSocketServer::HandleMessage(const platform::ChannelMessage& Msg) {
    if (Msg.Msg == WM_CLIENT_CLOSED)
        CallGuarded([&] { ClientClosed(static_cast<int>(Msg.WParam)); });
    else
        TWSocket::HandleMessage(Msg);
}

// Reports a closed client and destroys it, also when the handler throws.
void TCustomWSocketServer::ClientClosed(int ClientId) {
    auto it = std::find_if(m_clients.begin(), m_clients.end(), [ClientId](const TWSocketClient* c) {
        return c->m_clientId == ClientId;
    });
    if (it == m_clients.end()) return;  // already destroyed (released)
    TWSocketClient* client = *it;
    try {
        TriggerClientDisconnect(client, 0);
    } catch (...) {
        delete client;
        throw;
    }
    delete client;
}

void TCustomWSocketServer::TriggerClientCreate(TWSocketClient* Client) {
    if (OnClientCreate) OnClientCreate(this, Client);
}

void TCustomWSocketServer::TriggerClientConnect(TWSocketClient* Client, int Error) {
    if (OnClientConnect) OnClientConnect(this, Client, static_cast<std::uint16_t>(Error));
}

void TCustomWSocketServer::TriggerClientDisconnect(TWSocketClient* Client, int Error) {
    if (OnClientDisconnect) OnClientDisconnect(this, Client, static_cast<std::uint16_t>(Error));
}

}  // namespace sitowiak::net

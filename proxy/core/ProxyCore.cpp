#include "ProxyCore.h"

#include "proxy/core/ConnectionColors.h"
#include "proxy/core/HostPattern.h"
#include "proxy/core/TClient.h"

namespace sitowiak::proxy {

ProxyCore::ProxyCore(ProxyView& view, const platform::ProductIdentity& identity)
    : m_view(view), m_identity(identity), m_relay(*this) {
    CreateServer();
}

// The server destroys every relay directly: no disconnect handler runs.
ProxyCore::~ProxyCore() {
    m_terminating = true;
    m_server.reset();
}

std::string ListenFailureText(const std::string& message, const std::string& programFile) {
    if (!message.starts_with("Error 10013 ")) return message;
    return message +
           "\n\nPorty poniżej 1024 wymagają uprawnienia cap_net_bind_service: nadaj je "
           "poleceniem „setcap cap_net_bind_service=+ep " +
           programFile +
           "” (jako root; robi to też „cmake --install”) albo wpisz w polu „Port żądań” port "
           "1024 lub wyższy.";
}

void ProxyCore::LoadSettings(const platform::RegistryStore& store) {
    m_settings = LoadProxySettings(store);
    // Settings that exist but could not be read may have kept readers out:
    // the defaults' "listen for everyone" waits until someone has seen them.
    if (store.Unreadable()) m_settings.Aktywne = false;
}

bool ProxyCore::StoreSettings(platform::RegistryStore& store) {
    m_settings.Aktywne = m_listening;
    return StoreProxySettings(store, m_settings);
}

void ProxyCore::CreateServer() {
    m_server = std::make_unique<net::TWSocketServer>();
    net::TWSocketServer& s = *m_server;
    s.SetName("WSocketServer");
    s.SetProto("tcp");
    s.SetLocalAddr("0.0.0.0");
    s.SetLocalPort("0");
    s.SetLineMode(false);
    s.SetLineLimit(65536);
    s.SetLineEnd("\r\n");
    s.SetMaxClients(0);
    s.OnClientConnect = [this](net::TCustomWSocketServer* server, net::TWSocketClient* client,
                               uint16_t error) {
        WSocketServerClientConnect(server, client, error);
    };
    s.OnClientDisconnect = [this](net::TCustomWSocketServer* server, net::TWSocketClient* client,
                                  uint16_t error) {
        WSocketServerClientDisconnect(server, client, error);
    };
    s.OnSessionClosed = [this](net::TCustomWSocket* sender, uint16_t error) {
        WSocketServerSessionClosed(sender, error);
    };
    s.OnBgException = &ProxyCore::BgException;
}

void ProxyCore::SetListening(bool on) {
    net::TWSocketServer& s = *m_server;
    if (on) {
        // A newsreader's first line is the news server's greeting, never ours.
        s.SetBanner("");
        s.SetBannerToBusy("");
        s.SetClientType(net::TCustomWSocketServer::ClientTypeOf<TClientNntp>());
        // Every local interface, IPv6 and IPv4 alike ("0.0.0.0" where the
        // machine has no IPv6).
        s.SetAddr("::");
        s.SetPort(m_settings.LocalPort);
        s.Listen();
        m_view.SetAddressEditsEnabled(false);
        m_view.SetListenCaption(kCaptionStop);
    } else {
        // Closed clients stay in the list until their close is processed, so
        // the indices stay valid through the loop.
        int count = s.ClientCount();
        for (int i = 0; i < count; ++i) s.Clients(i)->Close();
        s.Close();
        m_view.SetListenCaption(kCaptionListen);
    }
    m_listening = on;
}

void ProxyCore::WSocketServerSessionClosed(net::TCustomWSocket*, uint16_t) {
    m_view.SetAddressEditsEnabled(true);
    m_view.SetListenCaption(kCaptionListen);
    SetListening(false);
}

void ProxyCore::WSocketServerClientConnect(net::TCustomWSocketServer*, net::TWSocketClient* Client,
                                           uint16_t) {
    auto& client = static_cast<TClientNntp&>(*Client);
    client.RequestBuffer->SetLength(0);
    if (!MatchPatternList(client.PeerAddr(), m_settings.ReadAccess)) {
        client.Close();
        return;
    }
    // A reader whose relay cannot start (no descriptor left for the news
    // server's socket, no news server address) is closed alone; the
    // listening socket and every other reader stay as they are.
    try {
        m_relay.Start(client);
    } catch (const std::exception&) {
        client.Close();
        return;
    }
    m_view.SetStatusPanel(1, std::to_string(m_server->ClientCount()));
    m_view.SetStatusPanel(3, client.PeerAddr());
    client.LogColor = ConnectionColor(m_server->ClientCount());
}

void ProxyCore::WSocketServerClientDisconnect(net::TCustomWSocketServer*, net::TWSocketClient*,
                                              uint16_t) {
    int count = m_server->ClientCount();
    m_view.SetStatusPanel(1, std::to_string(count - 1));
    m_view.SetStatusPanel(3, count < 2 ? std::string() : m_server->Clients(count - 2)->PeerAddr());
    if (log::LogSink* sink = LogSinkIfLogging(); sink && !m_terminating) {
        sink->SetEntryStyle(WindowColor, "Zamknięcie połączenia");
        sink->AddEntry(std::string());
    }
}

void ProxyCore::BgException(net::TCustomWSocket*, const std::exception&, bool& CanClose) {
    CanClose = true;
}

}  // namespace sitowiak::proxy

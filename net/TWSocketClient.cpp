#include "net/TWSocketClient.h"

#include "net/TCustomWSocketServer.h"

namespace sitowiak::net {

TWSocketClient::TWSocketClient(TCustomWSocket* AOwner) : TWSocket(AOwner) {}

TWSocketClient::~TWSocketClient() {
    BeginDestroy();
    if (m_server != nullptr) m_server->ClientDestroyed(this);
}

void TWSocketClient::SendBanner() {
    if (!m_banner.empty()) SendStr(m_banner + "\r\n");
}

void TWSocketClient::Dup(TSocket NewHandle) {
    TWSocket::Dup(NewHandle);
    if (m_acceptedPeer) {
        m_peerAddr = winsock::AddressText(*m_acceptedPeer);
        m_peerPort = std::to_string(winsock::AddressPort(*m_acceptedPeer));
        m_acceptedPeer.reset();
        return;
    }
    m_peerAddr = TWSocket::PeerAddr();
    m_peerPort = TWSocket::PeerPort();
}

// The first close of the client tells the server, which reports it and
// destroys the client once the current handler has returned.
void TWSocketClient::TriggerSessionClosed(int Error) {
    if (!m_closeNotified) {
        m_closeNotified = true;
        if (m_server != nullptr)
            m_server->PostMessage(WM_CLIENT_CLOSED, static_cast<std::uintptr_t>(m_clientId));
    }
    TWSocket::TriggerSessionClosed(Error);
}

}  // namespace sitowiak::net

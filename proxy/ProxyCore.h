// The proxy without its window: the listening server, admission by the read
// list, the status shown for the connections, and the relays. It reads the
// settings that live in the window's controls through ProxyView at the
// moment it needs them. Everything runs on the GUI thread.
#pragma once

#include <exception>
#include <memory>
#include <string>

#include "frame/identity/ProductIdentity.h"
#include "log/LogSink.h"
#include "net/TWSocketServer.h"
#include "proxy/ProxyView.h"
#include "proxy/SessionRelay.h"

namespace sitowiak::proxy {

inline constexpr char kCaptionListen[] = "Nasłuchuj";
inline constexpr char kCaptionStop[] = "Przerwij";

class ProxyCore {
public:
    ProxyCore(ProxyView& view, const frame::ProductIdentity& identity);
    virtual ~ProxyCore();

    // Switches listening on or off. Switching on throws the socket layer's
    // exception when listening fails; then nothing has changed.
    void SetListening(bool on);
    bool Listening() const { return m_listening; }

    // The traffic log; none until the log window exists.
    void SetLog(log::LogSink* sink) { m_log = sink; }
    // The log when logging is on, else none.
    log::LogSink* LogSinkIfLogging() const { return Logowanie ? m_log : nullptr; }
    bool LineMode() const { return m_log && m_log->LineModeChecked(); }

    ProxyView& View() { return m_view; }
    const frame::ProductIdentity& Identity() const { return m_identity; }
    net::TWSocketServer& WSocketServer() { return *m_server; }

    std::string Kodowanie;  // forced charset, empty for none
    std::string Zawartosc;  // forced content type, empty for none
    bool Logowanie = false;
    // The window's own colour, for the entry written when a reader leaves.
    log::Rgb WindowColor = 0xF0F0F0;

    // Handlers of the listening server.
    void WSocketServerClientConnect(net::TCustomWSocketServer* Sender, net::TWSocketClient* Client,
                                    uint16_t Error);
    void WSocketServerClientDisconnect(net::TCustomWSocketServer* Sender,
                                       net::TWSocketClient* Client, uint16_t Error);
    void WSocketServerSessionClosed(net::TCustomWSocket* Sender, uint16_t Error);
    // Any proxy socket whose event handler failed is aborted.
    static void BgException(net::TCustomWSocket* Sender, const std::exception& E, bool& CanClose);

private:
    void CreateServer();

    ProxyView& m_view;
    const frame::ProductIdentity& m_identity;
    log::LogSink* m_log = nullptr;
    bool m_listening = false;
    bool m_terminating = false;
    SessionRelay m_relay;
    std::unique_ptr<net::TWSocketServer> m_server;
};

}  // namespace sitowiak::proxy

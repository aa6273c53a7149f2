// The proxy without its window: the settings, the listening server,
// admission by the read list, the status shown for the connections, and the
// relays. The window shows the settings and writes its changes into them; the
// core reads them at the moment it needs them. Everything runs on the GUI
// thread.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "log/LogSink.h"
#include "proxy/core/NntpWords.h"
#include "net/TWSocketServer.h"
#include "platform/core/ProductIdentity.h"
#include "proxy/core/ProxySettings.h"
#include "proxy/core/ProxyView.h"
#include "proxy/core/SessionRelay.h"

namespace sitowiak::proxy {

inline constexpr char kCaptionListen[] = "Nasłuchuj";
inline constexpr char kCaptionStop[] = "Przerwij";

// The text shown when listening fails: the socket layer's message, and for a
// port below 1024 that the program may not use (error 10013) one sentence on
// how to get it.
std::string ListenFailureText(const std::string& message, const std::string& programFile);

class ProxyCore {
public:
    ProxyCore(ProxyView& view, const platform::ProductIdentity& identity);
    virtual ~ProxyCore();

    // Switches listening on or off. Switching on throws the socket layer's
    // exception when listening fails; then nothing has changed.
    void SetListening(bool on);
    bool Listening() const { return m_listening; }

    // The traffic log; none until the log window exists.
    void SetLog(log::LogSink* sink) { m_log = sink; }
    // The log when logging is on, else none.
    log::LogSink* LogSinkIfLogging() const { return m_settings.Logowanie ? m_log : nullptr; }
    bool LineMode() const { return m_log && m_log->LineModeChecked(); }

    ProxyView& View() { return m_view; }
    const platform::ProductIdentity& Identity() const { return m_identity; }
    net::TWSocketServer& WSocketServer() { return *m_server; }

    // The settings as they are now; a change applies to the next reader, and
    // to the next start of listening for the local port.
    ProxySettings& Settings() { return m_settings; }
    const ProxySettings& Settings() const { return m_settings; }
    // Loads every setting from the store (one read of the hive). From a store
    // whose stored settings could not be read: the defaults, not listening.
    void LoadSettings(const platform::RegistryStore& store);
    // Stores every setting, "Aktywne" being whether the proxy listens now.
    bool StoreSettings(platform::RegistryStore& store);
    // The window's own colour, for the entry written when a reader leaves.
    log::Rgb WindowColor = 0xF0F0F0;
    // How long a news server may take for its part of setting up TLS
    // (STARTTLS included) before the reader is told and closed.
    int TlsTimeoutMs = 30000;
    // How many bytes all relays together may hold for rewriting.
    int64_t MaxHeldTotal = nntp::kMaxHeldTotal;

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
    const platform::ProductIdentity& m_identity;
    log::LogSink* m_log = nullptr;
    bool m_listening = false;
    bool m_terminating = false;
    ProxySettings m_settings;
    SessionRelay m_relay;
    std::unique_ptr<net::TWSocketServer> m_server;
};

}  // namespace sitowiak::proxy

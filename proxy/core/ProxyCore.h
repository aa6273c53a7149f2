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
#include <vector>

#include "log/LogSink.h"
#include "proxy/core/NntpWords.h"
#include "net/TWSocketServer.h"
#include "platform/core/ProductIdentity.h"
#include "proxy/core/ProxySettings.h"
#include "proxy/core/ProxyView.h"
#include "proxy/core/SessionRelay.h"

namespace sitowiak::proxy {

class TClientNntp;

inline constexpr char kCaptionListen[] = "Nasłuchuj";
inline constexpr char kCaptionStop[] = "Przerwij";

// The text shown when listening fails: the socket layer's message, and for a
// port below 1024 that the program may not use (error 10013) one sentence on
// how to get it; for a port in use (10048) which program holds it, when that
// can be found, and what to do.
std::string ListenFailureText(const std::string& message, const std::string& programFile,
                              const std::string& port = std::string());

// The program that listens on TCP `port` ("name (PID n)"), when a process
// this user may look at holds it; else empty.
std::string PortHolder(uint16_t port);

// "5.0.0.48" from the version block's four 16-bit parts.
std::string VersionText(uint64_t version);

class ProxyCore {
public:
    ProxyCore(ProxyView& view, const platform::ProductIdentity& identity);
    virtual ~ProxyCore();

    // Switches listening on or off. Switching on throws the socket layer's
    // exception when listening fails; then nothing has changed. Neither
    // changes "Aktywne": only the user's own choice does.
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
    // Stores the settings the program changed itself since they were read
    // (and those the file lacks), so that hand edits made meanwhile stay.
    bool StoreSettings(platform::RegistryStore& store);
    // Reads the settings file again, after a hand edit or "--set". Values
    // that fail their checks change nothing (the reason is returned); the
    // others replace those the file changed since the last read. Listening
    // moves to a new local port, or starts or stops with "Aktywne", without
    // closing a reader; a failure to listen is thrown as by SetListening.
    std::string ReloadSettings(const platform::RegistryStore& store);

    // Tells the service manager that the proxy is ready, and from now on how
    // many readers it has.
    void ReportReady();
    // A relay could not reach the news server: `reason` as the reader got it.
    void NewsServerFailed(TClientNntp& client, const std::string& reason);
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
    void ReportStart();
    // STATUS= for the service manager; -1: the server's count of readers.
    void NotifyStatus(int readerCount = -1);
    // Closes or opens the listening socket alone; readers stay connected.
    void MoveListening(bool on);

    ProxyView& m_view;
    const platform::ProductIdentity& m_identity;
    log::LogSink* m_log = nullptr;
    bool m_listening = false;
    bool m_terminating = false;
    ProxySettings m_settings;
    // The settings as the file last had them: what the program has changed
    // since is what it stores.
    ProxySettings m_loaded;
    bool m_started = false;
    bool m_listenReported = false;  // a line has said whether it listens
    bool m_unreadable = false;      // the settings could not be read at start
    bool m_ready = false;
    bool m_relistening = false;
    SessionRelay m_relay;
    std::unique_ptr<net::TWSocketServer> m_server;
};

}  // namespace sitowiak::proxy

#include "ProxyCore.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/core/ServiceNotify.h"
#include "platform/core/StandardErrorLines.h"
#include "proxy/core/ConnectionColors.h"
#include "proxy/core/HostPattern.h"
#include "proxy/core/ServerAddress.h"
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

namespace {

using platform::LinePriority;
using platform::WriteLine;

const char* EncryptionName(const std::string& stored) {
    switch (EncryptionOf(stored)) {
        case Encryption::None:
            return "brak";
        case Encryption::Tls:
            return "TLS";
        case Encryption::StartTls:
            return "STARTTLS";
        case Encryption::Unknown:
            break;
    }
    return "nieznane (nic nie idzie jawnie)";
}

// The socket inodes listening on TCP `port`, from /proc/net/tcp and tcp6.
std::set<std::string> ListeningInodes(uint16_t port) {
    std::set<std::string> inodes;
    char portHex[8];
    std::snprintf(portHex, sizeof portHex, "%04X", port);
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // the heading
        while (std::getline(in, line)) {
            // sl local rem st tx:rx tr:when retrnsmt uid timeout inode
            std::istringstream fields(line);
            std::string sl, local, remote, state, queues, timer, retr, uid, timeout, inode;
            fields >> sl >> local >> remote >> state >> queues >> timer >> retr >> uid >> timeout >>
                inode;
            const size_t colon = local.rfind(':');
            if (state == "0A" && colon != std::string::npos && local.substr(colon + 1) == portHex)
                inodes.insert(inode);
        }
    }
    return inodes;
}

}  // namespace

std::string VersionText(uint64_t v) {
    return std::to_string(v >> 48) + "." + std::to_string((v >> 32) & 0xFFFF) + "." +
           std::to_string((v >> 16) & 0xFFFF) + "." + std::to_string(v & 0xFFFF);
}

std::string PortHolder(uint16_t port) {
    const std::set<std::string> inodes = ListeningInodes(port);
    if (inodes.empty()) return {};
    DIR* proc = ::opendir("/proc");
    if (!proc) return {};
    std::string found;
    while (dirent* entry = ::readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (!fds) continue;  // another user's process
        while (dirent* fd = ::readdir(fds)) {
            char target[64];
            const std::string link = fdDir + "/" + fd->d_name;
            ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            if (n <= 0) continue;
            target[n] = '\0';
            std::string_view t(target);
            if (!t.starts_with("socket:[") || !t.ends_with("]")) continue;
            if (inodes.count(std::string(t.substr(8, t.size() - 9)))) {
                std::string name;
                std::ifstream(("/proc/" + pid + "/comm").c_str()) >> name;
                found = (name.empty() ? std::string("?") : name) + " (PID " + pid + ")";
                break;
            }
        }
        ::closedir(fds);
        if (!found.empty()) break;
    }
    ::closedir(proc);
    return found;
}

std::string ListenFailureText(const std::string& message, const std::string& programFile,
                              const std::string& port) {
    if (message.starts_with("Error 10048 ")) {
        std::string text = message + "\n\nPort " + port + " jest już zajęty";
        std::optional<int> number = platform::ParseDecimal(port);
        std::string holder = number && *number > 0 && *number < 65536
                                 ? PortHolder(static_cast<uint16_t>(*number))
                                 : std::string();
        text += holder.empty() ? " przez inny program" : " przez program " + holder;
        return text +
               ": zakończ go albo wpisz w polu „Port żądań” inny port (bez okna: „sitowiak "
               "--set LocalPort=PORT”).";
    }
    if (!message.starts_with("Error 10013 ")) return message;
    return message +
           "\n\nPorty poniżej 1024 wymagają uprawnienia cap_net_bind_service: nadaj je "
           "poleceniem „setcap cap_net_bind_service=+ep " +
           programFile +
           "” (jako root; robi to też „cmake --install”) albo wpisz w polu „Port żądań” port "
           "1024 lub wyższy.";
}

void ProxyCore::LoadSettings(const platform::RegistryStore& store) {
    m_settings = LoadProxySettings(store.TakeSnapshot());
    m_loaded = m_settings;
    // Settings that exist but could not be read may have kept readers out:
    // the defaults' "listen for everyone" waits until someone has seen them.
    m_unreadable = store.Unreadable();
    if (m_unreadable) m_settings.Aktywne = false;
    ReportStart();
}

void ProxyCore::ReportStart() {
    if (m_started) return;
    m_started = true;
    if (!platform::WantsLine(LinePriority::kInfo)) return;
    const ServerAddress server = ParseServerAddress(m_settings.Address, m_settings.RemotePort);
    const std::string product =
        m_identity.ProductName.empty() ? "Sitowiak" : m_identity.ProductName;
    WriteLine(LinePriority::kInfo,
              product + " " + VersionText(m_identity.ProductVersion) + ": port żądań " +
                  m_settings.LocalPort + ", serwer grup " + server.Text() +
                  ", szyfrowanie: " + EncryptionName(m_settings.Szyfrowanie) + ".");
}

bool ProxyCore::StoreSettings(platform::RegistryStore& store) {
    // What the file holds now: a value written meanwhile by hand is not
    // filled in with the program's default.
    std::vector<std::string> present;
    LoadProxySettings(store.TakeSnapshot(), &present);
    bool ok = StoreProxySettings(store, m_settings, &m_loaded, &present);
    if (ok) m_loaded = m_settings;
    return ok;
}

std::string ProxyCore::ReloadSettings(const platform::RegistryStore& store) {
    platform::HiveCondition condition;
    const ProxySettings file = LoadProxySettings(store.TakeSnapshot(&condition));
    if (!condition.Readable())
        return "nie można odczytać pliku " + store.File().string() + " (" + condition.reason + ")";
    ProxySettings next = m_settings;
    for (const SettingEntry& e : SettingEntries()) {
        std::string text = ValueText(file, e);
        if (text == ValueText(m_loaded, e)) continue;  // not changed in the file
        std::string problem = SettingProblem(e, text);
        if (!problem.empty()) return std::string(e.name) + ": " + problem;
        SetValueText(next, e, text);
    }
    const bool portMoved = next.LocalPort != m_settings.LocalPort;
    const bool choiceChanged = next.Aktywne != m_settings.Aktywne;
    m_settings = next;
    m_loaded = file;
    m_view.SettingsReloaded();
    WriteLine(LinePriority::kInfo,
              "Ustawienia odczytane ponownie z pliku " + store.File().string() + ".");
    if (m_listening && (portMoved || !m_settings.Aktywne)) MoveListening(false);
    if (!m_listening && m_settings.Aktywne && (portMoved || choiceChanged)) MoveListening(true);
    NotifyStatus();
    return {};
}

void ProxyCore::MoveListening(bool on) {
    net::TWSocketServer& s = *m_server;
    if (!on) {
        m_relistening = true;
        s.Close();
        m_relistening = false;
        m_listening = false;
        m_view.SetAddressEditsEnabled(true);
        m_view.SetListenCaption(kCaptionListen);
        WriteLine(LinePriority::kInfo, "Nasłuchiwanie wyłączone; połączeni czytelnicy zostają.");
        return;
    }
    SetListening(true);
}

void ProxyCore::ReportReady() {
    m_ready = true;
    platform::NotifyServiceManager("READY=1");
    NotifyStatus();
}

void ProxyCore::NotifyStatus(int readerCount) {
    if (!m_ready) return;
    const std::string readers =
        std::to_string(readerCount >= 0 ? readerCount : m_server->ClientCount());
    platform::NotifyServiceManager(m_listening
                                       ? "STATUS=Nasłuchuje na porcie " + m_settings.LocalPort +
                                             ", czytelników: " + readers
                                       : "STATUS=Nie nasłuchuje, czytelników: " + readers);
}

void ProxyCore::NewsServerFailed(TClientNntp& client, const std::string& reason) {
    WriteLine(LinePriority::kWarning, "Czytelnik " + client.PeerAddr() +
                                          ": brak połączenia z serwerem grup " + client.serverName +
                                          ": " + reason);
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
        WriteLine(LinePriority::kInfo, "Nasłuchiwanie na porcie " + m_settings.LocalPort + ".");
        m_listenReported = true;
    } else {
        if (m_listening || !m_listenReported)
            WriteLine(LinePriority::kInfo, m_listening    ? "Nasłuchiwanie wyłączone."
                                           : m_unreadable ? "Nie nasłuchuje."
                                                          : "Nie nasłuchuje: Aktywne=0.");
        // Closed clients stay in the list until their close is processed, so
        // the indices stay valid through the loop.
        int count = s.ClientCount();
        for (int i = 0; i < count; ++i) s.Clients(i)->Close();
        s.Close();
        m_view.SetListenCaption(kCaptionListen);
    }
    m_listening = on;
    m_listenReported = true;
    NotifyStatus();
}

void ProxyCore::WSocketServerSessionClosed(net::TCustomWSocket*, uint16_t) {
    if (m_relistening) return;
    m_view.SetAddressEditsEnabled(true);
    m_view.SetListenCaption(kCaptionListen);
    SetListening(false);
}

void ProxyCore::WSocketServerClientConnect(net::TCustomWSocketServer*, net::TWSocketClient* Client,
                                           uint16_t) {
    auto& client = static_cast<TClientNntp&>(*Client);
    client.RequestBuffer->SetLength(0);
    if (!MatchPatternList(client.PeerAddr(), m_settings.ReadAccess)) {
        WriteLine(LinePriority::kWarning,
                  "Czytelnik " + client.PeerAddr() + " odrzucony: nie pasuje do listy czytania.");
        client.Close();
        return;
    }
    // A reader whose relay cannot start (no descriptor left for the news
    // server's socket, no news server address) is closed alone; the
    // listening socket and every other reader stay as they are.
    try {
        m_relay.Start(client);
    } catch (const std::exception& error) {
        WriteLine(LinePriority::kWarning,
                  "Czytelnik " + client.PeerAddr() + " odrzucony: " + error.what());
        client.Close();
        return;
    }
    client.admitted = true;
    client.admittedAt = std::chrono::steady_clock::now();
    WriteLine(LinePriority::kInfo, "Czytelnik " + client.PeerAddr() + " przyjęty (czytelników: " +
                                       std::to_string(m_server->ClientCount()) + ").");
    NotifyStatus();
    m_view.SetStatusPanel(1, std::to_string(m_server->ClientCount()));
    m_view.SetStatusPanel(3, client.PeerAddr());
    client.LogColor = ConnectionColor(m_server->ClientCount());
}

void ProxyCore::WSocketServerClientDisconnect(net::TCustomWSocketServer*,
                                              net::TWSocketClient* Client, uint16_t) {
    int count = m_server->ClientCount();
    auto& client = static_cast<TClientNntp&>(*Client);
    if (client.admitted && platform::WantsLine(LinePriority::kInfo)) {
        const auto tenths = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - client.admittedAt)
                                .count() /
                            100;
        WriteLine(LinePriority::kInfo,
                  "Czytelnik " + client.PeerAddr() + " rozłączony po " +
                      std::to_string(tenths / 10) + "," + std::to_string(tenths % 10) +
                      " s: od czytelnika " + std::to_string(client.BytesTaken()) +
                      " B, do czytelnika " + std::to_string(client.BytesWritten()) +
                      " B (czytelników: " + std::to_string(count - 1) + ").");
    }
    m_view.SetStatusPanel(1, std::to_string(count - 1));
    m_view.SetStatusPanel(3, count < 2 ? std::string() : m_server->Clients(count - 2)->PeerAddr());
    if (log::LogSink* sink = LogSinkIfLogging(); sink && !m_terminating) {
        sink->SetEntryStyle(WindowColor, "Zamknięcie połączenia");
        sink->AddEntry(std::string());
    }
    // The server still counts the reader that leaves.
    if (!m_terminating) NotifyStatus(count - 1);
}

void ProxyCore::BgException(net::TCustomWSocket*, const std::exception&, bool& CanClose) {
    CanClose = true;
}

}  // namespace sitowiak::proxy

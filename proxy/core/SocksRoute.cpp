#include "SocksRoute.h"

#include <sys/socket.h>

#include <cctype>

#include "net/WSocketBinding.h"
#include "proxy/core/ServerAddress.h"

namespace sitowiak::proxy {
namespace {

using Tls = net::TCustomTlsWSocket;

std::string Trimmed(std::string text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.back())) text.pop_back();
    size_t start = 0;
    while (start < text.size() && blank(text[start])) ++start;
    return text.substr(start);
}

bool IsAddress(const std::string& text) {
    sockaddr_storage addr{};
    return net::winsock::ParseAddress(text, &addr);
}

bool IsIPv4(const std::string& text) {
    sockaddr_storage addr{};
    return net::winsock::ParseAddress(text, &addr) && addr.ss_family == AF_INET;
}

}  // namespace

SocksRoute::SocksRoute(const ProxySettings& settings)
    : m_user(settings.SocksUzytkownik), m_password(settings.SocksHaslo) {
    const std::string server = Trimmed(settings.SocksSerwer);
    if (!server.empty()) {
        const ServerAddress address = ParseServerAddress(server, settings::kSocksDefaultPort);
        m_host = address.Host;
        m_port = address.Port;
        m_text = address.Text();
    }
    m_level = Trimmed(settings.SocksPoziom);
    for (char& c : m_level) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (m_level.empty()) m_level.assign(1, '5');  // (not a literal: GCC 12 warns falsely)
}

int SocksRoute::Apply(net::TWSocket& socket) const {
    if (m_level != "5" && m_level != "4A" && m_level != "4") return kUnknownLevel;
    socket.SetSocksServer(m_host);
    socket.SetSocksPort(m_port);
    socket.SetSocksLevel(m_level);
    socket.SetSocksUsercode(m_user);
    socket.SetSocksPassword(m_password);
    socket.SetSocksAuthentication(m_user.empty() ? net::socksNoAuthentication
                                                 : net::socksAuthenticateUsercode);
    return 0;
}

std::string SocksRoute::TakeLookup(net::TWSocket& socket, const std::string& name) const {
    if (IsAddress(name)) return {};
    std::string chosen;
    for (const std::string& a : socket.DnsResultList())
        if (IsIPv4(a)) {
            chosen = a;
            break;
        }
    if (chosen.empty() && IsIPv4(socket.DnsResult())) chosen = socket.DnsResult();
    if (chosen.empty())
        return "SOCKS 4: nazwa " + name + " nie ma adresu IPv4 (SOCKS 4 przenosi tylko takie)";
    socket.SetAddr(chosen);
    return "SOCKS 4: nazwa " + name + " ustalona na tym komputerze jako " + chosen +
           " (SOCKS 4 nie przenosi nazw; SocksPoziom=5 albo 4A przekazuje je serwerowi SOCKS)";
}

std::string SocksRoute::FailureText(int code, bool before) const {
    const std::string who = "serwer SOCKS " + m_text;
    switch (code) {
        case kUnknownLevel:
            return "nieznany poziom SOCKS w ustawieniu SocksPoziom (dozwolone 5, 4A albo 4)";
        case kConnectFailed:
            return "nie można połączyć się z serwerem SOCKS " + m_text;
        case 20001:
        case 20012:
        case 20013:
            return who + " przysłał nieoczekiwaną odpowiedź";
        case 20002:
            return who + " nie odpowiada jak serwer SOCKS " + m_level;
        case 20003:
            return who + (m_user.empty() ? " wymaga uwierzytelnienia (SocksUzytkownik, SocksHaslo)"
                                         : " nie przyjął uwierzytelnienia");
        case 20004:
            return who + " zgłosił błąd";
        case 20005:
            return who + " odmówił połączenia na mocy swoich reguł";
        case 20006:
            return who + " nie ma drogi do sieci serwera grup";
        case 20007:
            return who + " nie może osiągnąć serwera grup";
        case 20008:
            return who + ": serwer grup odmówił połączenia";
        case 20009:
            return who + ": serwer grup nie odpowiedział w czasie";
        case 20010:
        case 20011:
            return who + " nie obsługuje tego rodzaju żądania";
        case net::TCustomSocksWSocket::kSocksRequestTooLong:
            return "nazwa serwera grup, SocksUzytkownik albo SocksHaslo są za długie dla SOCKS";
        case 20015:
            return who + ": uwierzytelnienie nie powiodło się (SocksUzytkownik, SocksHaslo)";
        case 20016:
            return who + " odrzucił żądanie albo nie połączył się z serwerem grup";
        case 20017:
            return "nieznana nazwa serwera grup (SOCKS 4 wymaga adresu ustalonego na tym "
                   "komputerze)";
        case net::TCustomSocksWSocket::kSocks4NoIPv6:
            return "SOCKS 4 nie przenosi adresów IPv6 (SocksPoziom=5)";
        default:
            break;
    }
    if (!before) return {};
    switch (code) {
        case 0:
        case 10054:
            return who + " zamknął połączenie";
        case 10061:
            return who + " jest nieosiągalny (odmowa połączenia)";
        case 10060:
        case Tls::kTlsHandshakeTimeout:
            return who + " nie odpowiedział w wyznaczonym czasie";
        case 10051:
        case 10065:
            return who + " jest nieosiągalny";
        case -1:
            return "nie można połączyć się z serwerem SOCKS " + m_text;
        default:
            return {};
    }
}

}  // namespace sitowiak::proxy

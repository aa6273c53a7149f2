#include "net/TCustomSocksWSocket.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "net/WSocketResolve.h"

namespace sitowiak::net {

namespace {

constexpr std::uint8_t kSocks5 = 5;
constexpr std::uint8_t kSocks4 = 4;
constexpr std::uint8_t kCmdConnect = 1;
constexpr std::uint8_t kMethodNone = 0;
constexpr std::uint8_t kMethodUserPass = 2;
constexpr std::uint8_t kUserPassVersion = 1;
constexpr std::uint8_t kAtypIPv4 = 1;
constexpr std::uint8_t kAtypDomain = 3;
constexpr std::uint8_t kAtypIPv6 = 4;
constexpr int kIPv6Bytes = 16;
constexpr std::uint8_t kSocks4Granted = 90;
constexpr int kSocks4ReplyLen = 8;
// SOCKS 4A: a destination of 0.0.0.x means "the name follows".
constexpr std::uint32_t kSocks4AMarker = 1;

// (A string, not a literal: GCC 12 warns falsely about the literal at -O3.)
const std::string kDefaultLevel = "5";

// SOCKS 5 reply codes 1 to 8 become 20004 to 20011.
const char* const kSocks5ReplyTexts[] = {
    "general SOCKS server failure", "connection not allowed by ruleset",
    "network unreachable",          "host unreachable",
    "connection refused",           "time to live expired",
    "command not supported",        "address type not supported"};

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

TCustomSocksWSocket::TCustomSocksWSocket(TCustomWSocket* AOwner) : TCustomWSocket(AOwner) {}

void TCustomSocksWSocket::ResetDefaults() {
    TCustomWSocket::ResetDefaults();
    m_socksState = kNone;
    m_socksServer.clear();
    m_socksPort.clear();
    m_socksServerAssigned = m_socksPortAssigned = false;
    m_socksLevel = kDefaultLevel;
    m_surplusCount = m_surplusAt = m_replyCount = 0;
}

void TCustomSocksWSocket::SetSocksLevel(const std::string& Value) {
    if (State() != wsClosed) {
        RaiseException("Can't change socks level if not closed");
        return;
    }
    if (Value != "4" && Value != "5" && Value != "4A" && Value != "4a") {
        RaiseException("Invalid socks level. Must be 4, 4A or 5.");
        return;
    }
    m_socksLevel = Value == "4a" ? "4A" : Value;
}

void TCustomSocksWSocket::SetSocksServer(const std::string& Value) {
    if (State() != wsClosed) {
        RaiseException("Can't change socks server if not closed");
        return;
    }
    m_socksServer = WSocketTrim(Value);
    m_socksServerAssigned = !m_socksServer.empty();
}

void TCustomSocksWSocket::SetSocksPort(const std::string& Value) {
    if (State() != wsClosed) {
        RaiseException("Can't change socks port if not closed");
        return;
    }
    m_socksPort = WSocketTrim(Value);
    m_socksPortAssigned = !m_socksPort.empty();
}

void TCustomSocksWSocket::Listen() {
    if (m_socksServerAssigned) {
        RaiseException("Listening is not supported thru socks server");
        return;
    }
    TCustomWSocket::Listen();
}

// Connects to the SOCKS server; Addr and Port name the destination, which
// the server is asked for once the connection stands.
void TCustomSocksWSocket::Connect() {
    if (!m_socksServerAssigned) {
        TCustomWSocket::Connect();
        return;
    }
    if (Lower(Proto()) != "tcp") {
        RaiseException("tcp is the only protocol supported thru socks server");
        return;
    }
    try {
        if (!m_portResolved || !m_addrResolved) {
            m_portNum = WSocketResolvePort(m_socksPort, Proto());
            SetConnectAddresses(WSocketResolveHostList(m_socksServer));
            m_portResolved = true;
        }
        m_destPort = WSocketResolvePort(Port(), Proto());
    } catch (const ESocketException& e) {
        RaiseException(std::string("connect: ") + e.what());
        return;
    }
    m_socksState = kMethodReply;
    m_replyCount = 0;
    try {
        TCustomWSocket::Connect();
    } catch (...) {
        m_socksState = kNone;
        throw;
    }
}

void TCustomSocksWSocket::TriggerSessionConnected(int Error) {
    if (m_socksState != kMethodReply) {
        TCustomWSocket::TriggerSessionConnected(Error);
        return;
    }
    TriggerSocksConnected(Error);
    if (Error != 0) {
        TCustomWSocket::TriggerSessionConnected(Error);
        return;
    }
    if (IsSocks4()) {
        SocksDoConnect();
        return;
    }
    m_authMethodOffered =
        m_socksAuthentication == socksAuthenticateUsercode ? kMethodUserPass : kMethodNone;
    const std::uint8_t greeting[] = {kSocks5, 1, m_authMethodOffered};
    SendRequest(greeting, sizeof greeting);
}

void TCustomSocksWSocket::SendRequest(const std::uint8_t* Data, int Len) {
    try {
        Send(Data, Len);
    } catch (const std::exception&) {
        // A failed send shows as the connection's end.
    }
}

// The CONNECT request for Addr:Port, built in the 128-byte request area.
// SOCKS 5 carries an IPv6 address as such (a name, or an IPv4 address, goes
// as a name for the server to resolve); SOCKS 4 and 4A have no room for one.
void TCustomSocksWSocket::SocksDoConnect() {
    const std::string& host = Addr();
    std::uint8_t req[kAreaSize];
    int len = 0;
    sockaddr_storage v6{};
    const bool isIPv6 = winsock::ParseAddress(host, &v6) && v6.ss_family == AF_INET6;
    if (isIPv6 && IsSocks4()) {
        SocksFail(kSocks4NoIPv6, "socks 4 cannot carry an IPv6 address");
        return;
    }
    if (isIPv6) {
        req[len++] = kSocks5;
        req[len++] = kCmdConnect;
        req[len++] = 0;
        req[len++] = kAtypIPv6;
        std::memcpy(req + len, &reinterpret_cast<const sockaddr_in6&>(v6).sin6_addr, kIPv6Bytes);
        len += kIPv6Bytes;
        req[len++] = static_cast<std::uint8_t>(m_destPort >> 8);
        req[len++] = static_cast<std::uint8_t>(m_destPort);
    } else if (IsSocks4()) {
        const bool is4A = m_socksLevel == "4A";
        const std::size_t need = 9 + m_socksUsercode.size() + (is4A ? host.size() + 1 : 0);
        if (need > kAreaSize) {
            SocksFail(kSocksRequestTooLong, "socks request too long");
            return;
        }
        std::uint32_t dest = htonl(kSocks4AMarker);
        if (!is4A) {
            try {
                dest = WSocketResolveHost(host);
            } catch (const ESocketException& e) {
                TriggerSocksError(20017, std::string("ESocketException ") + e.what());
                DoClose(true, 20017);
                return;
            }
        }
        req[len++] = kSocks4;
        req[len++] = kCmdConnect;
        req[len++] = static_cast<std::uint8_t>(m_destPort >> 8);
        req[len++] = static_cast<std::uint8_t>(m_destPort);
        std::memcpy(req + len, &dest, 4);
        len += 4;
        std::memcpy(req + len, m_socksUsercode.data(), m_socksUsercode.size());
        len += static_cast<int>(m_socksUsercode.size());
        req[len++] = 0;
        if (is4A) {
            std::memcpy(req + len, host.data(), host.size());
            len += static_cast<int>(host.size());
            req[len++] = 0;
        }
    } else {
        if (7 + host.size() > kAreaSize) {
            SocksFail(kSocksRequestTooLong, "socks request too long");
            return;
        }
        req[len++] = kSocks5;
        req[len++] = kCmdConnect;
        req[len++] = 0;
        req[len++] = kAtypDomain;
        req[len++] = static_cast<std::uint8_t>(host.size());
        std::memcpy(req + len, host.data(), host.size());
        len += static_cast<int>(host.size());
        req[len++] = static_cast<std::uint8_t>(m_destPort >> 8);
        req[len++] = static_cast<std::uint8_t>(m_destPort);
    }
    m_socksState = kConnectReply;
    SendRequest(req, len);
}

// RFC 1929: version 1, user code and password, each with its length.
void TCustomSocksWSocket::SocksDoAuthenticate() {
    const std::size_t user = m_socksUsercode.size(), pass = m_socksPassword.size();
    if (3 + user + pass > kAreaSize) {
        SocksFail(kSocksRequestTooLong, "socks request too long");
        return;
    }
    m_socksState = kAuthReply;
    if (OnSocksAuthState) OnSocksAuthState(this, authStarted);
    std::uint8_t req[kAreaSize];
    int len = 0;
    req[len++] = kUserPassVersion;
    req[len++] = static_cast<std::uint8_t>(user);
    std::memcpy(req + len, m_socksUsercode.data(), user);
    len += static_cast<int>(user);
    req[len++] = static_cast<std::uint8_t>(pass);
    std::memcpy(req + len, m_socksPassword.data(), pass);
    len += static_cast<int>(pass);
    SendRequest(req, len);
}

// The negotiation fails: OnSocksError, OnSessionConnected(code), the change
// to wsClosed, OnSessionClosed(code).
void TCustomSocksWSocket::SocksFail(int Code, const std::string& Msg) {
    TriggerSocksError(Code, Msg);
    m_socksState = kNone;
    // Through the layers above (with the negotiation over, this layer
    // passes it on).
    TriggerSessionConnected(Code);
    DoClose(true, Code);
}

void TCustomSocksWSocket::TriggerSocksConnected(int Error) {
    if (OnSocksConnected) OnSocksConnected(this, static_cast<std::uint16_t>(Error));
}

void TCustomSocksWSocket::TriggerSocksError(int Error, const std::string& Msg) {
    if (OnSocksError) OnSocksError(this, Error, Msg);
}

void TCustomSocksWSocket::TriggerSessionClosed(int Error) {
    if (m_socksState == kAuthReply && OnSocksAuthState) OnSocksAuthState(this, authFailed);
    TCustomWSocket::TriggerSessionClosed(Error);
}

int TCustomSocksWSocket::GetRcvdCount() {
    return m_surplusCount > 0 ? m_surplusCount : TCustomWSocket::GetRcvdCount();
}

// Bytes that came after the SOCKS reply are served before the network.
int TCustomSocksWSocket::RawRead(void* Buffer, int BufferSize, int Flags) {
    if (m_surplusCount <= 0 || BufferSize <= 0)
        return TCustomWSocket::RawRead(Buffer, BufferSize, Flags);
    const int count = std::min(BufferSize, m_surplusCount);
    std::memcpy(Buffer, m_reply + m_surplusAt, static_cast<std::size_t>(count));
    m_surplusAt += count;
    m_surplusCount -= count;
    return count;
}

bool TCustomSocksWSocket::TriggerDataAvailable(int Error) {
    if (m_socksState == kNone) return TCustomWSocket::TriggerDataAvailable(Error);
    if (Error != 0) {
        SocksFail(Error, "data receive error");
        return false;
    }
    if (!ReadReply()) return true;
    switch (m_socksState) {
        case kMethodReply:
            return MethodReply();
        case kAuthReply:
            return AuthReply();
        case kConnectReply:
            return IsSocks4() ? Socks4ConnectReply() : Socks5ConnectReply();
        default:
            SocksFail(20013, "internal error");
            return false;
    }
}

// Adds what has arrived to the reply area (a SOCKS 4 reply is read exactly).
// False when nothing new came.
bool TCustomSocksWSocket::ReadReply() {
    const int limit = IsSocks4() && m_socksState == kConnectReply ? kSocks4ReplyLen : kAreaSize - 1;
    if (m_replyCount >= limit) return true;
    const int n = Receive(m_reply + m_replyCount, limit - m_replyCount);
    if (n <= 0) return false;
    m_replyCount += n;
    return true;
}

bool TCustomSocksWSocket::MethodReply() {
    if (IsSocks4()) {
        SocksFail(20001, "TWSocket logic error");
        return false;
    }
    if (m_replyCount < 2) return true;
    m_replyCount = 0;
    if (m_reply[0] != kSocks5) {
        SocksFail(20002, "socks version error");
        return false;
    }
    if (m_reply[1] == kMethodNone) {
        if (m_authMethodOffered == kMethodUserPass && OnSocksAuthState)
            OnSocksAuthState(this, authNotRequired);
        SocksDoConnect();
        return true;
    }
    if (m_reply[1] == kMethodUserPass) {
        SocksDoAuthenticate();
        return true;
    }
    SocksFail(20003, "authentification method not acceptable");
    return false;
}

bool TCustomSocksWSocket::AuthReply() {
    if (m_reply[0] != kUserPassVersion) {
        SocksFail(20002, "socks version error");
        return false;
    }
    if (m_replyCount > 2) {
        SocksFail(20001, "too much data availaible");
        return false;
    }
    if (m_replyCount < 2) return true;
    if (m_reply[1] != 0) {
        SocksFail(20015, "socks authentication failed");
        return false;
    }
    m_replyCount = 0;
    if (OnSocksAuthState) OnSocksAuthState(this, authSucceeded);
    SocksDoConnect();
    return true;
}

bool TCustomSocksWSocket::Socks4ConnectReply() {
    if (m_replyCount < kSocks4ReplyLen) return true;
    m_replyCount = 0;
    if (m_reply[0] != 0) {
        SocksFail(20002, "socks version error");
        return false;
    }
    switch (m_reply[1]) {
        case kSocks4Granted:
            return Connected(kSocks4ReplyLen);
        case 91:
            SocksFail(20016, "request rejected or failed");
            return false;
        case 92:
            SocksFail(20008, "connection refused");
            return false;
        case 93:
            SocksFail(20015, "authentification failed");
            return false;
        default:
            SocksFail(20012, "unassigned error #" + std::to_string(m_reply[1]));
            return false;
    }
}

bool TCustomSocksWSocket::Socks5ConnectReply() {
    if (m_reply[0] != kSocks5) {
        SocksFail(20002, "socks version error");
        return false;
    }
    if (m_replyCount < 2) return true;
    const int rep = m_reply[1];
    if (rep >= 1 && rep <= 8) {
        SocksFail(20003 + rep, kSocks5ReplyTexts[rep - 1]);
        return false;
    }
    if (rep != 0) {
        SocksFail(20012, "unassigned error #" + std::to_string(rep));
        return false;
    }
    if (m_replyCount < 5) return true;
    int need = 0;
    if (m_reply[3] == kAtypIPv4) {
        need = 10;
    } else if (m_reply[3] == kAtypDomain) {
        need = 7 + m_reply[4];
    } else if (m_reply[3] == kAtypIPv6) {
        need = 6 + kIPv6Bytes;
    } else {
        SocksFail(20011, "address type not supported");
        return false;
    }
    if (need > kAreaSize - 1) {
        SocksFail(kSocksRequestTooLong, "socks reply too long");
        return false;
    }
    if (m_replyCount < need) return true;
    if (m_reply[3] == kAtypIPv4) {
        std::uint32_t addr;
        std::memcpy(&addr, m_reply + 4, 4);
        m_boundAddr = winsock::InetNtoa(addr);
    } else if (m_reply[3] == kAtypIPv6) {
        sockaddr_storage bound = winsock::AnyAddress(AF_INET6);
        std::memcpy(&reinterpret_cast<sockaddr_in6&>(bound).sin6_addr, m_reply + 4, kIPv6Bytes);
        m_boundAddr = winsock::AddressText(bound);
    } else {
        m_boundAddr.assign(reinterpret_cast<const char*>(m_reply + 5), m_reply[4]);
    }
    m_boundPort = std::to_string(m_reply[need - 2] << 8 | m_reply[need - 1]);
    return Connected(need);
}

// The path is open: what followed the reply is kept as surplus, the
// session is reported connected, and data is delivered.
bool TCustomSocksWSocket::Connected(int ReplyLen) {
    m_surplusAt = ReplyLen;
    m_surplusCount = std::max(m_replyCount - ReplyLen, 0);
    m_replyCount = 0;
    m_socksState = kNone;
    // Through the layers above: TLS starts its handshake here.
    TriggerSessionConnected(0);
    return TriggerDataAvailable(0);
}

}  // namespace sitowiak::net

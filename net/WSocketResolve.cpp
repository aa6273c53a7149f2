#include "net/WSocketResolve.h"

#include <cctype>
#include <cstdint>
#include <vector>

#include "net/WSocketBinding.h"
#include "net/WSocketTypes.h"

namespace sitowiak::net {

namespace {

// Longest host text accepted; longer texts are refused without a lookup.
constexpr std::size_t kMaxHostLength = 256;
// Port and protocol texts must be shorter than this.
constexpr std::size_t kMaxServiceLength = 32;

bool IsBlank(char c) {
    return c == ' ';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool OnlyBlanksFrom(const std::string& s, std::size_t i) {
    for (; i < s.size(); ++i)
        if (!IsBlank(s[i])) return false;
    return true;
}

// Resolves a name (blocking); throws when it has no address of the family.
std::vector<sockaddr_storage> LookUpHost(const std::string& host, const std::string& trimmed,
                                         int family) {
    std::vector<sockaddr_storage> addrs;
    const int rc = winsock::GetHostAddresses(trimmed, family, &addrs);
    if (rc != 0) {
        winsock::WSASetLastError(rc);
        throw ESocketException("WSocketResolveHost: Cannot convert host address '" + host +
                               "', Error #" + std::to_string(rc));
    }
    return addrs;
}

}  // namespace

std::string WSocketTrim(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
    return text.substr(begin, end - begin);
}

int WSocketAtoi(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    std::int64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT32_MAX) value = INT32_MAX;  // no range test; keep it defined
    }
    return static_cast<int>(value);
}

// The scan: digits build the current part; a "." needs a digit after it and
// a part of at most 255 before it, and there may be at most three; a blank
// ends the scan when only blanks follow; anything else fails.
bool WSocketIsDottedIP(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i < text.size() && text[i] == '.') return false;
    int dots = 0;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (IsDigit(c)) {
            value = value * 10 + (c - '0');
            if (value > 256) value = 256;  // already too big; avoid overflow
        } else if (c == '.') {
            if (++dots > 3 || value > 255 || i + 1 >= text.size() || !IsDigit(text[i + 1]))
                return false;
            value = 0;
        } else if (IsBlank(c) && OnlyBlanksFrom(text, i)) {
            break;
        } else {
            return false;
        }
    }
    return dots == 3 && value <= 255;
}

std::uint32_t WSocketResolveHost(const std::string& host) {
    if (host.empty() || host.size() > kMaxHostLength)
        throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.");
    const std::string trimmed = WSocketTrim(host);
    if (WSocketIsDottedIP(host)) {
        const std::uint32_t addr = winsock::InetAddr(trimmed);
        if (addr == kInAddrNone && trimmed != "255.255.255.255")
            throw ESocketException("WSocketResolveHost: '" + host + "' Invalid IP address.");
        return addr;
    }
    std::vector<sockaddr_storage> addrs = LookUpHost(host, trimmed, AF_INET);
    return reinterpret_cast<const sockaddr_in&>(addrs.front()).sin_addr.s_addr;
}

std::vector<sockaddr_storage> WSocketResolveHostList(const std::string& host) {
    if (host.empty() || host.size() > kMaxHostLength)
        throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.");
    const std::string trimmed = WSocketTrim(host);
    sockaddr_storage addr{};
    if (WSocketIsDottedIP(host)) {
        addr = winsock::AnyAddress(AF_INET);
        reinterpret_cast<sockaddr_in&>(addr).sin_addr.s_addr = WSocketResolveHost(host);
        return {addr};
    }
    // IPv4 shorthands such as "127.1" are left to the resolver, as before;
    // only IPv6 literals are taken here.
    if (trimmed.find(':') != std::string::npos) {
        if (winsock::ParseAddress(trimmed, &addr)) return {addr};
        if (trimmed.front() == '[')
            throw ESocketException("WSocketResolveHost: '" + host + "' Invalid IP address.");
    }
    return LookUpHost(host, trimmed, AF_UNSPEC);
}

int WSocketResolvePort(const std::string& port, const std::string& proto) {
    if (port.empty() || port.size() >= kMaxServiceLength)
        throw ESocketException("WSocketResolvePort: Invalid Port.");
    if (proto.empty() || proto.size() >= kMaxServiceLength)
        throw ESocketException("WSocketResolvePort: Invalid Proto.");
    if (IsDigit(port[0])) return WSocketAtoi(port);
    int number = 0;
    if (!winsock::GetServByName(WSocketTrim(port), WSocketTrim(proto), &number))
        throw ESocketException("WSocketResolvePort: Cannot convert port '" + port + "', Error #" +
                               std::to_string(winsock::WSAGetLastError()));
    return number;
}

int WSocketResolveProto(const std::string& proto) {
    if (proto.empty() || proto.size() >= kMaxServiceLength)
        throw ESocketException("WSocketResolveProto: Invalid Protocol.");
    const std::string trimmed = WSocketTrim(proto);
    if (!trimmed.empty() && IsDigit(trimmed[0])) return WSocketAtoi(trimmed);
    // The two every socket uses, without reading the protocols database
    // for each new connection.
    if (trimmed == "tcp" || trimmed == "TCP") return 6;
    if (trimmed == "udp" || trimmed == "UDP") return 17;
    int number = 0;
    if (!winsock::GetProtoByName(trimmed, &number))
        throw ESocketException("WSocketResolveProto: Cannot convert protocol '" + proto +
                               "', Error #" + std::to_string(winsock::WSAGetLastError()));
    return number;
}

std::string SocketErrorText(int code) {
    switch (code) {
        case 0:
            return "No Error";
        case 10004:
            return "Interrupted system call";
        case 10009:
            return "Bad file number";
        case 10013:
            return "Permission denied";
        case 10014:
            return "Bad address";
        case 10022:
            return "Invalid argument";
        case 10024:
            return "Too many open files";
        case 10035:
            return "Operation would block";
        case 10036:
            return "Operation now in progress";
        case 10037:
            return "Operation already in progress";
        case 10038:
            return "Socket operation on non-socket";
        case 10039:
            return "Destination address required";
        case 10040:
            return "Message too long";
        case 10041:
            return "Protocol wrong type for socket";
        case 10042:
            return "Protocol not available";
        case 10043:
            return "Protocol not supported";
        case 10044:
            return "Socket type not supported";
        case 10045:
            return "Operation not supported on socket";
        case 10046:
            return "Protocol family not supported";
        case 10047:
            return "Address family not supported by protocol family";
        case 10048:
            return "Address already in use";
        case 10049:
            return "Address not available";
        case 10050:
            return "Network is down";
        case 10051:
            return "Network is unreachable";
        case 10052:
            return "Network dropped connection on reset";
        case 10053:
            return "Connection aborted";
        case 10054:
            return "Connection reset by peer";
        case 10055:
            return "No buffer space available";
        case 10056:
            return "Socket is already connected";
        case 10057:
            return "Socket is not connected";
        case 10058:
            return "Can't send after socket shutdown";
        case 10059:
            return "Too many references: can't splice";
        case 10060:
            return "Connection timed out";
        case 10061:
            return "Connection refused";
        case 10062:
            return "Too many levels of symbolic links";
        case 10063:
            return "File name too long";
        case 10064:
            return "Host is down";
        case 10065:
            return "No route to host";
        case 10066:
            return "Directory not empty";
        case 10067:
            return "Too many processes";
        case 10068:
            return "Too many users";
        case 10069:
            return "Disc quota exceeded";
        case 10070:
            return "Stale NFS file handle";
        case 10071:
            return "Too many levels of remote in path";
        case 10091:
            return "Network sub-system is unusable";
        case 10092:
            return "WinSock DLL cannot support this application";
        case 10093:
            return "WinSock not initialized";
        case 10109:
            return "Class type not found";
        case 11001:
            return "Host not found";
        case 11002:
            return "Non-authoritative host not found";
        case 11003:
            return "Non-recoverable error";
        case 11004:
            return "No Data";
        case 20101:
            return "TLS handshake failed";
        case 20102:
            return "TLS certificate issuer unknown";
        case 20103:
            return "TLS certificate name mismatch";
        case 20104:
            return "TLS certificate expired";
        case 20105:
            return "TLS certificate not yet valid";
        case 20106:
            return "TLS certificate rejected";
        case 20107:
            return "TLS certificate fingerprint mismatch";
        case 20108:
            return "Connection closed during TLS handshake";
        case 20109:
            return "TLS handshake timed out";
        case 20110:
            return "TLS setup failed";
        case 20111:
            return "TLS receive failed";
        case 20112:
            return "Server answered without TLS";
        default:
            return "Not a WinSock error";
    }
}

}  // namespace sitowiak::net

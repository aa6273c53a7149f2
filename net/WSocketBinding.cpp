#include "net/WSocketBinding.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace sitowiak::net::winsock {

namespace {

thread_local int t_lastError = 0;
std::atomic<int> g_socketObjects{0};
// getservbyname and getprotobyname return static storage.
std::mutex g_databaseLock;

// Records errno of the call that just failed and passes its result through.
int Fail(int result = SOCKET_ERROR) {
    t_lastError = ErrnoToWinsock(errno);
    return result;
}

int Check(int result) {
    return result < 0 ? Fail(result) : result;
}

socklen_t StorageLen() {
    return static_cast<socklen_t>(sizeof(sockaddr_storage));
}

const sockaddr* AsSockaddr(const sockaddr_storage& a) {
    return reinterpret_cast<const sockaddr*>(&a);
}
sockaddr* AsSockaddr(sockaddr_storage* a) {
    return reinterpret_cast<sockaddr*>(a);
}

const sockaddr_in& AsV4(const sockaddr_storage& a) {
    return reinterpret_cast<const sockaddr_in&>(a);
}
const sockaddr_in6& AsV6(const sockaddr_storage& a) {
    return reinterpret_cast<const sockaddr_in6&>(a);
}

bool IsMappedV4(const sockaddr_storage& a) {
    return a.ss_family == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&AsV6(a).sin6_addr);
}

// An IPv6 literal (with a scope, if any) through the resolver's numeric
// parse, which never asks the network.
bool ParseIPv6(const std::string& text, sockaddr_storage* addr) {
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* list = nullptr;
    if (::getaddrinfo(text.c_str(), nullptr, &hints, &list) != 0) return false;
    *addr = sockaddr_storage{};
    std::memcpy(addr, list->ai_addr, std::min<std::size_t>(list->ai_addrlen, sizeof *addr));
    ::freeaddrinfo(list);
    return true;
}

}  // namespace

int WSAGetLastError() {
    return t_lastError;
}
void WSASetLastError(int code) {
    t_lastError = code;
}

int ErrnoToWinsock(int err) {
    switch (err) {
        case 0:
            return 0;
        case EINTR:
            return 10004;
        case EACCES:
        case EPERM:
            return 10013;
        case EFAULT:
            return 10014;
        case EINVAL:
            return 10022;
        case EMFILE:
        case ENFILE:
            return 10024;
        case EWOULDBLOCK:
            return 10035;
        case EINPROGRESS:
            return 10036;
        case EALREADY:
            return 10037;
        // Every call here takes a socket: a descriptor that is not one (or
        // none at all) is what Winsock calls a non-socket.
        case EBADF:
        case ENOTSOCK:
            return 10038;
        case EDESTADDRREQ:
            return 10039;
        case EMSGSIZE:
            return 10040;
        case EPROTOTYPE:
            return 10041;
        case ENOPROTOOPT:
            return 10042;
        case EPROTONOSUPPORT:
            return 10043;
        case ESOCKTNOSUPPORT:
            return 10044;
        case EOPNOTSUPP:
            return 10045;
        case EPFNOSUPPORT:
            return 10046;
        case EAFNOSUPPORT:
            return 10047;
        case EADDRINUSE:
            return 10048;
        case EADDRNOTAVAIL:
            return 10049;
        case ENETDOWN:
            return 10050;
        case ENETUNREACH:
            return 10051;
        case ENETRESET:
            return 10052;
        case ECONNABORTED:
            return 10053;
        // EPIPE: the peer is gone (Linux reports a reset peer this way on
        // the second write); Winsock says "reset" for the same situation.
        case ECONNRESET:
        case EPIPE:
            return 10054;
        case ENOBUFS:
        case ENOMEM:
            return 10055;
        case EISCONN:
            return 10056;
        case ENOTCONN:
            return 10057;
        case ESHUTDOWN:
            return 10058;
        case ETOOMANYREFS:
            return 10059;
        case ETIMEDOUT:
            return 10060;
        case ECONNREFUSED:
            return 10061;
        case ELOOP:
            return 10062;
        case ENAMETOOLONG:
            return 10063;
        case EHOSTDOWN:
            return 10064;
        case EHOSTUNREACH:
            return 10065;
        case ENOTEMPTY:
            return 10066;
        case EUSERS:
            return 10068;
        case EDQUOT:
            return 10069;
        case ESTALE:
            return 10070;
        case EREMOTE:
            return 10071;
        default:
            return err;
    }
}

int ResolverToWinsock(int eaiCode) {
    switch (eaiCode) {
        case 0:
            return 0;
        case EAI_NONAME:
            return WSAHOST_NOT_FOUND;
        case EAI_AGAIN:
            return WSATRY_AGAIN;
        case EAI_FAIL:
            return WSANO_RECOVERY;
        case EAI_SYSTEM:
            return ErrnoToWinsock(errno);
        // The family asked for is not supported at all (no IPv6 here).
        case EAI_FAMILY:
            return 10047;
        case EAI_SOCKTYPE:
            return WSAESOCKTNOSUPPORT;
        case EAI_SERVICE:
            return WSATYPE_NOT_FOUND;
        case EAI_BADFLAGS:
            return WSAEINVAL;
        case EAI_MEMORY:
            return 10055;
        // The name exists, but has no address of the family asked for.
        case EAI_ADDRFAMILY:
        case EAI_NODATA:
            return WSANO_DATA;
        default:
            return WSANO_DATA;
    }
}

TSocket Socket(int family, int type, int protocol) {
    return Check(::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol));
}

int Bind(TSocket s, const sockaddr_storage& addr) {
    return Check(::bind(s, AsSockaddr(addr), AddressLength(addr)));
}

int Listen(TSocket s, int backlog) {
    return Check(::listen(s, backlog));
}

TSocket Accept(TSocket s, sockaddr_storage* peer) {
    socklen_t len = StorageLen();
    return Check(::accept4(s, AsSockaddr(peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC));
}

int Connect(TSocket s, const sockaddr_storage& addr) {
    return Check(::connect(s, AsSockaddr(addr), AddressLength(addr)));
}

int Send(TSocket s, const void* data, int len, int flags) {
    const ssize_t n = ::send(s, data, static_cast<size_t>(len), flags | MSG_NOSIGNAL);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int SendV(TSocket s, const iovec* runs, int count, int flags) {
    msghdr msg{};
    msg.msg_iov = const_cast<iovec*>(runs);
    msg.msg_iovlen = static_cast<std::size_t>(count);
    const ssize_t n = ::sendmsg(s, &msg, flags | MSG_NOSIGNAL);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int SendTo(TSocket s, const void* data, int len, int flags, const sockaddr_storage& to) {
    const ssize_t n = ::sendto(s, data, static_cast<size_t>(len), flags | MSG_NOSIGNAL,
                               AsSockaddr(to), AddressLength(to));
    return n < 0 ? Fail() : static_cast<int>(n);
}

int Recv(TSocket s, void* buf, int len, int flags) {
    const ssize_t n = ::recv(s, buf, static_cast<size_t>(len < 0 ? 0 : len), flags);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int RecvFrom(TSocket s, void* buf, int len, int flags, sockaddr_storage* from) {
    socklen_t fromLen = StorageLen();
    const ssize_t n = ::recvfrom(s, buf, static_cast<size_t>(len < 0 ? 0 : len), flags,
                                 AsSockaddr(from), &fromLen);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int PeekOne(TSocket s) {
    char byte;
    const ssize_t n = ::recv(s, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int Shutdown(TSocket s, int how) {
    return Check(::shutdown(s, how));
}

int CloseSocket(TSocket s) {
    return Check(::close(s));
}

int SetSockOptInt(TSocket s, int level, int name, int value) {
    return Check(::setsockopt(s, level, name, &value, sizeof value));
}

int SetLinger(TSocket s, bool on, int seconds) {
    linger li{};
    li.l_onoff = on ? 1 : 0;
    li.l_linger = seconds;
    return Check(::setsockopt(s, SOL_SOCKET, SO_LINGER, &li, sizeof li));
}

int BytesWaiting(TSocket s) {
    int count = 0;
    return ::ioctl(s, FIONREAD, &count) < 0 ? Fail() : count;
}

void DiscardInput(TSocket s) {
    int left = 0;
    if (::ioctl(s, FIONREAD, &left) < 0) return;
    char scratch[4096];
    while (left > 0) {
        const auto want = std::min(sizeof scratch, static_cast<std::size_t>(left));
        const ssize_t n = ::recv(s, scratch, want, MSG_DONTWAIT);
        if (n <= 0) return;
        left -= static_cast<int>(n);
    }
}

int PendingError(TSocket s) {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return Fail();
    return ErrnoToWinsock(err);
}

int GetSockName(TSocket s, sockaddr_storage* addr) {
    socklen_t len = StorageLen();
    return Check(::getsockname(s, AsSockaddr(addr), &len));
}

int GetPeerName(TSocket s, sockaddr_storage* addr) {
    socklen_t len = StorageLen();
    return Check(::getpeername(s, AsSockaddr(addr), &len));
}

std::uint32_t InetAddr(const std::string& text) {
    return ::inet_addr(text.c_str());
}

std::string InetNtoa(std::uint32_t addrNetworkOrder) {
    in_addr a{};
    a.s_addr = addrNetworkOrder;
    char out[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, out, sizeof out);
    return out;
}

bool ParseAddress(const std::string& text, sockaddr_storage* addr) {
    std::string inner = text;
    const bool bracketed = text.size() >= 2 && text.front() == '[' && text.back() == ']';
    if (bracketed) inner = text.substr(1, text.size() - 2);
    if (inner.empty() || inner.find('\0') != std::string::npos) return false;
    const std::uint32_t v4 = InetAddr(inner);
    if (v4 != kInAddrNone) {
        *addr = AnyAddress(AF_INET);
        reinterpret_cast<sockaddr_in*>(addr)->sin_addr.s_addr = v4;
        return true;
    }
    return ParseIPv6(inner, addr);
}

std::string AddressText(const sockaddr_storage& addr) {
    sockaddr_in v4{};
    if (ToIPv4(addr, &v4)) return InetNtoa(v4.sin_addr.s_addr);
    if (addr.ss_family != AF_INET6) return std::string();
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(AsSockaddr(addr), AddressLength(addr), host, sizeof host, nullptr, 0,
                      NI_NUMERICHOST) != 0)
        return std::string();
    return host;
}

int AddressPort(const sockaddr_storage& addr) {
    return addr.ss_family == AF_INET6 ? ntohs(AsV6(addr).sin6_port) : ntohs(AsV4(addr).sin_port);
}

void SetAddressPort(sockaddr_storage* addr, int portHostOrder) {
    const auto port = htons(static_cast<std::uint16_t>(portHostOrder));
    if (addr->ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(addr)->sin6_port = port;
    else
        reinterpret_cast<sockaddr_in*>(addr)->sin_port = port;
}

socklen_t AddressLength(const sockaddr_storage& addr) {
    return static_cast<socklen_t>(addr.ss_family == AF_INET6 ? sizeof(sockaddr_in6)
                                                             : sizeof(sockaddr_in));
}

bool IsAnyAddress(const sockaddr_storage& addr) {
    if (addr.ss_family == AF_INET6) return IN6_IS_ADDR_UNSPECIFIED(&AsV6(addr).sin6_addr);
    return addr.ss_family == AF_INET && AsV4(addr).sin_addr.s_addr == htonl(INADDR_ANY);
}

sockaddr_storage AnyAddress(int family) {
    sockaddr_storage a{};
    a.ss_family = static_cast<sa_family_t>(family == AF_INET6 ? AF_INET6 : AF_INET);
    return a;
}

bool ToIPv4(const sockaddr_storage& addr, sockaddr_in* v4) {
    if (addr.ss_family == AF_INET) {
        *v4 = AsV4(addr);
        return true;
    }
    if (!IsMappedV4(addr)) return false;
    *v4 = sockaddr_in{};
    v4->sin_family = AF_INET;
    v4->sin_port = AsV6(addr).sin6_port;
    std::memcpy(&v4->sin_addr, AsV6(addr).sin6_addr.s6_addr + 12, 4);
    return true;
}

bool GetServByName(const std::string& name, const std::string& proto, int* portHostOrder) {
    std::lock_guard<std::mutex> guard(g_databaseLock);
    const servent* se = ::getservbyname(name.c_str(), proto.c_str());
    if (se == nullptr) {
        t_lastError = WSANO_DATA;
        return false;
    }
    *portHostOrder = ntohs(static_cast<std::uint16_t>(se->s_port));
    return true;
}

bool GetProtoByName(const std::string& name, int* number) {
    std::lock_guard<std::mutex> guard(g_databaseLock);
    const protoent* pe = ::getprotobyname(name.c_str());
    if (pe == nullptr) {
        t_lastError = WSANO_DATA;
        return false;
    }
    *number = pe->p_proto;
    return true;
}

int GetHostAddresses(const std::string& name, int family, std::vector<sockaddr_storage>* addrs) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0) return ResolverToWinsock(rc);
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
        sockaddr_storage a{};
        std::memcpy(&a, ai->ai_addr, std::min<std::size_t>(ai->ai_addrlen, sizeof a));
        const bool seen = std::any_of(addrs->begin(), addrs->end(), [&](const sockaddr_storage& b) {
            return std::memcmp(&a, &b, sizeof a) == 0;
        });
        if (!seen) addrs->push_back(a);
    }
    ::freeaddrinfo(list);
    return addrs->empty() ? WSANO_DATA : 0;
}

int GetHostName(const sockaddr_storage& addr, std::string* name) {
    char host[NI_MAXHOST] = {};
    const int rc = ::getnameinfo(AsSockaddr(addr), AddressLength(addr), host, sizeof host,
                                 nullptr, 0, NI_NAMEREQD);
    if (rc != 0) return ResolverToWinsock(rc);
    *name = host;
    return 0;
}

void AddSocketObject() {
    ++g_socketObjects;
}
void RemoveSocketObject() {
    --g_socketObjects;
}
int SocketObjectCount() {
    return g_socketObjects.load();
}

}  // namespace sitowiak::net::winsock

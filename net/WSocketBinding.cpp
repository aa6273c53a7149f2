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

socklen_t AddrLen() {
    return static_cast<socklen_t>(sizeof(sockaddr_in));
}

const sockaddr* AsSockaddr(const sockaddr_in& a) {
    return reinterpret_cast<const sockaddr*>(&a);
}
sockaddr* AsSockaddr(sockaddr_in* a) {
    return reinterpret_cast<sockaddr*>(a);
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
        default:
            return WSANO_DATA;
    }
}

TSocket Socket(int family, int type, int protocol) {
    return Check(::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol));
}

int Bind(TSocket s, const sockaddr_in& addr) {
    return Check(::bind(s, AsSockaddr(addr), AddrLen()));
}

int Listen(TSocket s, int backlog) {
    return Check(::listen(s, backlog));
}

TSocket Accept(TSocket s, sockaddr_in* peer) {
    socklen_t len = AddrLen();
    return Check(::accept4(s, AsSockaddr(peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC));
}

int Connect(TSocket s, const sockaddr_in& addr) {
    return Check(::connect(s, AsSockaddr(addr), AddrLen()));
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

int SendTo(TSocket s, const void* data, int len, int flags, const sockaddr_in& to) {
    const ssize_t n = ::sendto(s, data, static_cast<size_t>(len), flags | MSG_NOSIGNAL,
                               AsSockaddr(to), AddrLen());
    return n < 0 ? Fail() : static_cast<int>(n);
}

int Recv(TSocket s, void* buf, int len, int flags) {
    const ssize_t n = ::recv(s, buf, static_cast<size_t>(len < 0 ? 0 : len), flags);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int RecvFrom(TSocket s, void* buf, int len, int flags, sockaddr_in* from) {
    socklen_t fromLen = AddrLen();
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

int GetSockName(TSocket s, sockaddr_in* addr) {
    socklen_t len = AddrLen();
    return Check(::getsockname(s, AsSockaddr(addr), &len));
}

int GetPeerName(TSocket s, sockaddr_in* addr) {
    socklen_t len = AddrLen();
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

int GetHostAddresses(const std::string& name, std::vector<std::uint32_t>* addrs) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0) return ResolverToWinsock(rc);
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        const auto* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
        addrs->push_back(sin->sin_addr.s_addr);
    }
    ::freeaddrinfo(list);
    return addrs->empty() ? WSANO_DATA : 0;
}

int GetHostName(std::uint32_t addrNetworkOrder, std::string* name) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = addrNetworkOrder;
    char host[NI_MAXHOST] = {};
    const int rc =
        ::getnameinfo(AsSockaddr(&sin), AddrLen(), host, sizeof host, nullptr, 0, NI_NAMEREQD);
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

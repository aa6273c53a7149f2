// The binding to the platform's socket calls. This file pair makes every raw
// system call of the socket library and is the only reader of errno: each
// wrapper keeps the Winsock-style result (-1 on failure, INVALID_SOCKET for
// handles) and records the failure as a Winsock error code, which
// WSAGetLastError returns (per thread, as on Windows).
//
// Addresses travel as sockaddr_storage, which holds IPv4 and IPv6 alike; the
// helpers below read and write them, so no caller casts between the kinds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

namespace sitowiak::net {

using TSocket = int;
inline constexpr TSocket INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;
inline constexpr std::uint32_t kInAddrNone = 0xFFFFFFFFu;  // INADDR_NONE, network order

// Winsock error codes the socket layer tests for by name.
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSATYPE_NOT_FOUND = 10109;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

namespace winsock {

int WSAGetLastError();
void WSASetLastError(int code);
// The Winsock code for an errno value (unknown values are passed through).
int ErrnoToWinsock(int err);
// The Winsock code for a getaddrinfo/getnameinfo result (0 stays 0).
int ResolverToWinsock(int eaiCode);

// Non-blocking, close-on-exec stream or datagram socket.
TSocket Socket(int family, int type, int protocol);
int Bind(TSocket s, const sockaddr_storage& addr);
int Listen(TSocket s, int backlog);
TSocket Accept(TSocket s, sockaddr_storage* peer);
int Connect(TSocket s, const sockaddr_storage& addr);
// send/sendto never raise SIGPIPE; a vanished peer reads as WSAECONNRESET.
int Send(TSocket s, const void* data, int len, int flags);
// One write of several runs of bytes, in order (sendmsg).
int SendV(TSocket s, const iovec* runs, int count, int flags);
int SendTo(TSocket s, const void* data, int len, int flags, const sockaddr_storage& to);
int Recv(TSocket s, void* buf, int len, int flags);
int RecvFrom(TSocket s, void* buf, int len, int flags, sockaddr_storage* from);
// Peeks at one byte: 1 when data waits, 0 at the peer's end, -1 on error
// (WSAEWOULDBLOCK when nothing is there yet).
int PeekOne(TSocket s);
int Shutdown(TSocket s, int how);
int CloseSocket(TSocket s);
int SetSockOptInt(TSocket s, int level, int name, int value);
int SetLinger(TSocket s, bool on, int seconds);
// FIONREAD: bytes waiting, or -1.
int BytesWaiting(TSocket s);
// Reads and drops what waits to be read now (no more than FIONREAD
// reports at the start); the last error is left as it was.
void DiscardInput(TSocket s);
// The pending error of a socket (SO_ERROR) as a Winsock code; -1 on failure.
int PendingError(TSocket s);
int GetSockName(TSocket s, sockaddr_storage* addr);
int GetPeerName(TSocket s, sockaddr_storage* addr);

// inet_addr: network-order address of a dotted text, kInAddrNone if invalid.
std::uint32_t InetAddr(const std::string& text);
std::string InetNtoa(std::uint32_t addrNetworkOrder);

// An address literal: IPv4 as inet_addr reads it, or IPv6 (a scope such as
// "%eth0" allowed), either of them in square brackets or not. Port 0.
// False, with *addr untouched, for anything else (names included).
bool ParseAddress(const std::string& text, sockaddr_storage* addr);
// The text of an address: dotted IPv4 for IPv4 and IPv4-mapped IPv6
// (::ffff:a.b.c.d, what a dual-stack listener reports for an IPv4 peer),
// so the same reader always has the same text; otherwise the canonical
// IPv6 text (RFC 5952, inet_ntop's), with its scope if it has one.
std::string AddressText(const sockaddr_storage& addr);
// Port in host order; SetAddressPort takes one in host order.
int AddressPort(const sockaddr_storage& addr);
void SetAddressPort(sockaddr_storage* addr, int portHostOrder);
// The length the system calls take for this address's family.
socklen_t AddressLength(const sockaddr_storage& addr);
// 0.0.0.0 or ::, the address that binds every local interface.
bool IsAnyAddress(const sockaddr_storage& addr);
// The any-address of a family (AF_INET or AF_INET6).
sockaddr_storage AnyAddress(int family);
// Converts an IPv4 or IPv4-mapped address to sockaddr_in; false for others.
bool ToIPv4(const sockaddr_storage& addr, sockaddr_in* v4);

// Blocking database look-ups. They return false and set the last error
// (a resolver code) when nothing is found.
bool GetServByName(const std::string& name, const std::string& proto, int* portHostOrder);
bool GetProtoByName(const std::string& name, int* number);
// All addresses of a host name of the family (AF_INET, AF_INET6 or
// AF_UNSPEC for both) in the resolver's order: with both, the system's
// preference (RFC 6724) puts IPv6 first when there is a route for it, and
// addresses without a route last. Each address once. Thread-safe; returns 0
// or a Winsock resolver code.
int GetHostAddresses(const std::string& name, int family, std::vector<sockaddr_storage>* addrs);
// The host name of an address; 0 or a resolver code.
int GetHostName(const sockaddr_storage& addr, std::string* name);

// Process-wide count of live socket objects (the socket layer keeps it).
void AddSocketObject();
void RemoveSocketObject();
int SocketObjectCount();

}  // namespace winsock
}  // namespace sitowiak::net

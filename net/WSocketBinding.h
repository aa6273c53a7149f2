// The binding to the platform's socket calls. This file pair makes every raw
// system call of the socket library and is the only reader of errno: each
// wrapper keeps the Winsock-style result (-1 on failure, INVALID_SOCKET for
// handles) and records the failure as a Winsock error code, which
// WSAGetLastError returns (per thread, as on Windows).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <netinet/in.h>
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
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSANOTINITIALISED = 10093;
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
int Bind(TSocket s, const sockaddr_in& addr);
int Listen(TSocket s, int backlog);
TSocket Accept(TSocket s, sockaddr_in* peer);
int Connect(TSocket s, const sockaddr_in& addr);
// send/sendto never raise SIGPIPE; a vanished peer reads as WSAECONNRESET.
int Send(TSocket s, const void* data, int len, int flags);
// One write of several runs of bytes, in order (sendmsg).
int SendV(TSocket s, const iovec* runs, int count, int flags);
int SendTo(TSocket s, const void* data, int len, int flags, const sockaddr_in& to);
int Recv(TSocket s, void* buf, int len, int flags);
int RecvFrom(TSocket s, void* buf, int len, int flags, sockaddr_in* from);
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
int GetSockName(TSocket s, sockaddr_in* addr);
int GetPeerName(TSocket s, sockaddr_in* addr);

// inet_addr: network-order address of a dotted text, kInAddrNone if invalid.
std::uint32_t InetAddr(const std::string& text);
std::string InetNtoa(std::uint32_t addrNetworkOrder);

// Blocking database look-ups. They return false and set the last error
// (a resolver code) when nothing is found.
bool GetServByName(const std::string& name, const std::string& proto, int* portHostOrder);
bool GetProtoByName(const std::string& name, int* number);
// All IPv4 addresses of a host name in the resolver's order. Thread-safe;
// returns 0 or a Winsock resolver code.
int GetHostAddresses(const std::string& name, std::vector<std::uint32_t>* addrs);
// The host name of an IPv4 address (network order); 0 or a resolver code.
int GetHostName(std::uint32_t addrNetworkOrder, std::string* name);

// Process-wide count of live socket objects (the socket layer keeps it).
void AddSocketObject();
void RemoveSocketObject();
int SocketObjectCount();

}  // namespace winsock
}  // namespace sitowiak::net

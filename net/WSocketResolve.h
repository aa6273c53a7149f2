// Turning the socket's text settings into numbers, and the error texts.
// The resolution functions throw ESocketException with the texts below.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

namespace sitowiak::net {

// IPv4 address in network order. Dotted texts are converted directly
// ("255.255.255.255" is the broadcast address); other texts are looked up
// (blocking).
std::uint32_t WSocketResolveHost(const std::string& host);
// Every address of a host text, port 0: a dotted IPv4 text or an IPv6
// literal (in square brackets or not) gives itself; a name gives all its
// IPv4 and IPv6 addresses in the resolver's order (blocking). Throws with
// the texts of WSocketResolveHost.
std::vector<sockaddr_storage> WSocketResolveHostList(const std::string& host);
// Port in host order: leading decimal digits, or a service name for proto.
int WSocketResolvePort(const std::string& port, const std::string& proto);
// Protocol number: leading decimal digits, or a protocol name.
int WSocketResolveProto(const std::string& proto);
// The English text of a Winsock error code; "Not a WinSock error" for others.
std::string SocketErrorText(int code);

// True for texts of the form n.n.n.n (each part at most 255), blanks around
// allowed; see the implementation for the exact scan.
bool WSocketIsDottedIP(const std::string& text);
// Leading blanks skipped, then decimal digits up to the first non-digit;
// no digits give 0.
int WSocketAtoi(const std::string& text);
std::string WSocketTrim(const std::string& text);

}  // namespace sitowiak::net

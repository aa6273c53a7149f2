// The way to the news server through a SOCKS server, as "SocksSerwer",
// "SocksPoziom", "SocksUzytkownik" and "SocksHaslo" give it, and the words
// for its failures. The socket library conducts the SOCKS exchange; this
// sets it up and tells the reader what went wrong, naming the SOCKS server.
//
// With SOCKS 5 and 4A the news server's name goes to the SOCKS server
// unresolved (a Tor SOCKS port reaches .onion names so, and no lookup
// leaks past it). SOCKS 4 carries only an IPv4 address: the name is looked
// up on this machine, and the log says so.
#pragma once

#include <cstdint>
#include <string>

#include "net/TWSocket.h"
#include "proxy/core/ProxySettings.h"

namespace sitowiak::proxy {

class SocksRoute {
public:
    static constexpr int kUnknownLevel = 20195;   // "SocksPoziom" names no level
    static constexpr int kConnectFailed = 20196;  // the SOCKS connection could not start

    explicit SocksRoute(const ProxySettings& settings);

    // Whether a SOCKS server is set at all.
    bool Used() const { return !m_host.empty(); }
    // Whether the news server's name goes to the SOCKS server (5 and 4A).
    bool NameGoesThrough() const { return m_level != "4"; }
    // "host:port" of the SOCKS server, IPv6 in brackets.
    const std::string& Text() const { return m_text; }

    // Sets the socket's SOCKS fields. Returns 0 or kUnknownLevel.
    int Apply(net::TWSocket& socket) const;
    // For SOCKS 4 after the local lookup of `name`: puts an IPv4 address of
    // it first, and returns the log's note on the lookup (empty when `name`
    // was an address already).
    std::string TakeLookup(net::TWSocket& socket, const std::string& name) const;
    // The Polish reason for `code`, naming the SOCKS server; empty for a
    // code that is not the SOCKS server's. `before` tells that the path
    // through the SOCKS server was not yet open, so that a refused or
    // timed-out connection is the SOCKS server's, not the news server's.
    std::string FailureText(int code, bool before) const;

private:
    std::string m_host;
    std::string m_port;
    std::string m_text;
    std::string m_level;  // "5", "4A", "4", or the unknown text as written
    std::string m_user;
    std::string m_password;
};

}  // namespace sitowiak::proxy

// The news server as the settings give it: "Serwer grup" holds a host name
// or an address, and "Port" the port. An IPv6 address may be written bare
// (::1) or in square brackets ([::1]), and, as it is often copied from
// elsewhere, with a port after the brackets ([::1]:119); a name or an IPv4
// address may carry one after a single colon (news.example:119). A port
// written there is used instead of "Port".
//
// What odd texts become: blanks around the whole text are dropped; a
// bracket that is not closed, or text after "]" that is not ":" and a port,
// leaves the whole text as the host (its lookup then fails and the reader
// is told so); an empty port after the colon keeps "Port".
#pragma once

#include <string>
#include <string_view>

namespace sitowiak::proxy {

struct ServerAddress {
    std::string Host;  // name or address, without brackets
    std::string Port;

    // "host:port", an IPv6 address in brackets ("[::1]:119"), as the
    // reader sees it in the failure line and the log.
    std::string Text() const;
};

ServerAddress ParseServerAddress(std::string_view address, std::string_view port);

}  // namespace sitowiak::proxy

#include "proxy/core/ServerAddress.h"

namespace sitowiak::proxy {

namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

ServerAddress Make(std::string_view host, std::string_view port, std::string_view fallback) {
    return {std::string(host), std::string(port.empty() ? fallback : port)};
}

}  // namespace

std::string ServerAddress::Text() const {
    if (Host.find(':') != std::string::npos) return "[" + Host + "]:" + Port;
    return Host + ":" + Port;
}

ServerAddress ParseServerAddress(std::string_view address, std::string_view port) {
    const std::string_view text = TrimBlanks(address);
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return Make(text, {}, port);
        const std::string_view host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (rest.empty()) return Make(host, {}, port);
        if (rest.front() == ':') return Make(host, rest.substr(1), port);
        return Make(text, {}, port);
    }
    const std::size_t colon = text.find(':');
    // Two colons or more: a bare IPv6 address, whose last group is no port.
    if (colon == std::string_view::npos || text.find(':', colon + 1) != std::string_view::npos)
        return Make(text, {}, port);
    return Make(text.substr(0, colon), text.substr(colon + 1), port);
}

}  // namespace sitowiak::proxy

// The settings a window test starts from. A window whose settings say
// "listen" binds its port at once: tests give it a port nothing uses, never
// the default 888, which a running Sitowiak (or anything else) may hold.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "platform/core/RegistryHive.h"
#include "tests/support/TestApp.h"

namespace sitowiak::testing {

inline constexpr const char* kParams = "HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\Parametry";

// A port nothing listens on now, for both address families.
inline int FreePort() {
    int fd = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        ADD_FAILURE() << "no free port";
    close(fd);
    return ntohs(address.sin6_port);
}

inline void StoreSetting(const TempConfig& config, const char* name, const std::string& value) {
    platform::RegistryHive(config.UserHive()).WriteValue(kParams, name, platform::RegValue::String(value));
}

// Stores a free LocalPort and returns it.
inline std::string StoreFreeLocalPort(const TempConfig& config) {
    std::string port = std::to_string(FreePort());
    StoreSetting(config, "LocalPort", port);
    return port;
}

}  // namespace sitowiak::testing

// Tests that need IPv6 on loopback: a machine without ::1 fails them with
// the reason instead of passing them by.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace sitowiak::testing {

inline void RequireIPv6Loopback() {
    std::ifstream in("/proc/net/if_inet6");
    std::string line;
    bool found = false;
    while (std::getline(in, line)) found = found || line.starts_with(std::string(31, '0') + "1");
    ASSERT_TRUE(found) << "no ::1 in /proc/net/if_inet6: IPv6 is off on this machine";
}

}  // namespace sitowiak::testing

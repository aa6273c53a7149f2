// The log colour of a relay, chosen by the number of open reader connections
// when it starts: one colour each for the first eleven, black after that.
#pragma once

#include <array>

#include "log/LogSink.h"

namespace sitowiak::proxy {

inline constexpr std::array<log::Rgb, 11> kConnectionColors = {
    0x000000,  // black
    0x800000,  // maroon
    0x008000,  // green
    0x808000,  // olive
    0x000080,  // navy
    0x800080,  // purple
    0xFF0000,  // red
    0x00FF00,  // lime
    0xFFFF00,  // yellow
    0x0000FF,  // blue
    0xFF00FF,  // fuchsia
};

inline log::Rgb ConnectionColor(int connections) {
    if (connections < 1 || connections > static_cast<int>(kConnectionColors.size())) return 0;
    return kConnectionColors[static_cast<size_t>(connections - 1)];
}

}  // namespace sitowiak::proxy

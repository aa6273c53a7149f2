#include "Display.h"

#include <cstdlib>

namespace sitowiak::platform {
namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

bool SelectPlatformForDisplay() {
    if (IsSet("QT_QPA_PLATFORM") || IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY")) return false;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return true;
}

}  // namespace sitowiak::platform

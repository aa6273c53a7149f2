// Tells a service manager how the program is doing (sd_notify): READY=1
// once it listens, STATUS= lines, STOPPING=1. Nothing happens when the
// program was not started by one (no NOTIFY_SOCKET).
#pragma once

#include <string>

namespace sitowiak::platform {

void NotifyServiceManager(const std::string& state);

}  // namespace sitowiak::platform

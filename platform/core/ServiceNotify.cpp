#include "ServiceNotify.h"

#include <systemd/sd-daemon.h>

namespace sitowiak::platform {

void NotifyServiceManager(const std::string& state) {
    // Failures are not the program's concern: without a manager listening
    // there is nobody to tell.
    sd_notify(0, state.c_str());
}

}  // namespace sitowiak::platform

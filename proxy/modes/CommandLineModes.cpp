#include "CommandLineModes.h"

#include "proxy/modes/DistributionMode.h"
#include "proxy/modes/ModeApplication.h"
#include "proxy/modes/RegistrationMode.h"
#include "util/Modules.h"

namespace sitowiak::proxy {

int RunDistributionMode(int argc, char** argv) {
    // Taken before the application object, which may edit argv.
    package::PackageContext context = DistributionContext(argc, argv);
    ModeApplication application(argc, argv);
    return RunDistribution(context) ? 0 : 1;
}

int RunRegistrationMode(int argc, char** argv) {
    ModeApplication application(argc, argv);
    RegistrationMode mode(util::ModulePath(nullptr));
    const bool started = mode.Run() >= 0;
    return mode.Registered() && started ? 0 : 1;
}

}  // namespace sitowiak::proxy

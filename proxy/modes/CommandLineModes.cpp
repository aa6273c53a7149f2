#include "CommandLineModes.h"

#include "proxy/modes/DistributionMode.h"
#include "proxy/modes/ModeApplication.h"
#include "proxy/modes/RegistrationMode.h"
#include "util/Modules.h"

namespace sitowiak::proxy {

void RunDistributionMode(int argc, char** argv) {
    ModeApplication application(argc, argv);
    RunDistribution(DistributionContext(argc, argv));
}

void RunRegistrationMode(int argc, char** argv) {
    ModeApplication application(argc, argv);
    RegistrationMode(util::ModulePath(nullptr)).Run();
}

}  // namespace sitowiak::proxy

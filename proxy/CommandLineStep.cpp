#include "CommandLineStep.h"

#include <cstring>

#include "proxy/modes/CommandLineModes.h"

namespace sitowiak::proxy {

bool CommandLineStep(int argc, char** argv) {
    const char* first = argc > 1 ? argv[1] : "";
    bool distribution = std::strcmp(first, kModeDistribution) == 0;
    bool registration = std::strcmp(first, kModeRegistration) == 0;
    if (distribution) RunDistributionMode(argc, argv);
    if (registration) RunRegistrationMode(argc, argv);
    return distribution || registration;
}

}  // namespace sitowiak::proxy

#include "CommandLineStep.h"

#include <cstring>

#include "proxy/modes/CommandLineModes.h"

namespace sitowiak::proxy {

std::optional<int> CommandLineStep(int argc, char** argv) {
    const char* first = argc > 1 ? argv[1] : "";
    if (std::strcmp(first, kModeDistribution) == 0) return RunDistributionMode(argc, argv);
    if (std::strcmp(first, kModeRegistration) == 0) return RunRegistrationMode(argc, argv);
    return std::nullopt;
}

}  // namespace sitowiak::proxy

#include "CommandLineModes.h"

namespace sitowiak::proxy {

// The package builder and the autostart registration come with the system
// utilities; until then both modes end without doing anything.
void RunDistributionMode(int, char**) {}
void RunRegistrationMode(int, char**) {}

}  // namespace sitowiak::proxy

// "-nainternet": the package builder run over the program file and then over
// the runtime packages, with one summary message when any file failed.
#pragma once

#include "package/PackageContext.h"

namespace sitowiak::proxy {

// Returns true when every file was published (or described in the project).
bool RunDistribution(const package::PackageContext& context);

// The context of a run of the program itself: its own file, the second
// command-line argument (empty when missing) and its folder for "compress".
package::PackageContext DistributionContext(int argc, char** argv);

}  // namespace sitowiak::proxy

// What a run of the package builder works with: the program's own file, the
// second command-line argument and where the "compress" tool is looked for.
#pragma once

#include <string>

namespace sitowiak::package {

inline constexpr char kProjectModeArgument[] = "is";

struct PackageContext {
    std::string programFile;
    // The tree root (a plain prefix: nothing is inserted after it), or "is"
    // for project mode.
    std::string argument;
    // Searched for "compress" before PATH: normally the program's folder.
    std::string toolFolder;

    bool IsProjectMode() const { return argument == kProjectModeArgument; }
};

}  // namespace sitowiak::package

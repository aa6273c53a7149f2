// The program as the index lists and the project file name it: its file, its
// folder code and rest, and its name.
#pragma once

#include <string>

#include "package/PackagePaths.h"

namespace sitowiak::package {

struct ProgramInfo {
    std::string file;
    ClassifiedPath place;
    // "ProductName" of the version block (first translation), else the file name.
    std::string name;

    static ProgramInfo Of(const std::string& programFile);
};

}  // namespace sitowiak::package

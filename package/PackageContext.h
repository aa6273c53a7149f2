// What a run of the package builder works with: the program's own file, the
// second command-line argument and where the "compress" tool is looked for.
#pragma once

#include <string>

#include "package/PackagePaths.h"

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

// The program as the index lists and the project file name it.
struct ProgramInfo {
    std::string file;
    ClassifiedPath place;
    // "ProductName" of the version block (first translation), else the file name.
    std::string name;

    static ProgramInfo Of(const std::string& programFile);
};

// Every warning of the builder: caption "Ostrzeżenie", OK only, no icon.
void Warn(const std::string& text);

// `text` in double quotes, as the warnings show paths.
std::string Quoted(const std::string& text);

}  // namespace sitowiak::package

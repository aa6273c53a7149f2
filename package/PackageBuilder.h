// The distribution package builder run by "-nainternet": publishes the
// program's files into a distribution tree, or describes them in the
// installer project when the argument is "is".
//
// Runtime packages are shared objects the project builds itself (they carry
// the version block); system libraries never are. A program linked without
// such libraries has none, and BuildModulePackages succeeds at once.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "package/PackageContext.h"
#include "package/ProgramInfo.h"

namespace sitowiak::package {

class ProjectMode;
class PublishMode;
class TBelkaPostepu;

class PackageBuilder {
public:
    explicit PackageBuilder(PackageContext context);
    ~PackageBuilder();

    // Publishes or describes one file; true when it is done (project mode:
    // when the project file could be written).
    bool BuildPackage(const std::string& source);
    // Every runtime package loaded into the process, most recently loaded
    // first, with the packages each one requires. Stops at the first package
    // whose files failed; true when none did.
    bool BuildModulePackages();

    // The progress window, once a publish run has created it.
    TBelkaPostepu* ProgressWindow() const;

private:
    bool BuildRuntimePackage(const std::string& file);

    PackageContext m_context;
    ProgramInfo m_program;
    std::unique_ptr<PublishMode> m_publish;
    std::unique_ptr<ProjectMode> m_project;
    std::set<std::string> m_visited;  // packages already built in this run
};

}  // namespace sitowiak::package

#include "ProgramInfo.h"

#include "frame/identity/ProductIdentity.h"

namespace sitowiak::package {

ProgramInfo ProgramInfo::Of(const std::string& programFile) {
    frame::ProductIdentity identity;
    frame::ReadVersionInfo(programFile, identity);
    std::string name =
        identity.ProductName.empty() ? FileNamePart(programFile) : identity.ProductName;
    return {programFile, ClassifyPath(programFile), name};
}

}  // namespace sitowiak::package

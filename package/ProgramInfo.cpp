#include "ProgramInfo.h"

#include "platform/core/ProductIdentity.h"

namespace sitowiak::package {

ProgramInfo ProgramInfo::Of(const std::string& programFile) {
    platform::ProductIdentity identity;
    platform::ReadVersionInfo(programFile, identity);
    std::string name =
        identity.ProductName.empty() ? FileNamePart(programFile) : identity.ProductName;
    return {programFile, ClassifyPath(programFile), name};
}

}  // namespace sitowiak::package

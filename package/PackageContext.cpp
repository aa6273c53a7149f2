#include "PackageContext.h"

#include "frame/identity/ProductIdentity.h"
#include "platform/gui/MessageBox.h"

namespace sitowiak::package {

ProgramInfo ProgramInfo::Of(const std::string& programFile) {
    frame::ProductIdentity identity;
    frame::ReadVersionInfo(programFile, identity);
    std::string name =
        identity.ProductName.empty() ? FileNamePart(programFile) : identity.ProductName;
    return {programFile, ClassifyPath(programFile), name};
}

void Warn(const std::string& text) {
    platform::MessageBox(text, "Ostrzeżenie", platform::MB_OK);
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace sitowiak::package

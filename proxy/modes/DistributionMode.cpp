#include "DistributionMode.h"

#include "package/PackageBuilder.h"
#include "package/PackagePaths.h"
#include "platform/gui/MessageBox.h"
#include "util/Modules.h"

namespace sitowiak::proxy {

bool RunDistribution(const package::PackageContext& context) {
    package::PackageBuilder builder(context);
    bool sent = builder.BuildPackage(context.programFile) && builder.BuildModulePackages();
    if (!sent)
        platform::MessageBox(
            "Przynajmniej jednego z plików nie udało się wysłać. Instalacja wstrzymana !",
            "Błąd transferu", platform::MB_OK | platform::MB_ICONERROR);
    return sent;
}

package::PackageContext DistributionContext(int argc, char** argv) {
    std::string program = util::ModulePath(nullptr);
    return {program, argc > 2 && argv[2] ? argv[2] : "", package::FolderPart(program)};
}

}  // namespace sitowiak::proxy

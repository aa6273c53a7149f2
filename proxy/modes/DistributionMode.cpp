#include "DistributionMode.h"

#include <cstdlib>

#include "package/PackageBuilder.h"
#include "package/PackagePaths.h"
#include "platform/gui/MessageBox.h"
#include "util/Modules.h"

namespace sitowiak::proxy {

bool RunDistribution(const package::PackageContext& context) {
    // The tree is a plain prefix: an empty one would fill the current
    // folder with a folder named "~", the code of paths outside the known
    // folders.
    if (context.argument.empty()) {
        platform::MessageBox(
            "Nie podano folderu drzewa dystrybucji. Użycie: -nainternet FOLDER/ albo "
            "-nainternet is",
            "Błąd transferu", platform::MB_OK | platform::MB_ICONERROR);
        return false;
    }
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
    std::string tree = argc > 2 && argv[2] ? argv[2] : "";
    // A quoted "~/tree/" reaches us as written: it means the home folder, as
    // the shell would have read it unquoted.
    const char* home = std::getenv("HOME");
    if ((tree == "~" || tree.starts_with("~/")) && home && *home)
        tree = std::string(home) + (tree == "~" ? "/" : tree.substr(1));
    return {program, tree, package::FolderPart(program)};
}

}  // namespace sitowiak::proxy

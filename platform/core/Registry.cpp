#include "Registry.h"

#include <cstdlib>

namespace sitowiak::platform {

std::filesystem::path ConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg) return std::filesystem::path(xdg) / "sitowiak";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".config" / "sitowiak";
}

std::filesystem::path HiveFile(RegRoot root) {
    return ConfigFolder() / (root == RegRoot::kCurrentUser ? "user.reg" : "system.reg");
}

RegistryHive OpenHive(RegRoot root) {
    return RegistryHive(HiveFile(root));
}

std::string FullKeyPath(RegRoot root, std::string_view keyPath) {
    std::string full = root == RegRoot::kCurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
    if (!keyPath.empty()) {
        full += '\\';
        full += keyPath;
    }
    // "SOFTWARE\Pląskun\" with an empty product name names the key itself.
    while (full.size() > 1 && full.back() == '\\') full.pop_back();
    return full;
}

}  // namespace sitowiak::platform

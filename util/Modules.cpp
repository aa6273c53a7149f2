#include "Modules.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <algorithm>

#include "util/FileFacts.h"

namespace sitowiak::util {
namespace {

int CollectModule(struct dl_phdr_info* info, size_t, void* data) {
    auto* names = static_cast<std::vector<std::string>*>(data);
    // The program itself comes first with an empty name; it is added by the caller.
    if (info->dlpi_name && *info->dlpi_name) {
        std::string path = ShortPath(info->dlpi_name);
        if (!path.empty()) names->push_back(path);
    }
    return 0;
}

const struct link_map* LinkMapOf(void* handle) {
    struct link_map* map = nullptr;
    if (!handle || ::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0) return nullptr;
    return map;
}

}  // namespace

std::string ModulePath(void* handle) {
    if (!handle) return ShortPath("/proc/self/exe");
    const struct link_map* map = LinkMapOf(handle);
    if (!map || !map->l_name || !*map->l_name) return map ? ShortPath("/proc/self/exe") : "";
    return ShortPath(map->l_name);
}

std::vector<std::string> LoadedModules() {
    std::vector<std::string> libraries;
    ::dl_iterate_phdr(CollectModule, &libraries);
    std::reverse(libraries.begin(), libraries.end());
    libraries.insert(libraries.begin(), ModulePath(nullptr));
    return libraries;
}

std::vector<std::string> RequiredLibraries(void* handle) {
    const struct link_map* map = LinkMapOf(handle);
    if (!map || !map->l_ld) return {};
    // The loader has relocated the dynamic section in memory, so DT_STRTAB
    // holds the address of the string table in this process.
    const char* strings = nullptr;
    for (const ElfW(Dyn)* d = map->l_ld; d->d_tag != DT_NULL; ++d)
        if (d->d_tag == DT_STRTAB) strings = reinterpret_cast<const char*>(d->d_un.d_ptr);
    std::vector<std::string> names;
    if (!strings) return names;
    for (const ElfW(Dyn)* d = map->l_ld; d->d_tag != DT_NULL; ++d)
        if (d->d_tag == DT_NEEDED) names.emplace_back(strings + d->d_un.d_val);
    return names;
}

}  // namespace sitowiak::util

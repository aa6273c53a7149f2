#include "PackageBuilder.h"

#include <dlfcn.h>

#include "package/ProjectMode.h"
#include "package/PublishMode.h"
#include "platform/core/VersionBlock.h"
#include "util/Modules.h"

namespace sitowiak::package {
namespace {

bool CarriesVersionBlock(const std::string& file) {
    return platform::GetFileVersionInfoSize(file) > 0;
}

}  // namespace

PackageBuilder::PackageBuilder(PackageContext context)
    : m_context(std::move(context)), m_program(ProgramInfo::Of(m_context.programFile)) {}

PackageBuilder::~PackageBuilder() = default;

bool PackageBuilder::BuildPackage(const std::string& source) {
    if (m_context.IsProjectMode()) {
        if (!m_project) m_project = std::make_unique<ProjectMode>(m_program);
        return m_project->Describe(source);
    }
    if (!m_publish) m_publish = std::make_unique<PublishMode>(m_context, m_program);
    return m_publish->Publish(source);
}

bool PackageBuilder::BuildModulePackages() {
    std::vector<std::string> modules = util::LoadedModules();
    // The first module is the program itself, which the caller has built.
    for (size_t i = 1; i < modules.size(); ++i)
        if (CarriesVersionBlock(modules[i]) && !BuildRuntimePackage(modules[i])) return false;
    return true;
}

bool PackageBuilder::BuildRuntimePackage(const std::string& file) {
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return true;  // what cannot be loaded is not a package
    std::string path = util::ModulePath(handle);
    bool ok = true;
    // A package needed by several others is built once; this also ends
    // cycles of libraries that need each other.
    if (CarriesVersionBlock(path) && m_visited.insert(path).second) {
        ok = BuildPackage(path);
        for (const std::string& required : util::RequiredLibraries(handle)) {
            if (!ok) break;
            ok = BuildRuntimePackage(required);
        }
    }
    ::dlclose(handle);
    return ok;
}

TBelkaPostepu* PackageBuilder::ProgressWindow() const {
    return m_publish ? m_publish->Window() : nullptr;
}

}  // namespace sitowiak::package

// The program's loaded modules: the program file and the shared objects the
// dynamic loader has mapped into the process.
#pragma once

#include <string>
#include <vector>

namespace sitowiak::util {

// The full file name of a loaded module given by its dlopen handle; nullptr
// names the program itself. Empty when the handle names nothing with a file.
std::string ModulePath(void* handle);

// The loaded modules' canonical file names: the program first, then the
// shared objects, most recently loaded first. Objects without a file (the
// kernel's vDSO) are left out.
std::vector<std::string> LoadedModules();

// The names of the libraries a loaded module requires (its DT_NEEDED
// entries), in the order the module lists them.
std::vector<std::string> RequiredLibraries(void* handle);

}  // namespace sitowiak::util

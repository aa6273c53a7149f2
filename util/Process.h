// Starting other programs with posix_spawn. A program named without a folder
// is looked for in the program's own folder first and then on PATH, as
// Windows searches the application's folder first.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace sitowiak::util {

// The executable file for `name`: a name containing "/" is taken as it is;
// otherwise `ownFolder` + name, then each folder of PATH. Empty when none is
// an executable regular file.
std::string FindProgram(const std::string& name, const std::string& ownFolder);

// Starts `program` with `args` as argv[1...] (argv[0] is the program) and the
// current environment. Returns the child's pid, or -1 with *error set to the
// errno value when it could not be started.
pid_t StartProgram(const std::string& program, const std::vector<std::string>& args,
                   int* error = nullptr);

// Waits without time limit for the child to end; its exit code, or nullopt
// when it was ended by a signal or cannot be waited for.
std::optional<int> WaitForProgram(pid_t pid);

}  // namespace sitowiak::util

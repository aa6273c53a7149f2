// The first step of the program: the first command-line argument alone, and
// exactly as written, chooses a special mode, or asks for the help text
// ("-h", "--help") or the version ("--version"). Returns the exit code when
// the process is to end now; nullopt means normal mode.
#pragma once

#include <optional>

namespace sitowiak::proxy {

inline constexpr char kModeDistribution[] = "-nainternet";
inline constexpr char kModeRegistration[] = "-zarejestruj";

std::optional<int> CommandLineStep(int argc, char** argv);

}  // namespace sitowiak::proxy

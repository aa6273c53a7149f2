// The first step of the program: the first command-line argument alone, and
// exactly as written, chooses a special mode, or asks for the help text
// ("-h", "--help") or the version ("--version"). Returns true when the
// process is to end now; every other argument means normal mode.
#pragma once

namespace sitowiak::proxy {

inline constexpr char kModeDistribution[] = "-nainternet";
inline constexpr char kModeRegistration[] = "-zarejestruj";

bool CommandLineStep(int argc, char** argv);

}  // namespace sitowiak::proxy

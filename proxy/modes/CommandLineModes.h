// The two install-time modes chosen by the first command-line argument:
// "-nainternet" (distribution) and "-zarejestruj" (autostart registration).
// Neither creates a window; the caller ends the process after them with the
// exit code they return.
#pragma once

namespace sitowiak::proxy {

// 1 when any file failed or no tree was given, so that a release script
// can tell; 0 otherwise.
int RunDistributionMode(int argc, char** argv);
// 1 when the program could not be registered or its copy not started, so
// that an install script can tell; the boxes say why. 0 otherwise.
int RunRegistrationMode(int argc, char** argv);

}  // namespace sitowiak::proxy

// The two install-time modes chosen by the first command-line argument:
// "-nainternet" (distribution) and "-zarejestruj" (autostart registration).
// Neither creates a window; the caller ends the process after them.
#pragma once

namespace sitowiak::proxy {

void RunDistributionMode(int argc, char** argv);
void RunRegistrationMode(int argc, char** argv);

}  // namespace sitowiak::proxy

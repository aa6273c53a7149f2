// The system's error numbers in Polish, for messages the program composes
// itself: the user reads "brak uprawnień", not "Permission denied".
#pragma once

#include <string>

namespace sitowiak::platform {

// The reason for errno `error` in Polish; an error without a Polish text
// gives its number and the system's own words.
std::string SystemErrorText(int error);

}  // namespace sitowiak::platform

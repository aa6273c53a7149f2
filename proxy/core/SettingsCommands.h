// The settings without the window: "--settings" prints every setting with
// its value, "--set NAME=VALUE ..." checks and stores values.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/core/RegistryStore.h"

namespace sitowiak::proxy {

// Prints "NAME=VALUE" per setting to `out`, the default for a missing one.
// Settings that cannot be read are reported on `err`: exit code 1.
int PrintSettings(const platform::RegistryStore& store, std::FILE* out, std::FILE* err);

// Checks every "NAME=VALUE" and stores them all in one locked write of the
// hive, each in the settings' own section. Any bad argument, or settings
// that cannot be read or written, change nothing: the reason goes to
// `err`, exit code 2.
int SetSettings(platform::RegistryStore& store, const std::vector<std::string>& assignments,
                std::FILE* out, std::FILE* err);

}  // namespace sitowiak::proxy

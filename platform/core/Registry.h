// The two registry roots the program uses, each a hive file in the user's
// configuration folder:
//   HKEY_CURRENT_USER  -> ${XDG_CONFIG_HOME:-$HOME/.config}/sitowiak/user.reg
//   HKEY_LOCAL_MACHINE -> the same folder, system.reg
// Key paths below a root use "\" as on Windows; the hive stores them with the
// root's name in front ("HKEY_CURRENT_USER\SOFTWARE\...").
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "RegistryHive.h"

namespace sitowiak::platform {

enum class RegRoot { kCurrentUser, kLocalMachine };

// ${XDG_CONFIG_HOME:-$HOME/.config}/sitowiak, read from the environment at each call.
std::filesystem::path ConfigFolder();
std::filesystem::path HiveFile(RegRoot root);
// A hive object for the root's file as the environment names it now.
RegistryHive OpenHive(RegRoot root);
std::string FullKeyPath(RegRoot root, std::string_view keyPath);

}  // namespace sitowiak::platform

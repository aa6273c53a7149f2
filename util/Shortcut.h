// Shortcuts as freedesktop desktop entries. On Linux the Startup folder is the
// XDG autostart folder and a shortcut there is a ".desktop" file:
//
//   [Desktop Entry]
//   Type=Application
//   Name=Sitowiak
//   Exec="/opt/Sitowiak/sitowiak" "-d/opt/Sitowiak/"
//   Path=/opt/Sitowiak/
#pragma once

#include <string>
#include <vector>

namespace sitowiak::util {

// Writes the entry `name` + ".desktop" into the special folder `folder`
// (created when missing), replacing an older one atomically. `arguments` is
// command-line text as on Windows: words separated by spaces, double quotes
// group a word and are removed. Returns false when the folder has no
// counterpart or the entry could not be written; then *error (when given)
// names the entry's file and the reason, "FILE: reason".
bool CreateShortcut(void* owner, int folder, const std::string& target,
                    const std::string& arguments, const std::string& name,
                    std::string* error = nullptr);

// The text of the desktop entry CreateShortcut writes.
std::string DesktopEntryText(const std::string& target, const std::string& arguments,
                             const std::string& name);

// Splits command-line text into words: spaces and tabs separate, double
// quotes group and are removed, backslashes have no special meaning.
std::vector<std::string> SplitCommandLine(const std::string& text);

}  // namespace sitowiak::util

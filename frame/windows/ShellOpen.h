// The one way the frame hands something to the desktop: a web page, a mail
// message, a telephone number or a help file. Tests replace the opener, so
// no browser, mail program or help viewer is ever started from them.
#pragma once

#include <functional>
#include <string>

namespace sitowiak::frame {

// Opens `target`, UTF-8: an absolute file path (starting with "/") or a URL
// ("https:", "mailto:", "tel:" ...). Returns false when the desktop has no
// program for it. The desktop's opener (xdg-open) runs on its own; when it
// ends with an error later, `onLaterFailure` runs on the GUI thread.
bool ShellOpen(const std::string& target, std::function<void()> onLaterFailure = {});

using ShellOpener = std::function<bool(const std::string& target)>;
// Replaces the desktop opener until reset with nullptr.
void SetShellOpener(ShellOpener opener);

}  // namespace sitowiak::frame

// Choosing Qt's platform before the application object exists: without
// DISPLAY or WAYLAND_DISPLAY, and unless QT_QPA_PLATFORM is given, the
// program runs on the "offscreen" platform, so the proxy works on a machine
// without a screen exactly as with windows.
#pragma once

namespace sitowiak::platform {

// Returns true when it selected the offscreen platform.
bool SelectPlatformForDisplay();

// Keeps Qt's notes about the environment that say nothing to a user of the
// program off standard error (no runtime folder, an offscreen platform that
// ignores window hints); every other message of Qt passes as before.
void QuietEnvironmentNotes();

}  // namespace sitowiak::platform

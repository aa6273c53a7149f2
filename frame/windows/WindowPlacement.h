// A window's remembered placement: the bounds of its normal state and the
// state it was closed in, kept in the settings store's "StareRozmiary"
// section as signed decimal strings.
#pragma once

#include <QSize>

#include <functional>

#include "platform/core/RegistryStore.h"

namespace sitowiak::frame {

// Window states as stored: 0 normal, 1 minimised, 2 maximised.
enum WindowStateNumber : int { wsnNormal = 0, wsnMinimized = 1, wsnMaximized = 2 };

struct WindowPlacement {
    int height = 342;
    int width = 522;
    int left = -1;
    int top = -1;
    int state = wsnNormal;
};

inline constexpr char kPlacementSection[] = "StareRozmiary";

// Each value that is missing or not a decimal integer takes its default.
WindowPlacement ReadPlacement(const platform::RegistryStore& store);

// Writes the state, then height, width, left and top. Stops at the first
// write that fails and returns false.
bool WritePlacement(platform::RegistryStore& store, const WindowPlacement& placement);

// Pulls the window back so that its bottom and right edges lie on the
// screen, then raises a negative top or left to 0. A window larger than the
// screen ends at 0 on that axis and keeps its size.
WindowPlacement ClampToScreen(WindowPlacement placement, QSize screen);

// The primary display's full size (not the work area). Tests set a source
// of their own; nullptr returns to the real screen.
QSize PrimaryScreenSize();
void SetScreenSizeSource(std::function<QSize()> source);

}  // namespace sitowiak::frame

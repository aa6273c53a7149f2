// The frame's pictures, drawn in code so the program needs no image files:
// the exit button's glyph and the product's icon.
#pragma once

#include <QIcon>

namespace sitowiak::frame {

// A door with an arrow leading out, 16 and 24 pixels; the disabled and
// pressed looks come from the icon's own modes.
QIcon ExitGlyph();

// Three reeds with their brown heads on a blue-green tile, at the usual
// icon sizes.
QIcon ProductIcon();
QPixmap ProductIconPixmap(int size);

}  // namespace sitowiak::frame

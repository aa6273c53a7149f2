// The frame's third level: a window that comes back with the size, position
// and state it had when it was last closed.
#pragma once

#include "frame/windows/TFormaBezdokumentowa.h"

namespace sitowiak::frame {

class TFormaBezdokumentowaPozycjonowana : public TFormaBezdokumentowa {
    Q_OBJECT
public:
    explicit TFormaBezdokumentowaPozycjonowana(QWidget* parent = nullptr);
};

}  // namespace sitowiak::frame

#include "TFormaBezdokumentowaPozycjonowana.h"

namespace sitowiak::frame {

TFormaBezdokumentowaPozycjonowana::TFormaBezdokumentowaPozycjonowana(QWidget* parent)
    : TFormaBezdokumentowa(parent) {}

}  // namespace sitowiak::frame

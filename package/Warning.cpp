#include "Warning.h"

#include "platform/gui/MessageBox.h"

namespace sitowiak::package {

void Warn(const std::string& text) {
    platform::MessageBox(text, "Ostrzeżenie", platform::MB_OK);
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace sitowiak::package

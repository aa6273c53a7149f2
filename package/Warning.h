// The package builder's warnings: message boxes without owner, caption
// "Ostrzeżenie", OK only, no icon.
#pragma once

#include <string>

namespace sitowiak::package {

void Warn(const std::string& text);

// `text` in double quotes, as the warnings show paths.
std::string Quoted(const std::string& text);

}  // namespace sitowiak::package

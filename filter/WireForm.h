// The wire form of NNTP text, which articles, overviews and replies are
// rewritten in: lines end with CR LF.
#pragma once

#include <string_view>

namespace sitowiak::filter {

inline constexpr std::string_view kCrLf = "\r\n";

}  // namespace sitowiak::filter

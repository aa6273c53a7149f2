// Binaries carried in a text body: yEnc blocks ("=ybegin " ... "=yend")
// and uuencoded blocks ("begin", an octal mode, a name ... "end"). Their
// bytes are not text in any charset, so re-encoding a body skips them.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

namespace sitowiak::filter {

// The blocks of `body` (CR LF lines) as [first, last) byte ranges in order:
// from the start of the opening line to just after the CR LF of the closing
// line, or to the end of the body when no closing line follows. Without
// `uuencoded` only yEnc blocks are looked for: uuencoded lines are ASCII,
// which a conversion between ASCII supersets leaves as it is.
std::vector<std::pair<size_t, size_t>> FindBinaryBlocks(std::string_view body,
                                                        bool uuencoded = true);

}  // namespace sitowiak::filter

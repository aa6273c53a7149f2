// The log's hexadecimal view of logged bytes.
#pragma once

#include <string>
#include <string_view>

namespace sitowiak::log {

// Lines of 16 bytes, each ending with CR LF:
//   "0000 47 52 4F 55 50 20 70 6C-2E 74 65 73 74 0D 0A 2E GROUP pl.test..."
// the line's offset as four upper-case hex digits (a 16-bit counter that
// wraps from FFF0 to 0000) and a space; each byte as two hex digits and a
// space, the 8th followed by "-" instead; then the bytes as characters,
// printable ASCII as itself and every other byte as ".", so each byte is
// one column. A short last line of n bytes is padded with
// 48 - 3n spaces so its characters line up. A full line has 71 characters,
// a last line of n bytes 55 + n. Empty input gives an empty text.
std::string HexDump(std::string_view bytes);

}  // namespace sitowiak::log

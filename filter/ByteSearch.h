// Searches for a pair of bytes in a byte string. memchr finds the first
// byte fast; checking the second by hand spares the call to memcmp that
// std::string_view::find makes for each candidate, which shows in the
// per-line cost of overviews. NUL bytes are ordinary bytes here.
#pragma once

#include <cstring>
#include <string_view>

namespace sitowiak::filter {

// The first position at or after `pos` where `first` is followed by
// `second`; npos when there is none.
inline size_t FindPair(std::string_view s, size_t pos, char first, char second) {
    while (pos + 1 < s.size()) {
        const void* hit = std::memchr(s.data() + pos, first, s.size() - pos - 1);
        if (hit == nullptr) break;
        const size_t at = static_cast<size_t>(static_cast<const char*>(hit) - s.data());
        if (s[at + 1] == second) return at;
        pos = at + 1;
    }
    return std::string_view::npos;
}

// Whether `first` and `second` stand at `pos`.
inline bool PairAt(std::string_view s, size_t pos, char first, char second) {
    return pos + 1 < s.size() && s[pos] == first && s[pos + 1] == second;
}

}  // namespace sitowiak::filter

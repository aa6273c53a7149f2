// Searches for a pair of bytes in a byte string. memchr finds the first
// byte fast; checking the second by hand spares the call to memcmp that
// std::string_view::find makes for each candidate, which shows in the
// per-line cost of overviews. NUL bytes are ordinary bytes here.
#pragma once

#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The first position at or after `pos` of either byte; npos when there is
// none. For the short searches inside a line, where a call to memchr costs
// more than the search: sixteen bytes at a time where SSE2 is there.
inline size_t FindEither(std::string_view s, size_t pos, char a, char b) {
    const char* p = s.data();
    const size_t n = s.size();
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b);
    for (; pos + 16 <= n; pos += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + pos));
        const auto hits = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb))));
        if (hits != 0) return pos + static_cast<size_t>(__builtin_ctz(hits));
    }
#endif
    for (; pos < n; ++pos)
        if (p[pos] == a || p[pos] == b) return pos;
    return std::string_view::npos;
}

// The first position at or after `pos` where `first` is followed by
// `second`, or where `stop` stands, whichever comes first; npos when
// neither does.
inline size_t FindPairOrStop(std::string_view s, size_t pos, char first, char second, char stop) {
    for (;;) {
        const size_t at = FindEither(s, pos, first, stop);
        if (at == std::string_view::npos || s[at] == stop) return at;
        if (at + 1 < s.size() && s[at + 1] == second) return at;
        pos = at + 1;
    }
}

// Whether `first` and `second` stand at `pos`.
inline bool PairAt(std::string_view s, size_t pos, char first, char second) {
    return pos + 1 < s.size() && s[pos] == first && s[pos + 1] == second;
}

}  // namespace sitowiak::filter

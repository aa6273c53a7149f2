#include "HostPattern.h"

#include <vector>

namespace sitowiak::proxy {

// The matcher is the recursive definition
//   M(i, j) = text[i..] matches pattern[j..]
//   M(n, j) = j == m or pattern[j..] == "*"
//   M(i, m) = false                                    (i < n)
//   M(i, j) = (text[i] == pattern[j] and M(i+1, j+1))
//          or (pattern[j] == '*' and (M(i, j+1) or M(i+1, j)))
// evaluated bottom-up, one row per text position, so that a hostile pattern
// such as many "*" in a row costs O(|text| * |pattern|) instead of
// exponential time, with O(|pattern|) memory.
bool MatchPattern(std::string_view text, std::string_view pattern) {
    const size_t n = text.size(), m = pattern.size();
    std::vector<char> below(m + 1), row(m + 1);
    for (size_t j = 0; j <= m; ++j) below[j] = j == m || (m - j == 1 && pattern[j] == '*');
    for (size_t i = n; i-- > 0;) {
        row[m] = false;
        for (size_t j = m; j-- > 0;) {
            bool same = text[i] == pattern[j] && below[j + 1];
            bool star = pattern[j] == '*' && (row[j + 1] || below[j]);
            row[j] = same || star;
        }
        std::swap(row, below);
    }
    return below[0];
}

bool MatchPatternList(std::string_view text, std::string_view list) {
    bool result = false;
    while (!result && !list.empty()) {
        size_t separator = list.find(';');
        std::string_view pattern = list.substr(0, separator);
        result = MatchPattern(text, pattern);
        list.remove_prefix(separator == std::string_view::npos ? list.size() : separator + 1);
    }
    return result;
}

}  // namespace sitowiak::proxy

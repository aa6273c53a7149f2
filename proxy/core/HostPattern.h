// Host-pattern lists: patterns separated by ";", "*" standing for any run of
// characters (none included), every other character compared exactly, the
// match anchored at both ends. Matched against a reader's dotted address.
#pragma once

#include <string_view>

namespace sitowiak::proxy {

// Whether the whole `text` matches the whole `pattern`. One quirk is kept on
// purpose, since stored lists rely on it: an empty text matches only the
// empty pattern and the pattern "*" alone, so "a**" does not match "a"
// although "a*" does.
bool MatchPattern(std::string_view text, std::string_view pattern);

// Whether any pattern of the ";"-separated `list` matches. An empty list,
// and an empty pattern inside one, match nothing but an empty text.
bool MatchPatternList(std::string_view text, std::string_view list);

}  // namespace sitowiak::proxy

// Host-pattern lists: patterns separated by ";", "*" standing for any run of
// characters (none included), every other character compared exactly, the
// match anchored at both ends. Matched against a reader's address text:
// dotted for IPv4 readers (also those that reach the dual-stack listener as
// IPv4-mapped IPv6), so "127.0.0.1" and "192.168.*" keep their meaning; the
// canonical IPv6 text otherwise ("::1", "2001:db8::*", "fe80::*").
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

#include <gtest/gtest.h>

#include <random>

#include "proxy/core/HostPattern.h"
#include "proxy/core/ProxySettings.h"

namespace sitowiak::proxy {
namespace {

// The plain recursive definition, as a reference for small inputs.
bool Reference(std::string_view t, std::string_view p) {
    if (t.empty()) return p.empty() || p == "*";
    if (p.empty()) return false;
    if (t[0] == p[0] && Reference(t.substr(1), p.substr(1))) return true;
    return p[0] == '*' && (Reference(t, p.substr(1)) || Reference(t.substr(1), p));
}

TEST(HostPattern, AddressPatterns) {
    EXPECT_TRUE(MatchPattern("192.168.1.5", "192.168.*"));
    EXPECT_FALSE(MatchPattern("10.192.168.1", "192.168.*"));
    EXPECT_TRUE(MatchPattern("192.168.1.5", "*.5"));
    EXPECT_FALSE(MatchPattern("192.168.1.5", "192.168.1.5 "));
    EXPECT_TRUE(MatchPattern("127.0.0.1", "*"));
    EXPECT_FALSE(MatchPattern("127.0.0.1", "localhost"));
    EXPECT_FALSE(MatchPattern("127.0.0.1", ""));
    // Trailing stars: the empty rest of a text matches only a single "*".
    EXPECT_TRUE(MatchPattern("a", "a*"));
    EXPECT_FALSE(MatchPattern("a", "a**"));
    EXPECT_TRUE(MatchPattern("ab", "a**"));
    EXPECT_TRUE(MatchPattern("", "*"));
    EXPECT_FALSE(MatchPattern("", "**"));
}

TEST(HostPattern, Lists) {
    const char* list = "10.0.0.1;;127.0.0.1";
    EXPECT_TRUE(MatchPatternList("10.0.0.1", list));
    EXPECT_TRUE(MatchPatternList("127.0.0.1", list));
    EXPECT_FALSE(MatchPatternList("10.0.0.2", list));
    EXPECT_FALSE(MatchPatternList("127.0.0.1", ""));
    EXPECT_TRUE(MatchPatternList("127.0.0.1", "*.example;127.0.0.1;localhost"));
    EXPECT_FALSE(MatchPatternList("127.0.0.2", "*.example;127.0.0.1;localhost"));
    EXPECT_TRUE(MatchPatternList("1.2.3.4",
                                 "x;"
                                 "*"));
}

// The default write list lets the same machine post over either family.
TEST(HostPattern, TheDefaultWriteListAdmitsThisMachineOverBothFamilies) {
    const std::string defaults = ProxySettings{}.WriteAccess;
    EXPECT_TRUE(MatchPatternList("::1", defaults));
    EXPECT_TRUE(MatchPatternList("127.0.0.1", defaults));
    EXPECT_FALSE(MatchPatternList("::2", defaults));
    EXPECT_FALSE(MatchPatternList("10.0.0.1", defaults));
}

TEST(HostPattern, AgreesWithTheRecursiveDefinitionOnRandomInputs) {
    std::mt19937 random(12345);
    const char alphabet[] = "a.*1";
    auto make = [&](size_t maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s) c = alphabet[random() % 4];
        return s;
    };
    for (int round = 0; round < 20000; ++round) {
        std::string text = make(7), pattern = make(7);
        ASSERT_EQ(MatchPattern(text, pattern), Reference(text, pattern))
            << "text '" << text << "' pattern '" << pattern << "'";
    }
}

TEST(HostPattern, HostilePatternsAnswerInPolynomialTime) {
    std::string stars(20000, '*');
    EXPECT_FALSE(MatchPattern("255.255.255.255", stars + "x"));
    EXPECT_TRUE(MatchPattern("255.255.255.255", stars + "5"));
    std::string list;
    for (int i = 0; i < 2000; ++i) list += std::string(50, '*') + "9;";
    EXPECT_FALSE(MatchPatternList("192.168.100.100", list));
}

}  // namespace
}  // namespace sitowiak::proxy

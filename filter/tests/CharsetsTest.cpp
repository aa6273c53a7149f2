// Charset names to code pages, and the conversions.
#include <gtest/gtest.h>

#include "filter/Charsets.h"

namespace sitowiak::filter {
namespace {

TEST(CodePageOf, ResolvesNamesAndAliasesOfTheDatabase) {
    EXPECT_EQ(CodePageOf("iso-8859-2"), 28592u);
    EXPECT_EQ(CodePageOf("utf-8"), 65001u);
    EXPECT_EQ(CodePageOf("windows-1250"), 1250u);
    EXPECT_EQ(CodePageOf("us-ascii"), 20127u);
    EXPECT_EQ(CodePageOf("latin2"), 28592u);  // alias -> InternetEncoding of the target
    EXPECT_EQ(CodePageOf("UTF8"), 65001u);
    EXPECT_EQ(CodePageOf("X-CP1250"), 1250u);
}

TEST(CodePageOf, UnknownOrEmptyNamesGive1252) {
    EXPECT_EQ(CodePageOf(""), 1252u);
    EXPECT_EQ(CodePageOf("x-unknown"), 1252u);
    EXPECT_EQ(CodePageOf("utf-8; format=flowed"), 1252u);
    EXPECT_EQ(CodePageOf(" utf-8"), 1252u);
}

TEST(CodePageOf, FollowsAnAliasOneStepOnly) {
    const platform::MimeCharset db[] = {
        {"target", {}, 28592},         {"alias", "target", -1},
        {"alias2", "alias", -1},       {"no-encoding", {}, -1},
        {"to-missing", "nowhere", -1}, {"to-no-encoding", "no-encoding", -1},
    };
    EXPECT_EQ(CodePageOf("alias", db), 28592u);
    EXPECT_EQ(CodePageOf("ALIAS", db), 28592u);
    EXPECT_EQ(CodePageOf("alias2", db), 1252u);  // the alias's own entry has no encoding
    EXPECT_EQ(CodePageOf("no-encoding", db), 1252u);
    EXPECT_EQ(CodePageOf("to-missing", db), 1252u);
    EXPECT_EQ(CodePageOf("to-no-encoding", db), 1252u);
    EXPECT_EQ(CodePageOf("", db), 1252u);
}

TEST(Conversions, DecodeAndEncodeThroughUtf16) {
    EXPECT_EQ(DecodeToUtf16("g\xEA\xB6l\xB1", 28592), u"gęślą");
    EXPECT_EQ(EncodeFromUtf16(u"gęślą", 1250), "g\xEA\x9Cl\xB9");
    EXPECT_EQ(ConvertCodePage("g\xEA\xB6l\xB1", 28592, 65001), "g\xC4\x99\xC5\x9Bl\xC4\x85");
}

TEST(Conversions, TheWholeTextIsConvertedNulBytesIncluded) {
    EXPECT_EQ(DecodeToUtf16(std::string_view("a\0\xB1", 3), 28592), std::u16string(u"a\0ą", 3));
    EXPECT_EQ(ConvertCodePage(std::string_view("\0\0", 2), 1250, 65001), std::string("\0\0", 2));
}

TEST(Conversions, EmptyTextsAndUnusableCodePagesGiveEmptyResults) {
    EXPECT_EQ(ConvertCodePage("", 1250, 65001), "");
    EXPECT_EQ(DecodeToUtf16("", 1250), u"");
    EXPECT_EQ(DecodeToUtf16("abc", 4711), u"");
    EXPECT_EQ(EncodeFromUtf16(u"abc", 4711), "");
    EXPECT_EQ(ConvertCodePage("abc", 4711, 65001), "");
}

TEST(Conversions, UnmappableCharactersAndInvalidBytesAreReplaced) {
    EXPECT_EQ(ConvertCodePage("Za\xC5\xBC", 65001, 20127), "Za?");
    EXPECT_EQ(ConvertCodePage("Za\xBF", 20127, 1250), "Za?");  // U+FFFD has no 1250 byte
    EXPECT_EQ(ConvertCodePage("Za\xBF", 65001, 65001), "Za\xEF\xBF\xBD");
}

TEST(Conversions, ConvertFromAnsiReadsTheProgramsTextsAsUtf8) {
    EXPECT_EQ(ConvertFromAnsi("Pl\xC4\x85skun", 28592), "Pl\xB1skun");
    EXPECT_EQ(ConvertFromAnsi("Pl\xC4\x85skun", 65001), "Pl\xC4\x85skun");
    EXPECT_EQ(ConvertFromAnsi("Pl\xC4\x85skun", 20127), "Pl?skun");
}

}  // namespace
}  // namespace sitowiak::filter

// DecodeQ and DecodeHeaderWords, with what malformed words become.
#include <gtest/gtest.h>

#include "filter/HeaderWords.h"
#include "platform/charset/CodePage.h"

namespace sitowiak::filter {
namespace {

struct Decoded {
    std::u16string text;
    bool clean;
};
Decoded Decode(std::string_view s, uint32_t undeclared = 0) {
    Decoded d;
    d.clean = DecodeHeaderWords(s, d.text, undeclared);
    // Without raw 8-bit bytes a line is clean, read or not.
    if (HeaderWordsClean(s)) {
        EXPECT_TRUE(d.clean) << s;
    }
    return d;
}

TEST(DecodeQ, UnderscoreIsASpaceAndEscapesAreBytes) {
    EXPECT_EQ(DecodeQ("a=3Db"), "a=b");
    EXPECT_EQ(DecodeQ("a_b"), "a b");
    EXPECT_EQ(DecodeQ("=b1=B1"), "\xB1\xB1");  // either case
    EXPECT_EQ(DecodeQ(""), "");
}

TEST(DecodeQ, EscapedBytesAreFinal) {
    EXPECT_EQ(DecodeQ("=5F"), "_");
    EXPECT_EQ(DecodeQ("=3D41"), "=41");
    EXPECT_EQ(DecodeQ("=3D=3D"), "==");
}

TEST(DecodeQ, AnInvalidEscapeLosesOnlyItsEquals) {
    EXPECT_EQ(DecodeQ("=ZZ"), "ZZ");
    EXPECT_EQ(DecodeQ("=4Z"), "4Z");
    EXPECT_EQ(DecodeQ("a="), "a");
    EXPECT_EQ(DecodeQ("=="), "");
    EXPECT_EQ(DecodeQ("==41"), "A");
}

TEST(DecodeQ, OneDigitAtTheVeryEndIsThatDigitsValue) {
    EXPECT_EQ(DecodeQ("x=4"), "x\x04");
    EXPECT_EQ(DecodeQ("=f"), "\x0F");
    EXPECT_EQ(DecodeQ("=4x"), "4x");  // not at the end: "=" dropped
}

TEST(DecodeHeaderWords, DecodesAQWordInItsCharset) {
    Decoded d = Decode("=?iso-8859-2?Q?Za=BF=F3=B3=E6_g=EA=B6l=B1?=\r\n");
    EXPECT_EQ(d.text, u"Zażółć gęślą\r\n");
    EXPECT_TRUE(d.clean);
}

TEST(DecodeHeaderWords, LowercaseQIsRecognisedAndTheCharsetTakenAsWritten) {
    EXPECT_EQ(Decode("=?ISO-8859-2?q?=B1?=").text, u"ą");
    EXPECT_EQ(Decode("=?Windows-1250?q?=B9?=").text, u"ą");
}

TEST(DecodeHeaderWords, RawTextIsReadAsUtf8OrInTheUndeclaredCharset) {
    // Raw UTF-8 can be read: clean, though HeaderWordsClean says it is not.
    const std::string utf8 = "Re: Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87\r\n";
    Decoded d = Decode(utf8, 28592);
    EXPECT_EQ(d.text, u"Re: Zażółć\r\n");
    EXPECT_TRUE(d.clean);
    EXPECT_FALSE(HeaderWordsClean(utf8));
    Decoded bad = Decode("a\xB1 b");  // raw iso-8859-2: invalid UTF-8
    EXPECT_EQ(bad.text, u"a\uFFFD b");
    EXPECT_FALSE(bad.clean);
    // With a charset for undeclared text it is read in that, and in its
    // Windows code page when it holds C1 bytes; each piece for itself.
    Decoded latin2 = Decode("a\xB1 =?utf-8?Q?x?= \x9C\xB9", 28592);
    EXPECT_EQ(latin2.text, u"aą x śą");
    EXPECT_TRUE(latin2.clean);
}

TEST(DecodeHeaderWords, CleanLooksOnlyAtRawText) {
    Decoded d = Decode("=?utf-8?Q?\xC4\x85?= x\r\n");  // 8-bit bytes inside the word
    EXPECT_EQ(d.text, u"ą x\r\n");
    EXPECT_TRUE(d.clean);
    EXPECT_FALSE(Decode("=?utf-8?Q?a?= \xB1").clean);
}

TEST(DecodeHeaderWords, TextBetweenAWordAndRawTextIsKept) {
    EXPECT_EQ(Decode("Re: =?iso-8859-2?Q?=B1?= (was: x)").text, u"Re: ą (was: x)");
}

TEST(DecodeHeaderWords, AQWordWithoutItsCloseStaysAsItIs) {
    Decoded d = Decode("=?utf-8?Q?abc");
    EXPECT_EQ(d.text, u"=?utf-8?Q?abc");
    EXPECT_TRUE(d.clean);
    EXPECT_EQ(Decode("x =?utf-8?Q?abc\r\n").text, u"x =?utf-8?Q?abc\r\n");
}

TEST(DecodeHeaderWords, AnEqualsAtTheEndOfTheWordIsDropped) {
    EXPECT_EQ(Decode("=?iso-8859-2?Q?a=?=").text, u"a");
    EXPECT_EQ(Decode("=?iso-8859-2?Q?=B?=").text, u" ");  // 0B, a control: a space
}

TEST(DecodeHeaderWords, WhatIsNotAWellFormedWordStaysAsItIs) {
    Decoded d = Decode("=?utf-8?X?xIU=?=\r\n");  // no such encoding
    EXPECT_EQ(d.text, u"=?utf-8?X?xIU=?=\r\n");
    EXPECT_TRUE(d.clean);
    EXPECT_EQ(Decode("Pytanie: czy x=?y jest prawda?").text, u"Pytanie: czy x=?y jest prawda?");
    EXPECT_EQ(Decode("a =? b").text, u"a =? b");
    EXPECT_EQ(Decode("=?").text, u"=?");
    EXPECT_EQ(Decode("=?=?iso-8859-2?Q?=B1?=").text, u"=?ą");
}

TEST(DecodeHeaderWords, AdjacentWordsJoinAcrossASplitCharacter) {
    // "ą" is C4 85 in UTF-8, split between two words: one character.
    EXPECT_EQ(Decode("=?utf-8?Q?=C4?= =?utf-8?Q?=85?=").text, u"ą");
    EXPECT_EQ(Decode("=?utf-8?Q?=C4?==?UTF-8?Q?=85?=").text, u"ą");
}

TEST(DecodeHeaderWords, SpacesBetweenWordsGoButOtherTextStays) {
    EXPECT_EQ(Decode("=?iso-8859-2?Q?=B1?=   =?utf-8?Q?=C4=87?=").text, u"ąć");
    EXPECT_EQ(Decode("=?iso-8859-2?Q?=B1?=\t=?iso-8859-2?Q?=B1?=").text,
              u"ą\tą");  // a tab separates overview fields
    EXPECT_EQ(Decode("=?iso-8859-2?Q?=B1?= x =?iso-8859-2?Q?=B1?=").text, u"ą x ą");
    EXPECT_EQ(Decode("=?iso-8859-2?Q?=B1?= =?x?X?y?=").text, u"ą =?x?X?y?=");  // no word: space stays
    EXPECT_EQ(Decode("a =?iso-8859-2?Q?=B1?= b").text, u"a ą b");
}

TEST(DecodeHeaderWords, AnUnknownCharsetIsReadAs1252) {
    EXPECT_EQ(Decode("=?x-unknown?Q?=E9?=").text, u"é");
    EXPECT_EQ(Decode("=??Q?=80?=").text, u"€");  // empty charset name
}

TEST(DecodeHeaderWords, NulAndEightBitBytesAreText) {
    Decoded d = Decode(std::string_view("a\0b\r\n", 5));
    EXPECT_EQ(d.text, std::u16string(u"a\0b\r\n", 5));
    EXPECT_TRUE(d.clean);
    // Decoded from a word, a NUL is a control like any other: a space.
    EXPECT_EQ(Decode("=?iso-8859-2?Q?=00?=").text, u" ");
}

TEST(DecodeHeaderWords, TheOutputIsReplacedNotAppended) {
    std::u16string w = u"old";
    DecodeHeaderWords("new", w);
    EXPECT_EQ(w, u"new");
    DecodeHeaderWords("", w);
    EXPECT_EQ(w, u"");
}

TEST(DecodeHeaderWords, ManyOpeningsWithoutCloseStayLinear) {
    std::string s;
    for (int i = 0; i < 20000; ++i) s += "=?a?Q?b";
    Decoded d = Decode(s);
    // No word has a "?=": each stays as it is.
    EXPECT_EQ(d.text, std::u16string(s.begin(), s.end()));
}

// --- B words (base64) -------------------------------------------------------

TEST(DecodeHeaderBWords, ABWordIsDecodedInItsCharset) {
    Decoded d = Decode("Re: =?UTF-8?B?UG9sc2tp?=\r\n");  // "Polski"
    EXPECT_EQ(d.text, u"Re: Polski\r\n");
    EXPECT_TRUE(d.clean);
    EXPECT_EQ(Decode("=?utf-8?B?WmHFvMOzxYLEhw==?=").text, u"Zażółć");
    EXPECT_EQ(Decode("=?iso-8859-2?B?sQ==?=").text, u"ą");    // B1 in iso-8859-2
    EXPECT_EQ(Decode("=?windows-1250?B?uQ==?=").text, u"ą");  // B9 in windows-1250
}

TEST(DecodeHeaderBWords, LowercaseBIsRecognised) {
    EXPECT_EQ(Decode("=?iso-8859-2?b?sQ==?=").text, u"ą");
    EXPECT_EQ(Decode("=?utf-8?b?xIU=?= x").text, u"ą x");
}

TEST(DecodeHeaderBWords, ABWordBeforeAQWordDoesNotSwallowTheTextBetween) {
    EXPECT_EQ(Decode("=?utf-8?B?YWJj?= i =?iso-8859-2?Q?=B1?=\r\n").text, u"abc i ą\r\n");
    // Adjacent, the space between them goes (the Q word's "_" is a space).
    EXPECT_EQ(Decode("=?UTF-8?B?UG9sc2tp?= =?iso-8859-2?Q?_j=EAzyk?=").text, u"Polski język");
    EXPECT_EQ(Decode("=?iso-8859-2?Q?=B1?= =?utf-8?B?xIc=?=").text, u"ąć");
}

TEST(DecodeHeaderBWords, ACharacterSplitBetweenAdjacentWordsStaysWhole) {
    // "ą" is C4 85 in UTF-8: "xA==" is C4, "hQ==" is 85.
    EXPECT_EQ(Decode("=?UTF-8?B?xA==?= =?UTF-8?B?hQ==?=").text, u"ą");
    EXPECT_EQ(Decode("=?utf-8?B?xA==?==?utf-8?b?hQ==?=").text, u"ą");
    EXPECT_EQ(Decode("=?utf-8?B?xA==?= =?utf-8?Q?=85?=").text, u"ą");  // B then Q
    // "Zaż" split after C5 (Za C5 | BC): one character, not two U+FFFD.
    EXPECT_EQ(Decode("=?utf-8?B?WmHF?= =?utf-8?B?vA==?=").text, u"Zaż");
    // With other text between them, or in different code pages, the halves
    // are decoded apart (85 is "…" in windows-1250).
    EXPECT_EQ(Decode("=?utf-8?B?WmHF?= x =?utf-8?B?vA==?=").text, u"Za\uFFFD x \uFFFD");
    EXPECT_EQ(Decode("=?utf-8?B?xA==?= =?windows-1250?B?hQ==?=").text, u"\uFFFD\u2026");
    // A half at the end of the line is a truncated sequence.
    EXPECT_EQ(Decode("=?utf-8?B?xA==?= x").text, u"\uFFFD x");
}

TEST(DecodeHeaderBWords, BytesOutsideTheAlphabetAreSkippedAndALoneLastCharacterDropped) {
    EXPECT_EQ(Decode("=?utf-8?B?x I.U*=?=").text, u"ą");
    EXPECT_EQ(Decode("=?utf-8?B?xIU?=").text, u"ą");             // no padding: still two bytes
    EXPECT_EQ(Decode("=?utf-8?B?UG9sc2tpY?=").text, u"Polski");  // "Y" alone: 6 bits, no byte
    EXPECT_EQ(Decode("=?utf-8?B?UG9sc2tpYQ?=").text, u"Polskia");
    Decoded d = Decode("=?utf-8?B?\xC4\x85?=");  // 8-bit bytes inside: skipped, still clean
    EXPECT_EQ(d.text, u"");
    EXPECT_TRUE(d.clean);
}

TEST(DecodeHeaderBWords, AnEmptyBWordIsAWordAndGivesNothing) {
    EXPECT_EQ(Decode("a =?utf-8?B?"
                     "?= b")
                  .text,
              u"a  b");                                              // split: no trigraph
    EXPECT_EQ(Decode("=?utf-8?B?Y?= =?utf-8?B?YQ==?=").text, u"a");  // spaces between words go
}

TEST(DecodeHeaderBWords, ABWordWithoutItsCloseStaysAsItIs) {
    Decoded d = Decode("Re: =?utf-8?B?UG9sc2tp\r\n");
    EXPECT_EQ(d.text, u"Re: =?utf-8?B?UG9sc2tp\r\n");
    EXPECT_TRUE(d.clean);
    EXPECT_EQ(Decode("=?utf-8?B?").text, u"=?utf-8?B?");
    // Its charset and text are raw text now, so they count for clean.
    Decoded raw = Decode("=?utf-8?B?\xB1");
    EXPECT_EQ(raw.text, u"=?utf-8?B?\uFFFD");
    EXPECT_FALSE(raw.clean);
    // A decoded word before it keeps the space between them.
    EXPECT_EQ(Decode("=?utf-8?B?YQ==?= =?utf-8?B?Yg").text, u"a =?utf-8?B?Yg");
    // A later Q word without its close stays too.
    EXPECT_EQ(Decode("=?x?B?YQ =?x?Q?b").text, u"=?x?B?YQ =?x?Q?b");
}

TEST(DecodeHeaderBWords, ALetterBWithoutTheQuestionMarkIsNoWord) {
    EXPECT_EQ(Decode("=?utf-8?B").text, u"=?utf-8?B");
    EXPECT_EQ(Decode("=?utf-8?Bx?=").text, u"=?utf-8?Bx?=");
}

TEST(DecodeHeaderBWords, ManyOpeningsWithoutCloseStayLinear) {
    std::string s;
    for (int i = 0; i < 20000; ++i) s += "=?a?B?b";
    Decoded d = Decode(s);
    // No word has a "?=": each stays as it is.
    EXPECT_EQ(d.text, std::u16string(s.begin(), s.end()));
}

// Converting each piece straight into the target gives the bytes of the
// UTF-16 road, for lines with every kind of piece, each pair of pieces side
// by side, and targets that lack some of the characters.
TEST(HeaderWordsEncoder, GivesTheBytesOfDecodingAndEncoding) {
    const std::vector<std::string> pieces = {
        "Re: ", "=?iso-8859-2?Q?Za=BF=F3=B3=E6?=", " ", "=?utf-8?Q?=C4?=",
        "=?UTF-8?B?hQ==?=",  // continues the split character before it
        "zażółć", "\xC4", "\xF0\x9F\x98\x80",  // raw: cut-off and 4-byte UTF-8
        "=?x-unknown?Q?=80=E9?=", "=?iso-8859-16?Q?=AA?=", "=?koi8-r?B?8NLJ?=",
        "=?utf-8?Q?=F0=9F=98=80?=", "=?utf-8?Q?=ED=A0=80?=", "\t", "=?", "=?a?B?b",
        "=?utf-8?Q?=0D=0A?=", "=?iso-8859-2?B?CQA=?=", "=?koi8-r?Q?=1B"};  // controls
    std::vector<std::string> lines;
    for (const std::string& a : pieces)
        for (const std::string& b : pieces) lines.push_back(a + b + "\r\n");
    for (uint32_t target : {platform::kCodePageUtf8, 28592u, 1250u, 1251u, 20127u}) {
        HeaderWordsEncoder encoder(target);  // one for all lines, as the relay keeps it
        for (const std::string& line : lines) {
            std::u16string wide;
            bool clean = DecodeHeaderWords(line, wide);
            std::string reference = "<";
            platform::AppendMultiByteFromWide(target, wide, reference);
            std::string direct = "<";
            std::optional<bool> directClean = encoder.Append(line, direct);
            ASSERT_TRUE(directClean.has_value()) << target << " " << line;
            EXPECT_EQ(*directClean, clean) << line;
            EXPECT_EQ(direct, reference) << target << " " << line;
        }
    }
    // Where a piece's conversion depends on its neighbours, nothing is
    // written and the caller takes the UTF-16 road.
    std::string out = "kept";
    EXPECT_FALSE(HeaderWordsEncoder(28592).Append("a =?utf-7?Q?+AQU-?= b", out));
    EXPECT_FALSE(HeaderWordsEncoder(65000).Append("a b", out));  // UTF-7 target
    EXPECT_EQ(out, "kept");
}

}  // namespace
}  // namespace sitowiak::filter

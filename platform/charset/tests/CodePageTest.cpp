#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "platform/charset/CodePage.h"

namespace sitowiak::platform {
namespace {

std::u16string Decode(uint32_t cp, std::string_view bytes) {
    std::u16string out;
    EXPECT_TRUE(AppendWideFromMultiByte(cp, bytes, out));
    return out;
}
std::string Encode(uint32_t cp, std::u16string_view text) {
    std::string out;
    EXPECT_TRUE(AppendMultiByteFromWide(cp, text, out));
    return out;
}

TEST(CodePage, TheAnsiCodePageIsUtf8) {
    EXPECT_EQ(GetACP(), 65001u);
}

TEST(CodePage, DecodesPolishLettersOfTheCommonCodePages) {
    EXPECT_EQ(Decode(28592, "\xB1\xE6\xEA\xB3\xF1\xF3\xB6\xBC\xBF"), u"ąćęłńóśźż");
    EXPECT_EQ(Decode(1250, "\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF"), u"ąćęłńóśźż");
    EXPECT_EQ(Decode(65001, "\xC4\x85\xC4\x87"), u"ąć");
    EXPECT_EQ(Decode(852, "\xA5\x86"), u"ąć");
    EXPECT_EQ(Decode(28606, "\xA1\xA2\xA3\xB3\xA4"), u"ĄąŁł€");
}

TEST(CodePage, EncodesIntoTheTargetCodePage) {
    EXPECT_EQ(Encode(1250, u"Zażółć"), "Za\xBF\xF3\xB3\xE6");
    EXPECT_EQ(Encode(65001, u"Zażółć"), "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87");
    EXPECT_EQ(Encode(28592, u"Zażółć"), "Za\xBF\xF3\xB3\xE6");
    EXPECT_EQ(Encode(28606, u"Zażółć€"), "Za\xBF\xF3\xB3\xE5\xA4");
}

TEST(CodePage, InvalidInputBytesBecomeReplacementCharacters) {
    // Invalid UTF-8: a lone continuation byte, an 8-bit byte of another code
    // page, an overlong form; each maximal ill-formed subpart is one U+FFFD.
    EXPECT_EQ(Decode(65001,
                     "a\x80"
                     "b"),
              u"a\uFFFDb");
    EXPECT_EQ(Decode(65001, "\xB1\xE6"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Decode(65001, "\xC0\xAF"), u"\uFFFD\uFFFD");
    // A multibyte sequence cut off by the end of the text.
    EXPECT_EQ(Decode(65001, "x\xC4"), u"x\uFFFD");
    EXPECT_EQ(Decode(65001, "x\xE2\x82"), u"x\uFFFD");
    // A byte that ISO-8859-3 leaves unassigned; an 8-bit byte in US-ASCII.
    EXPECT_EQ(Decode(28593,
                     "a\xA5"
                     "b"),
              u"a\uFFFDb");
    EXPECT_EQ(Decode(20127,
                     "a\xE9"
                     "b"),
              u"a\uFFFDb");
    // A truncated double-byte character of Shift_JIS.
    EXPECT_EQ(Decode(932, "a\x82"), u"a\uFFFD");
}

TEST(CodePage, CharactersTheTargetLacksBecomeQuestionMarks) {
    EXPECT_EQ(Encode(20127, u"zażółć"), "za????");
    EXPECT_EQ(Encode(1250, u"日本"), "??");
    EXPECT_EQ(Encode(28606, u"日"), "?");
    // A character outside the BMP is one character: one "?".
    EXPECT_EQ(Encode(1250, u"a\U0001F600b"), "a?b");
    EXPECT_EQ(Encode(28606, u"a\U0001F600b"), "a?b");
    // An unpaired surrogate: U+FFFD in UTF-8, "?" elsewhere.
    EXPECT_EQ(Encode(65001, std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(Encode(1250, std::u16string(1, char16_t(0xDC00))), "?");
}

TEST(CodePage, NulAndEightBitBytesAreOrdinaryInput) {
    EXPECT_EQ(Decode(1250, std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
    EXPECT_EQ(Encode(65001, std::u16string_view(u"a\0b", 3)), std::string("a\0b", 3));
}

TEST(CodePage, UnusableCodePagesConvertNothing) {
    std::u16string wide = u"kept";
    EXPECT_FALSE(AppendWideFromMultiByte(12345, "abc", wide));
    EXPECT_EQ(wide, u"kept");
    std::string bytes = "kept";
    EXPECT_FALSE(AppendMultiByteFromWide(0, u"abc", bytes));
    EXPECT_FALSE(AppendConverted(1250, 99999, "abc", bytes));
    EXPECT_EQ(bytes, "kept");
    EXPECT_FALSE(IsValidCodePage(12345));
    EXPECT_TRUE(IsValidCodePage(1250));
    EXPECT_EQ(MultiByteToWideChar(12345, "abc", 3, nullptr, 0), 0);
}

TEST(CodePage, WindowsShapedCallsAskTheSizeThenConvert) {
    const char text[] = "za\xBF\xF3\xB3\xE6";
    int units = MultiByteToWideChar(1250, text, 6, nullptr, 0);
    ASSERT_EQ(units, 6);
    char16_t wide[6];
    EXPECT_EQ(MultiByteToWideChar(1250, text, 6, wide, 5), 0);  // too small
    EXPECT_EQ(MultiByteToWideChar(1250, text, 6, wide, 6), 6);
    EXPECT_EQ(std::u16string_view(wide, 6), u"zażółć");
    int bytes = WideCharToMultiByte(65001, wide, 6, nullptr, 0);
    EXPECT_EQ(bytes, 10);
    char out[10];
    EXPECT_EQ(WideCharToMultiByte(65001, wide, 6, out, 10), 10);
    EXPECT_EQ(std::string_view(out, 10), "za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87");
    // -1: the text is NUL-terminated and the NUL is converted too.
    EXPECT_EQ(MultiByteToWideChar(1250, "ab", -1, nullptr, 0), 3);
}

TEST(CodePage, AsciiTransparencyOfTheCodePages) {
    for (uint32_t cp : {20127u, 65001u, 1250u, 1252u, 28592u, 28606u, 852u, 20866u})
        EXPECT_TRUE(IsAsciiTransparent(cp)) << cp;
    EXPECT_FALSE(IsAsciiTransparent(65000));  // UTF-7: "+" starts a run
    EXPECT_FALSE(IsAsciiTransparent(12345));
}

TEST(CodePage, ChunkedConversionEqualsTheWholeOne) {
    // Four-byte characters and stateful encodings across chunk boundaries.
    std::string utf8;
    for (int i = 0; i < 30000; ++i) utf8 += (i % 7 == 0) ? "\xF0\x9F\x98\x80" : "ż\xE6";
    for (uint32_t to : {65001u, 1250u, 28606u, 50220u, 936u}) {
        std::string chunked;
        ASSERT_TRUE(AppendConverted(65001, to, utf8, chunked));
        EXPECT_EQ(chunked, Encode(to, Decode(65001, utf8))) << to;
    }
    std::string jis = Encode(50220, u"日本語のテキスト abc 日本");
    std::string big;
    for (int i = 0; i < 5000; ++i) big += jis;
    std::string back;
    ASSERT_TRUE(AppendConverted(50220, 65001, big, back));
    EXPECT_EQ(back, Encode(65001, Decode(50220, big)));
}

// An independent converter: glibc's iconv, for every byte it maps.
std::u16string IconvByte(const char* charset, unsigned char byte, bool& mapped) {
    iconv_t cd = iconv_open("UTF-16LE", charset);
    mapped = false;
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    char in[1] = {static_cast<char>(byte)};
    char out[8];
    char* inp = in;
    char* outp = out;
    size_t inLeft = 1, outLeft = sizeof out;
    if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) && outLeft == 6) {
        mapped = true;
    }
    iconv_close(cd);
    return std::u16string(1, static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                                   (static_cast<unsigned char>(out[1]) << 8)));
}

TEST(CodePage, SingleByteTablesAgreeWithGlibcIconv) {
    struct Pair {
        uint32_t cp;
        const char* iconvName;
    };
    for (Pair p : {Pair{28606, "ISO-8859-16"}, Pair{28592, "ISO-8859-2"}, Pair{28591, "ISO-8859-1"},
                   Pair{28605, "ISO-8859-15"}, Pair{1250, "CP1250"}, Pair{1251, "CP1251"},
                   Pair{1252, "CP1252"}, Pair{1257, "CP1257"}, Pair{20866, "KOI8-R"},
                   Pair{21866, "KOI8-U"}, Pair{852, "IBM852"}, Pair{850, "IBM850"},
                   Pair{866, "IBM866"}, Pair{10029, "MAC-CENTRALEUROPE"}, Pair{20127, "ASCII"}}) {
        for (int b = 0; b < 256; ++b) {
            bool mapped;
            std::u16string expected = IconvByte(p.iconvName, static_cast<unsigned char>(b), mapped);
            if (!mapped) continue;
            std::string byte(1, static_cast<char>(b));
            EXPECT_EQ(Decode(p.cp, byte), expected) << p.iconvName << " byte " << b;
            EXPECT_EQ(Encode(p.cp, expected), byte) << p.iconvName << " byte " << b;
        }
    }
}

TEST(CodePage, ByteMapsAreDecodingThenEncoding) {
    for (uint32_t from : {28592u, 1250u, 20127u, 28606u, 852u})
        for (uint32_t to : {65001u, 1250u, 28592u, 20127u}) {
            const ByteMap* map = SingleByteMap(from, to);
            ASSERT_NE(map, nullptr) << from << " " << to;
            for (int b = 0; b < 256; ++b) {
                std::string byte(1, static_cast<char>(b));
                std::string expected = Encode(to, Decode(from, byte));
                EXPECT_EQ(std::string(map->entry[b].bytes, map->entry[b].length), expected)
                    << from << " " << to << " " << b;
            }
        }
    EXPECT_EQ(SingleByteMap(65001, 1250), nullptr);  // UTF-8 is not single-byte
    EXPECT_EQ(SingleByteMap(1250, 932), nullptr);
    EXPECT_EQ(SingleByteMap(1250, 50220), nullptr);
}

TEST(CodePage, TranslationRunsInPlaceFromTheEnd) {
    const ByteMap* map = SingleByteMap(28592, 65001);
    ASSERT_NE(map, nullptr);
    std::string text = "a\xB1\xE6 z\xBF\xF3\xB3\xE6";
    size_t length = TranslatedLength(*map, text);
    std::string buffer = text + std::string(length - text.size(), '#');
    TranslateBackward(*map, buffer.data(), text.size(), buffer.data() + length);
    EXPECT_EQ(buffer, "a\xC4\x85\xC4\x87 z\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87");
}

TEST(CodePage, TranslationInPlaceMatchesConversionForAnyMixOfRuns) {
    const ByteMap* map = SingleByteMap(28592, 65001);
    ASSERT_NE(map, nullptr);
    ASSERT_TRUE(map->asciiIdentity);
    uint32_t seed = 7;
    for (int round = 0; round < 200; ++round) {
        std::string text;
        int length = static_cast<int>(seed % 97);
        for (int i = 0; i < length; ++i) {
            seed = seed * 1103515245 + 12345;
            text += (seed >> 16) % 3 == 0 ? static_cast<char>(0x80 + (seed >> 8) % 128) : 'a';
        }
        std::string expected = Encode(65001, Decode(28592, text));
        ASSERT_EQ(TranslatedLength(*map, text), expected.size());
        std::string buffer = text + std::string(expected.size() - text.size(), '#');
        TranslateBackward(*map, buffer.data(), text.size(), buffer.data() + buffer.size());
        ASSERT_EQ(buffer, expected) << round;
    }
}

TEST(CodePage, WellFormedUtf8ConvertsToItself) {
    const char* good[] = {"",
                          "abc",
                          "Za\xC5\xBC\xC3\xB3",
                          "\xEF\xBF\xBF",
                          "\xF0\x9F\x98\x80",
                          "\xF4\x8F\xBF\xBF",
                          "\xE0\xA0\x80",
                          "\xED\x9F\xBF"};
    for (const char* g : good) {
        EXPECT_TRUE(IsWellFormedUtf8(g)) << g;
        std::string out;
        AppendConverted(65001, 65001, g, out);
        EXPECT_EQ(out, g);
    }
    const char* bad[] = {"\x80",
                         "\xC0\xAF",
                         "\xC1\xBF",
                         "\xE0\x9F\xBF",
                         "\xED\xA0\x80",
                         "\xF4\x90\x80\x80",
                         "\xF5\x80\x80\x80",
                         "\xC4",
                         "abcdefgh\xE2\x82",
                         "\xFF"};
    for (const char* b : bad) {
        EXPECT_FALSE(IsWellFormedUtf8(b)) << b;
        std::string out;
        AppendConverted(65001, 65001, b, out);
        EXPECT_NE(out, b);  // the converter replaces what is ill-formed
    }
}

TEST(CodePage, EmptyTextsGiveEmptyResults) {
    EXPECT_EQ(Decode(1250, ""), u"");
    EXPECT_EQ(Encode(1250, u""), "");
    std::string out;
    EXPECT_TRUE(AppendConverted(28592, 65001, "", out));
    EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace sitowiak::platform

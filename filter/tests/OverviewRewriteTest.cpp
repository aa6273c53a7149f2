// RewriteOverview: overview lines decoded and re-encoded, lines with raw 8-bit
// bytes left out, and the status line left alone.
#include <gtest/gtest.h>

#include "ArticleTestSupport.h"
#include "filter/OverviewLineRewriter.h"

namespace sitowiak::filter {
namespace {

using namespace std::string_literals;

const std::string kStatus = "224 Overview information follows\r\n";

std::string Overview(const std::string& lines, const std::string& forced, bool ignoreRaw) {
    TBuforArt buffer;
    testing::Load(buffer, kStatus + lines);
    buffer.RewriteOverview(kStatus.size(), forced, ignoreRaw);
    std::string out(buffer.Data(), static_cast<size_t>(buffer.Length()));
    EXPECT_EQ(buffer.Data()[buffer.Length()], '\0');
    EXPECT_EQ(out.compare(0, kStatus.size(), kStatus), 0);
    return out.substr(kStatus.size());
}

const std::string kQLine =
    "1\t=?iso-8859-2?Q?Za=BF=F3=B3=E6_g=EA=B6l=B1?=\t=?iso-8859-2?Q?Pl=B1skun?= <p@x>\t"
    "Mon, 7 Dec 2026\t<m1@x>\t\t1234\t20\r\n";
const std::string kRawLine =
    "2\tRe: Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87\ta@b\tMon\t<m2@x>\t\t10\t1\r\n";
const std::string kAsciiLine = "3\tHello\ta@b\tMon\t<m3@x>\t\t10\t1\r\n";

TEST(Overview, NothingForcedPassesTheReplyByteForByte) {
    const std::string lines = kQLine + kRawLine + kAsciiLine + ".\r\n";
    EXPECT_EQ(Overview(lines, "", false), lines);
}

TEST(Overview, IgnoreRawLeavesOutLinesWithRawEightBitBytes) {
    EXPECT_EQ(Overview(kQLine + kRawLine + kAsciiLine + ".\r\n", "", true),
              kQLine + kAsciiLine + ".\r\n");
    // 8-bit bytes only inside an encoded word: kept.
    const std::string inside = "4\t=?utf-8?Q?\xC4\x85?=\r\n";
    EXPECT_EQ(Overview(inside + ".\r\n", "", true), inside + ".\r\n");
}

TEST(Overview, AForcedCharsetDecodesWordsIntoPlainBytes) {
    EXPECT_EQ(Overview(kQLine + ".\r\n", "windows-1250", false),
              "1\tZa\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9\tPl\xB9skun <p@x>\tMon, 7 Dec "
              "2026\t<m1@x>\t\t1234\t20\r\n.\r\n");
}

TEST(Overview, ACharsetTheDatabaseDoesNotKnowForcesNothing) {
    // A typo in Kodowanie must not turn the lines into 1252 bytes.
    const std::string lines = kQLine + kRawLine + ".\r\n";
    EXPECT_EQ(Overview(lines, "foo", false), lines);
    EXPECT_EQ(Overview(lines, "foo", true), kQLine + ".\r\n");
}

TEST(Overview, RawTextIsReadAsUtf8AndReencoded) {
    EXPECT_EQ(Overview(kRawLine + ".\r\n", "windows-1250", false),
              "2\tRe: Za\xBF\xF3\xB3\xE6\ta@b\tMon\t<m2@x>\t\t10\t1\r\n.\r\n");
    EXPECT_EQ(Overview(kRawLine + kAsciiLine + ".\r\n", "windows-1250", true),
              kAsciiLine + ".\r\n");
    // Raw bytes that are not UTF-8 become U+FFFD, "?" in windows-1250.
    EXPECT_EQ(Overview("5\tZa\xBF\r\n.\r\n", "windows-1250", false), "5\tZa?\r\n.\r\n");
    EXPECT_EQ(Overview("5\tZa\xBF\r\n.\r\n", "utf-8", false), "5\tZa\xEF\xBF\xBD\r\n.\r\n");
}

TEST(Overview, WordsOfDifferentCharsetsMeetInTheForcedOne) {
    EXPECT_EQ(Overview("6\t=?utf-8?Q?=C4=85?= =?iso-8859-2?Q?=B1?= =?x-unknown?Q?=E9?=\r\n.\r\n",
                       "utf-8", false),
              "6\t\xC4\x85\xC4\x85\xC3\xA9\r\n.\r\n");
}

TEST(Overview, TheStatusLineAloneWithTheTerminatorStays) {
    EXPECT_EQ(Overview(".\r\n", "windows-1250", true), ".\r\n");
    EXPECT_EQ(Overview("", "windows-1250", true), "");
}

TEST(Overview, ALastLineWithoutCrLfIsTakenToTheEnd) {
    EXPECT_EQ(Overview("1\t=?iso-8859-2?Q?=B1?=", "utf-8", false), "1\t\xC4\x85");
    EXPECT_EQ(Overview(".\r\nab", "", true), ".\r\nab");
}

TEST(Overview, AByteAfterTheLastLineIsNotALine) {
    // A line must start two bytes before the end: a single trailing byte is
    // not examined, and the replaced range reaches the end, so it goes.
    EXPECT_EQ(Overview(".\r\nX", "", false), ".\r\n");
    EXPECT_EQ(Overview("X", "utf-8", false), "");
}

TEST(Overview, ANulByteIsTextOfItsLine) {
    const std::string lines = "7\ta\0b\t\xC4\x85\r\n8\tok\r\n.\r\n"s;
    EXPECT_EQ(Overview(lines, "", false), lines);
    EXPECT_EQ(Overview(lines, "", true), "8\tok\r\n.\r\n");
    EXPECT_EQ(Overview("7\ta\0b\r\n.\r\n"s, "windows-1250", true), "7\ta\0b\r\n.\r\n"s);
}

TEST(Overview, ALoneCarriageReturnDoesNotEndALine) {
    EXPECT_EQ(Overview("9\ta\rb\xC4\x85\r\n.\r\n", "", true), ".\r\n");
}

TEST(Overview, ManyLinesAreRewrittenInOnePass) {
    std::string lines, expected;
    for (int i = 0; i < 20000; ++i) {
        lines += std::to_string(i) + "\t=?iso-8859-2?Q?=B1?=\r\n" + kRawLine;
        expected += std::to_string(i) + "\t\xB9\r\n";
    }
    EXPECT_EQ(Overview(lines + ".\r\n", "windows-1250", true), expected + ".\r\n");
}

TEST(Overview, AStartAtTheEndChangesNothing) {
    TBuforArt buffer;
    testing::Load(buffer, "224\r\n");
    buffer.RewriteOverview(5, "utf-8", true);
    EXPECT_EQ(std::string(buffer.Data(), 5), "224\r\n");
    buffer.RewriteOverview(99, "utf-8", true);
    EXPECT_EQ(buffer.Length(), 5);
}

// A line is looked at in blocks of 16 and 32 bytes before anything else,
// alone and, when streamed, together with the search for its end: a word
// or an 8-bit byte at any place, across any block edge, must be seen, and
// the line must end at its own CR LF wherever that falls.
TEST(Overview, AWordOrAnEightBitByteIsSeenAnywhereInTheLine) {
    using Result = OverviewLineRewriter::Result;
    OverviewLineRewriter rewriter("utf-8", true);
    // The line streamed with a line after it: what goes to the reader.
    auto streamed = [&rewriter](const std::string& line) {
        std::string out;
        size_t scanned = 0;
        bool ended = false;
        const std::string bytes = line + "\r\n.\r\n";
        EXPECT_EQ(rewriter.RewriteLines(bytes, scanned, ended,
                                        [&out](std::string_view b) { out.append(b); }),
                  bytes.size());
        EXPECT_TRUE(ended);
        return out;
    };
    const std::string word = "=?x?Q?b?=";
    for (size_t length = word.size(); length <= 80; ++length) {
        for (size_t at = 0; at + word.size() <= length; ++at) {
            std::string line(length, 'a'), expected(length - word.size() + 1, 'a');
            line.replace(at, word.size(), word);
            expected[at] = 'b';
            std::string out;
            ASSERT_EQ(rewriter.RewriteInto(line + "\r\n", out), Result::kRewritten) << line;
            EXPECT_EQ(out, expected + "\r\n");
            EXPECT_EQ(streamed(line), expected + "\r\n.\r\n") << line;
        }
    }
    for (size_t length = 1; length <= 80; ++length) {
        for (size_t at = 0; at < length; ++at) {
            std::string line(length, 'a'), out;
            line[at] = '\xE9';
            EXPECT_EQ(rewriter.RewriteInto(line + "\r\n", out), Result::kLeftOut) << length << at;
            EXPECT_EQ(streamed(line), ".\r\n") << length << " " << at;
        }
    }
}

// --- B words (base64) -------------------------------------------------------

// "Zażółć" in a B word; in the next field "Polski" (lower-case b) and, in a
// Q word, " język": the space between the two words goes.
const std::string kBLine =
    "10\t=?UTF-8?B?WmHFvMOzxYLEhw==?=\t=?utf-8?b?UG9sc2tp?= =?iso-8859-2?Q?_j=EAzyk?= <p@x>"
    "\tMon\t<m10@x>\t\t10\t1\r\n";

TEST(OverviewBWords, AForcedCharsetDecodesBWordsLikeQWords) {
    EXPECT_EQ(Overview(kBLine + ".\r\n", "windows-1250", false),
              "10\tZa\xBF\xF3\xB3\xE6\tPolski j\xEAzyk <p@x>\tMon\t<m10@x>\t\t10\t1\r\n.\r\n");
    EXPECT_EQ(Overview(kBLine + ".\r\n", "utf-8", true),
              "10\tZa\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87\tPolski j\xC4\x99zyk "
              "<p@x>\tMon\t<m10@x>\t\t10\t1\r\n.\r\n");
    EXPECT_EQ(Overview("11\t=?iso-8859-2?b?sQ==?=\r\n.\r\n", "utf-8", false),
              "11\t\xC4\x85\r\n.\r\n");
}

TEST(OverviewBWords, NothingForcedLeavesBWordsAsTheyAre) {
    EXPECT_EQ(Overview(kBLine + ".\r\n", "", true), kBLine + ".\r\n");
}

TEST(OverviewBWords, ACharacterSplitBetweenTwoBWordsStaysWhole) {
    // Za C5 | BC: "Zaż", whose "ż" is BF in windows-1250.
    EXPECT_EQ(Overview("12\t=?UTF-8?B?WmHF?= =?UTF-8?B?vA==?=\r\n.\r\n", "windows-1250", false),
              "12\tZa\xBF\r\n.\r\n");
}

TEST(OverviewBWords, ABWordWithoutItsCloseStaysAsItIs) {
    const std::string line = "13\t=?UTF-8?B?UG9sc2tp\ta@b\r\n";
    EXPECT_EQ(Overview(line + ".\r\n", "windows-1250", true), line + ".\r\n");
    // Its bytes are raw text, so 8-bit bytes in it leave the line out.
    EXPECT_EQ(Overview("14\t=?UTF-8?B?\xC4\x85\r\n" + kAsciiLine + ".\r\n", "", true),
              kAsciiLine + ".\r\n");
    EXPECT_EQ(Overview("14\t=?UTF-8?B?\xC4\x85\r\n.\r\n", "windows-1250", false),
              "14\t=?UTF-8?B?\xB9\r\n.\r\n");
}

}  // namespace
}  // namespace sitowiak::filter

// RewriteOverview: overview lines decoded and re-encoded, lines with raw 8-bit
// bytes left out, the status line left alone, and every line still one line
// with its fields whatever its words decode to.
#include <gtest/gtest.h>

#include "ArticleTestSupport.h"
#include "filter/OverviewLineRewriter.h"

namespace sitowiak::filter {
namespace {

using namespace std::string_literals;

const std::string kStatus = "224 Overview information follows\r\n";

std::string Overview(const std::string& lines, const std::string& forced, bool ignoreRaw,
                     const std::string& undeclared = "") {
    TBuforArt buffer;
    testing::Load(buffer, kStatus + lines);
    buffer.RewriteOverview(kStatus.size(), forced, ignoreRaw, undeclared);
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
// Raw iso-8859-2: not UTF-8.
const std::string kLatin2Line = "4\tRe: Za\xBF\xF3\xB3\xE6\ta@b\tMon\t<m4@x>\t\t10\t1\r\n";

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
    // Without a charset for undeclared text, raw bytes that are not UTF-8
    // become U+FFFD, "?" in windows-1250.
    EXPECT_EQ(Overview("5\tZa\xBF\r\n.\r\n", "windows-1250", false), "5\tZa?\r\n.\r\n");
    EXPECT_EQ(Overview("5\tZa\xBF\r\n.\r\n", "utf-8", false), "5\tZa\xEF\xBF\xBD\r\n.\r\n");
    // With one they are read in it.
    EXPECT_EQ(Overview("5\tZa\xBF\r\n.\r\n", "utf-8", false, "iso-8859-2"),
              "5\tZa\xC5\xBC\r\n.\r\n");
}

TEST(Overview, WithAForcedCharsetOnlyRawLinesThatCannotBeReadAreLeftOut) {
    // Raw UTF-8 (a modern server) is re-encoded and kept; raw bytes in
    // another charset go, unless the charset for undeclared text reads
    // them; a name the database does not know reads nothing.
    const std::string lines = kRawLine + kLatin2Line + kAsciiLine + ".\r\n";
    const std::string utf8 = "2\tRe: Za\xBF\xF3\xB3\xE6\ta@b\tMon\t<m2@x>\t\t10\t1\r\n";
    EXPECT_EQ(Overview(lines, "windows-1250", true), utf8 + kAsciiLine + ".\r\n");
    EXPECT_EQ(Overview(lines, "windows-1250", true, "iso-8859-2"),
              utf8 + kLatin2Line + kAsciiLine + ".\r\n");
    EXPECT_EQ(Overview(lines, "windows-1250", true, "foo"), utf8 + kAsciiLine + ".\r\n");
    // Nothing forced: the checkbox leaves out every raw 8-bit line.
    EXPECT_EQ(Overview(lines, "", true, "iso-8859-2"), kAsciiLine + ".\r\n");
    OverviewLineRewriter rewriter("utf-8", true);
    std::string out;
    for (const std::string& line : {kRawLine, kLatin2Line, kLatin2Line, kAsciiLine})
        rewriter.RewriteInto(line, out);
    EXPECT_EQ(rewriter.LeftOut(), 2u);
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
        lines += std::to_string(i) + "\t=?iso-8859-2?Q?=B1?=\r\n" + kLatin2Line;
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

// --- What words decode to stays inside its line ------------------------------

// An overview of complete lines ending with ".", rewritten whole and as the
// relay streams it with the next reply behind it: both must give the same
// bytes and the stream must end at the real terminating line.
std::string Rewritten(const std::string& lines, const std::string& forced) {
    const std::string whole = Overview(lines, forced, false);
    OverviewLineRewriter rewriter(forced, false);
    const std::string bytes = lines + "223 0 <next@reply>\r\n";
    std::string streamed;
    size_t scanned = 0;
    bool ended = false;
    EXPECT_EQ(rewriter.RewriteLines(bytes, scanned, ended,
                                    [&streamed](std::string_view b) { streamed.append(b); }),
              lines.size());
    EXPECT_TRUE(ended);
    EXPECT_EQ(streamed, whole);
    return whole;
}

// The article's own Subject: decoded as it was, its CR LF "." CR LF ended
// the overview early and "223 fałszywa" was taken for the next reply.
TEST(OverviewControls, AForgedReplyInASubjectStaysInTheSubject) {
    const std::string tail = "\ta@b\tMon\t<m1@x>\t\t10\t1\r\n";
    const std::string q = "1\t=?utf-8?Q?temat=0D=0A.=0D=0A223_fa=C5=82szywa?=" + tail;
    const std::string b = "2\t=?UTF-8?B?dGVtYXQNCi4NCjIyMyBmYcWCc3p5d2E=?=" + tail;
    EXPECT_EQ(Rewritten(q + b + kAsciiLine + ".\r\n", "utf-8"),
              "1\ttemat  .  223 fa\xC5\x82szywa" + tail + "2\ttemat  .  223 fa\xC5\x82szywa" +
                  tail + kAsciiLine + ".\r\n");
    EXPECT_EQ(Rewritten(q + ".\r\n", "windows-1250"),
              "1\ttemat  .  223 fa\xB3szywa" + tail + ".\r\n");
}

// Every C0 control a word decodes to is a space, for Q and B words, in
// UTF-8 and in single-byte charsets, on each road into the target: single-
// byte and UTF-8 ones straight, UTF-7 through UTF-16. Raw text keeps its
// bytes, a TAB among them too: a word does not reach over one.
TEST(OverviewControls, ControlsDecodedFromWordsAreSpacesAndTheFieldsStay) {
    const std::string lines =
        // CR LF, alone and together
        "1\t=?iso-8859-2?Q?a=0D=0Ab?=\t=?utf-8?Q?c=0Dd=0Ae?=\r\n"
        "2\t=?utf-8?B?eA0KLg0K?=\t=?iso-8859-2?b?eA0KLg0K?=\r\n"
        // TAB
        "3\t=?utf-8?Q?a=09b?=\t=?utf-8?B?YQli?=\t=?windows-1250?Q?a_=09?=\r\n"
        // NUL, BEL, ESC, US
        "4\t=?utf-8?B?AAEbHw==?=\t=?windows-1250?Q?=00=07=1B=1F?=\t=?x?Q?=0?=\r\n"
        // An XHDR line
        "5 =?utf-8?Q?x=0D=0A.=0D=0A?=\r\n"
        // A raw TAB where a word's charset or text would be: no word
        "6\t=?utf-8?Q?a\tb?=\t=?utf-8?B?YQ\tli?=\t=?ut\tf-8?Q?x?=\r\n"
        // Raw controls are the server's own
        "7\ta\0b\x01=?utf-8?Q?c?=\r\n.\r\n"s;
    const std::string expected =
        "1\ta  b\tc d e\r\n"
        "2\tx  .  \tx  .  \r\n"
        "3\ta b\ta b\ta  \r\n"
        "4\t    \t    \t \r\n"
        "5 x  .  \r\n"
        "6\t=?utf-8?Q?a\tb?=\t=?utf-8?B?YQ\tli?=\t=?ut\tf-8?Q?x?=\r\n"
        "7\ta\0b\x01"
        "c\r\n.\r\n"s;
    for (const char* forced : {"utf-8", "windows-1250", "iso-8859-2", "us-ascii"})
        EXPECT_EQ(Rewritten(lines, forced), expected) << forced;
    // UTF-7 writes "+", "=" and "?" its own way: the lines without them.
    const std::string utf7 = "1\t=?iso-8859-2?Q?a=0D=0Ab?=\t=?utf-8?B?eA0KLg0K?=\r\n.\r\n";
    EXPECT_EQ(Rewritten(utf7, "UTF-7"), "1\ta  b\tx  .  \r\n.\r\n");
    // ESC stays where a charset needs it: ISO-2022-JP's shifts decode first.
    EXPECT_EQ(Rewritten("8\t=?iso-2022-jp?B?GyRCJEgbKEI=?=\r\n.\r\n", "utf-8"),
              "8\t\xE3\x81\xA8\r\n.\r\n");
}

// Into a code page that shifts, a line is back in ASCII before its own
// CR LF: the shift back at the end of the conversion would begin the next
// line, and would hide the terminating ".".
TEST(OverviewControls, AShiftingCodePageClosesEachLineBeforeItsEnd) {
    EXPECT_EQ(Rewritten("1\t=?utf-8?Q?=C2=A5?=\r\n.\r\n", "iso-2022-jp"),  // JIS-Roman yen
              "1\t\x1B(J\\\x1B(B\r\n.\r\n");
}

// A line that now begins with "." is stuffed again, so that the reader
// drops the added dot and no line is ever the terminating one.
TEST(OverviewControls, ALineThatBeginsWithADotAfterDecodingIsStuffed) {
    const std::string lines =
        "=?utf-8?Q?.?=\r\n"     // a word that is "." alone
        "=?utf-8?B?Lg==?=\r\n"  // the same in B
        "=?utf-8?Q?.x?=\r\n"    // a word that begins with "."
        "=?.\r\n"               // an opening "=?" before "." stays
        ".=?utf-8?Q?"
        "?=\r\n"                // stuffed, its text vanishes (split: no trigraph)
        "..x=?utf-8?Q?y?=\r\n"  // stuffed and still so
        "9\tlast\r\n.\r\n";
    EXPECT_EQ(Rewritten(lines, "utf-8"), "..\r\n..\r\n..x\r\n=?.\r\n..\r\n..xy\r\n9\tlast\r\n.\r\n");
    EXPECT_EQ(Rewritten(".\r\n", "UTF-7"), ".\r\n");  // the terminator itself stays
}

// Raw CR and LF with a word between them that gives nothing would meet as
// a line end: the CR becomes a space. A lone raw CR stays.
TEST(OverviewControls, RawCrAndLfThatDecodingBringsTogetherDoNotEndTheLine) {
    EXPECT_EQ(Rewritten("1\ta\r=?utf-8?Q?"
                        "?=\nb\r\n2\tc\r=?\nd\r\n3\te\rf=?utf-8?Q?g?=\r\n.\r\n",
                        "utf-8"),
              "1\ta \nb\r\n2\tc\r=?\nd\r\n3\te\rfg\r\n.\r\n");
}

}  // namespace
}  // namespace sitowiak::filter

// What a body is read as: the charset it declares (posts included), the
// bodies that are left as they came (no usable charset and 8-bit bytes,
// binaries, an unknown forced charset), and the footer in the body's
// transfer encoding. Articles are written as newsreaders write them;
// article_shapes_check.py reads the same shapes back with a MIME parser
// under every setting.
#include <gtest/gtest.h>

#include <map>

#include "ArticleTestSupport.h"
#include "filter/TransferEncoding.h"

namespace sitowiak::filter {
namespace {

using namespace testing;
using namespace std::string_literals;

// "gęślą jaźń" in each charset: letters that differ between iso-8859-2 and
// windows-1250.
const std::map<std::string, std::string> kText = {
    {"utf-8", "g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84\r\n"},
    {"iso-8859-2", "g\xEA\xB6l\xB1 ja\xBC\xF1\r\n"},
    {"windows-1250", "g\xEA\x9Cl\xB9 ja\x9F\xF1\r\n"},
};

const std::string kTinHeader =
    "From: Jan Kowalski <jan@example.pl>\r\nNewsgroups: pl.test\r\nSubject: test\r\n"
    "MIME-Version: 1.0\r\n";

ArticleOptions Forced(const std::string& charset) {
    ArticleOptions o;
    o.forcedCharset = charset;
    return o;
}

// --- Posts are converted from the charset they declare ----------------------

TEST(PostCharset, APostDeclaredInAnyCharsetReachesTheServerInKodowanie) {
    for (const auto& [declared, text] : kText) {
        for (const std::string kodowanie : {"utf-8", "windows-1250", "iso-8859-2"}) {
            std::string post = kTinHeader + "Content-Type: text/plain; charset=" + declared +
                               "\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + text + ".\r\n";
            EXPECT_EQ(Posted(post, kodowanie),
                      kTinHeader + "Content-Type: text/plain; charset=\"" + kodowanie +
                          "\"\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + kText.at(kodowanie) +
                          Footer() + ".\r\n")
                << declared << " -> " << kodowanie;
        }
    }
}

// --- Labels that lie -----------------------------------------------------------

TEST(LyingLabel, UtF8AndWindowsTextUnderAnIsoLabelAreReadAsWhatTheyAre) {
    // A post written in UTF-8 or in windows-1250 but labelled iso-8859-2,
    // plain and quoted-printable, and the same text from the server.
    const std::string utf8 = kText.at("utf-8"), cp1250 = kText.at("windows-1250");
    for (const std::string& body : {utf8, cp1250}) {
        for (const std::string kodowanie : {"utf-8", "windows-1250", "iso-8859-2"}) {
            const std::string head = "Content-Type: text/plain; charset=iso-8859-2\r\n";
            const std::string want = "Content-Type: text/plain; charset=\"" + kodowanie + "\"\r\n";
            EXPECT_EQ(Posted(head + "\r\n" + body + ".\r\n", kodowanie),
                      want + "\r\n" + kText.at(kodowanie) + Footer() + ".\r\n")
                << kodowanie;
            const std::string qp = "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
            EXPECT_EQ(FromServer(head + qp + EncodeQuotedPrintable(body) + ".\r\n",
                                 Forced(kodowanie)),
                      want + qp + EncodeQuotedPrintable(kText.at(kodowanie)) + ".\r\n")
                << kodowanie;
        }
    }
    // C1 bytes inside a yEnc block say nothing about the text around it.
    const std::string block = "=ybegin line=128 size=2 name=a\r\n\x9C\x9F\r\n=yend size=2\r\n";
    EXPECT_EQ(FromServer("Content-Type: text/plain; charset=iso-8859-2\r\n\r\n\xB6\r\n" + block +
                             ".\r\n",
                         Forced("utf-8")),
              "Content-Type: text/plain; charset=\"utf-8\"\r\n\r\n\xC5\x9B\r\n" + block + ".\r\n");
}

TEST(LyingLabel, Utf8ThatIsNotUtf8IsReadInTheUndeclaredCharsetOrLeftAsItCame) {
    const std::string article =
        "Content-Type: text/plain; charset=UTF-8\r\n\r\nZa\xBF\xF3\r\n.\r\n";
    EXPECT_EQ(FromServer(article, Forced("utf-8")), article);
    EXPECT_EQ(FromServer(article, Forced("windows-1250")), article);
    ArticleOptions o = Forced("utf-8");
    o.sourceCharset = "iso-8859-2";
    EXPECT_EQ(FromServer(article, o),
              "Content-Type: text/plain; charset=\"utf-8\"\r\n\r\nZa\xC5\xBC\xC3\xB3\r\n.\r\n");
    // Unlabelled 8-bit text with the undeclared charset set: read in it,
    // and in its Windows code page when it holds C1 bytes.
    EXPECT_EQ(FromServer("Subject: s\r\n\r\n" + kText.at("windows-1250") + ".\r\n", o),
              "Subject: s\r\nMIME-Version: 1.0\r\nContent-Type: text/plain;\r\n"
              "\tcharset=\"utf-8\"\r\n\r\n" + kText.at("utf-8") + ".\r\n");
}

TEST(PostCharset, AnUnknownDeclaredCharsetIsTakenToBeKodowanie) {
    const std::string& text = kText.at("windows-1250");
    EXPECT_EQ(Posted("Content-Type: text/plain; charset=x-mac-nonsense\r\n\r\n" + text + ".\r\n",
                     "windows-1250"),
              "Content-Type: text/plain; charset=\"windows-1250\"\r\n\r\n" + text + Footer() + ".\r\n");
}

// --- The footer in the body's transfer encoding -----------------------------

TEST(EncodedFooter, ABase64PostEndsInBase64WithItsLastGroupEncodedAgain) {
    // "WmE=" is "Za" with padding: the group is taken apart, so the body
    // decodes to "Za", a line break and the footer, all in base64.
    const std::string header =
        "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    EXPECT_EQ(Posted(header + "WmE=\r\n.\r\n", ""),
              header + EncodeBase64("Za\r\n" + Footer()) + ".\r\n");
    // Without padding the body stays and the footer follows in new lines.
    EXPECT_EQ(Posted(header + "WmFi\r\n.\r\n", ""),
              header + "WmFi\r\n" + EncodeBase64("\r\n" + Footer()) + ".\r\n");
}

TEST(EncodedFooter, AQuotedPrintablePartGetsEncodedFooterLines) {
    const std::string mixed = "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n";
    const std::string part =
        "--b\r\nContent-Type: text/plain; charset=iso-8859-2\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
    EXPECT_EQ(Posted(mixed + part + "Za=BF=F3=\r\n--b--\r\n.\r\n", ""),
              mixed + part +
                  "Za=BF=F3=\r\n\r\n--=20\r\nPrzefiltrowane przez Sitowiak 5.00.00.48\r\n"
                  "http://sitowiak.example/\r\n--b--\r\n.\r\n");
}

// --- Bodies the filter cannot read arrive as they came ----------------------

TEST(UnreadableBody, EightBitBytesWithoutAUsableCharsetAreNeitherConvertedNorRelabelled) {
    const std::string premime = "From: a@b\r\nSubject: stary\r\n\r\nZa\xBF\xF3\xB3\xE6\r\n.\r\n";
    const std::string mislabelled =
        "Content-Type: text/plain; charset=us-ascii\r\n\r\nZa\xBF\xF3\r\n.\r\n";
    const std::string qp =
        "Content-Type: text/plain; charset=US-ASCII\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n\r\nZa=BF=F3\r\n.\r\n";
    for (const std::string forced : {"utf-8", "windows-1250", "us-ascii"})
        for (const std::string& article : {premime, mislabelled, qp})
            EXPECT_EQ(FromServer(article, Forced(forced)), article) << forced;
    // 7-bit text in us-ascii is what its label says: relabelled.
    EXPECT_EQ(FromServer("Content-Type: text/plain; charset=us-ascii\r\n\r\nab\r\n.\r\n",
                         Forced("utf-8")),
              "Content-Type: text/plain; charset=\"utf-8\"\r\n\r\nab\r\n.\r\n");
}

const std::string kYenc =
    "From: poster@example\r\nNewsgroups: alt.binaries.test\r\nSubject: a.bin yEnc (1/1)\r\n\r\n"
    "=ybegin line=128 size=6 name=a.bin\r\n"
    "\x2A\x2B\xFF\x3D\x4A\xE9\r\n"
    "=yend size=6 crc32=00000000\r\n.\r\n"s;
const std::string kUu =
    "From: poster@example\r\nSubject: a.txt\r\n\r\n"
    "begin 644 a.txt\r\n#86)C\r\n`\r\nend\r\n.\r\n";

TEST(UnreadableBody, BinaryBlocksInADeclaredTextAreCopiedAndTheTextConverted) {
    // Without a charset a binary article keeps even its label (the uuencoded
    // one is 7-bit).
    EXPECT_EQ(FromServer(kYenc, Forced("utf-8")), kYenc);
    EXPECT_EQ(FromServer(kUu, Forced("windows-1250")), kUu);
    const std::string block =
        "=ybegin part=1 line=128 size=4 name=b.bin\r\n=ypart begin=1 end=4\r\n"
        "\xB1\xB6\xFF\x3D\x40\r\n=yend size=4 part=1\r\n";
    const std::string uu = "begin 0644 c.txt\r\n#86)C\r\n`\r\nend  \r\n";
    EXPECT_EQ(FromServer("Content-Type: text/plain; charset=iso-8859-2\r\n\r\n\xB1\r\n" + block +
                             "\xB6\r\n" + uu + "\xBC\r\n.\r\n",
                         Forced("utf-8")),
              "Content-Type: text/plain; charset=\"utf-8\"\r\n\r\n\xC4\x85\r\n" + block +
                  "\xC5\x9B\r\n" + uu + "\xC5\xBA\r\n.\r\n");
    // "begin" without an octal mode is text, and so is what follows a
    // "begin 644" line without its "end" (uuencoded lines are ASCII and need
    // no protection between ASCII supersets); a yEnc block without its end
    // line runs to the end of the body.
    EXPECT_EQ(
        FromServer("Content-Type: text/plain; charset=iso-8859-2\r\n\r\n"
                   "begin here \xB1\r\nbegin 644 x\r\n\xB6\r\n=ybegin name=x\r\n\xB1\r\n.\r\n",
                   Forced("utf-8")),
        "Content-Type: text/plain; charset=\"utf-8\"\r\n\r\n"
        "begin here \xC4\x85\r\nbegin 644 x\r\n\xC5\x9B\r\n=ybegin name=x\r\n\xB1\r\n.\r\n");
}

TEST(UnreadableBody, APostedBinaryKeepsItsBytesAndGetsTheFooterAfterIt) {
    // Its bytes are taken to be in Kodowanie, which they already are.
    size_t cut = kYenc.find("\r\n\r\n") + 2;
    EXPECT_EQ(Posted(kYenc, "utf-8"),
              kYenc.substr(0, cut) + "MIME-Version: 1.0\r\nContent-Type: text/plain;\r\n\tcharset=\"utf-8\"\r\n" +
                  kYenc.substr(cut, kYenc.size() - cut - 3) + Footer() + ".\r\n");
}

TEST(UnreadableBody, TheSameCodePageOnBothSidesKeepsEveryByte) {
    // A byte windows-1250 leaves unassigned (0x81) stays.
    const std::string cp1250 = "Content-Type: text/plain; charset=cp1250\r\n\r\n\x81\xB9\r\n.\r\n";
    EXPECT_EQ(FromServer(cp1250, Forced("windows-1250")),
              "Content-Type: text/plain; charset=\"windows-1250\"\r\n\r\n\x81\xB9\r\n.\r\n");
}

TEST(UnreadableBody, AForcedCharsetTheDatabaseDoesNotKnowForcesNothing) {
    // A typo in Kodowanie: no "charset=foo" over 1252 bytes.
    const std::string article =
        "Content-Type: text/plain; charset=iso-8859-2\r\n\r\n" + kText.at("iso-8859-2") + ".\r\n";
    EXPECT_EQ(FromServer(article, Forced("foo")), article);
    const std::string mixed =
        "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
        "Content-Type: text/plain; charset=iso-8859-2\r\n\r\n\xB1\r\n--b--\r\n.\r\n";
    EXPECT_EQ(FromServer(mixed, Forced("foo")), mixed);
    // A post keeps its label; the footer is in the charset it declares.
    ArticleOptions o;
    o.productName = "Sit\xC3\xB3wiak";
    EXPECT_EQ(Posted(article, "foo", o),
              article.substr(0, article.size() - 3) + Footer("Sit\xF3wiak") + ".\r\n");
}

}  // namespace
}  // namespace sitowiak::filter

namespace sitowiak::filter {
namespace {

using namespace testing;
using namespace std::string_literals;

// A body in a charset whose conversion moves line ends and dots must not
// end the reply early: UTF-7 can decode to CR LF "." CR LF, and ISO-2022-JP
// can hide a line's leading "." behind an escape sequence. The converted body is stuffed again, so the reader
// sees one line "." as text and the reply ends where the server ended it.
TEST(FramedBody, ConversionsThatMoveLineEndsOrDotsCannotEndTheReplyEarly) {
    struct Case {
        const char* charset;
        std::string body;      // as the server sends it
        std::string expected;  // in utf-8, as the reader gets it
    } cases[] = {
        {"utf-7", "a+AA0ACgAuAA0ACg-223 x\r\n", "a\r\n..\r\n223 x\r\n"},
        {"utf-7", "a+AAoALgAK-b\r\nc+AA0-\r\n", "a\r\n..\r\nb\r\nc\r\n\r\n"},
        {"iso-2022-jp", "a\r\n\x1B(B.\r\n223 x\r\n\x1B$B$\"\x1B(B\r\n",
         "a\r\n..\r\n223 x\r\n\xE3\x81\x82\r\n"},
    };
    for (const Case& k : cases) {
        const std::string header = "Content-Type: text/plain; charset="s + k.charset + "\r\n\r\n";
        EXPECT_EQ(FromServer(header + k.body + ".\r\n", Forced("utf-8")),
                  "Content-Type: text/plain; charset=\"utf-8\"\r\n\r\n" + k.expected + ".\r\n")
            << k.charset;
    }
    // A forced charset that cannot write "." CR LF as ASCII does leaves such
    // a body as it came: its bytes could not be framed as lines at all.
    const std::string utf7 = "Content-Type: text/plain; charset=utf-7\r\n\r\na+AA0ACgAu-\r\n.\r\n";
    EXPECT_EQ(FromServer(utf7, Forced("utf-16le")), utf7);
}

}  // namespace
}  // namespace sitowiak::filter

// RewriteArticle on single-part articles: the plain-text branch (re-encoding,
// relabelling, footer), the HTML branch (style link), other types, and what
// malformed articles give. Expectations are written by hand from the
// rewriting rules, not copied from a run.
#include <gtest/gtest.h>

#include "ArticleTestSupport.h"

namespace sitowiak::filter {
namespace {

using namespace testing;
using namespace std::string_literals;

const std::string kLink = std::string("<LINK href=\"http://") + SITOWIAK_STYLE_HOST +
                          "/artykuly.css\" type=text/css rel=stylesheet>";
const std::string kLinkQp = std::string("<LINK href=3D\"http://") + SITOWIAK_STYLE_HOST +
                            "/artykuly.css\" type=3Dtext/css rel=3Dstylesheet>";

ArticleOptions Forced(const std::string& charset) {
    ArticleOptions o;
    o.forcedCharset = charset;
    return o;
}

// --- Nothing forced ------------------------------------------------------

TEST(ArticlePassThrough, WithNothingForcedASinglePartArticleIsUnchanged) {
    const std::string article =
        "From: a@b\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\n"
        "  indented\r\n\xB1\r\n..dot\r\n.\r\n";
    EXPECT_EQ(FromServer(article, {}), article);
    const std::string html = "Content-Type: text/html\r\n\r\n<STYLE></STYLE>\r\n.\r\n";
    EXPECT_EQ(FromServer(html, {}), html);
}

TEST(ArticlePassThrough, TheStatusLineBeforeStartIsNeverRead) {
    // A status line that looks like a header field changes nothing.
    const std::string text = "Content-Type: text/html\r\nSubject: x\r\n\r\nbody\r\n.\r\n";
    EXPECT_EQ(Rewrite(text, 25, Forced("utf-8")),
              "Content-Type: text/html\r\nSubject: x\r\nMIME-Version: 1.0\r\n"
              "Content-Type: text/plain;\r\n"
              "\tcharset=\"utf-8\"\r\n\r\nbody\r\n.\r\n");
}

// --- Plain text: re-encoding and relabelling -------------------------------

TEST(ArticleRecode, AQuotedCharsetChangesOnlyBetweenTheQuotes) {
    EXPECT_EQ(FromServer("Content-Type: text/plain; charset=\"iso-8859-2\"\r\n\r\n"
                         "Za\xBF\xF3\xB3\xE6\r\n.\r\n",
                         Forced("utf-8")),
              "Content-Type: text/plain; charset=\"utf-8\"\r\n\r\n"
              "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87\r\n.\r\n");
}

TEST(ArticleRecode, WithoutContentTypeTheBodyIsUsAsciiAndAFieldIsAdded) {
    // With MIME-Version, without which readers ignore the label; a header
    // that has one keeps it.
    EXPECT_EQ(
        FromServer("From: a@b\r\nSubject: test\r\n\r\nZazolc\r\n.\r\n", Forced("windows-1250")),
        "From: a@b\r\nSubject: test\r\nMIME-Version: 1.0\r\nContent-Type: text/plain;\r\n"
        "\tcharset=\"windows-1250\"\r\n\r\nZazolc\r\n.\r\n");
    EXPECT_EQ(FromServer("mime-version: 1.0\r\n\r\nab\r\n.\r\n", Forced("utf-8")),
              "mime-version: 1.0\r\nContent-Type: text/plain;\r\n\tcharset=\"utf-8\"\r\n\r\n"
              "ab\r\n.\r\n");
}

TEST(ArticleRecode, TheFieldIsReadInEveryFormMimeAllows) {
    // No blank after the colon, two blanks, a folded value, a comment.
    for (std::string head : {"Content-Type:text/plain; charset=iso-8859-2",
                             "Content-Type :  text/plain; charset=iso-8859-2",
                             "Content-Type:\r\n text/plain; charset=iso-8859-2",
                             "Content-Type: (plain) text/plain; charset=iso-8859-2 (latin2)"}) {
        std::string out = head.substr(0, head.find("charset=")) + "charset=\"utf-8\"" +
                          (head.ends_with(")") ? " (latin2)" : "");
        EXPECT_EQ(FromServer(head + "\r\n\r\n\xB1\r\n.\r\n", Forced("utf-8")),
                  out + "\r\n\r\n\xC4\x85\r\n.\r\n")
            << head;
    }
}

TEST(ArticleRecode, CharsetParametersInEveryFormAreReadAndRelabelledQuoted) {
    // Any letter case, blanks around "=", the RFC 2231 form: the whole
    // parameter becomes charset="...".
    for (std::string parameter :
         {"Charset=\"iso-8859-2\"", "charset = iso-8859-2", "CHARSET=ISO-8859-2",
          "charset*=iso-8859-2''", "charset*=''iso-8859-2", "charset*=iso-8859-2'pl'",
          "charset=\r\n iso-8859-2"}) {
        EXPECT_EQ(FromServer("Content-Type: text/plain; " + parameter +
                                 "; format=flowed\r\n\r\nZa\xBF\r\n.\r\n",
                             Forced("utf-8")),
                  "Content-Type: text/plain; charset=\"utf-8\"; format=flowed\r\n\r\n"
                  "Za\xC5\xBC\r\n.\r\n")
            << parameter;
    }
    // A parameter whose name only ends in "charset" is another one.
    EXPECT_EQ(FromServer("Content-Type: text/plain; xcharset=iso-8859-2\r\n\r\nab\r\n.\r\n",
                         Forced("utf-8")),
              "Content-Type: text/plain; xcharset=iso-8859-2;\r\n\tcharset=\"utf-8\"\r\n\r\n"
              "ab\r\n.\r\n");
}

TEST(ArticleRecode, TheFieldNameIsComparedWithoutRegardToCase) {
    EXPECT_EQ(FromServer("content-type: TEXT/PLAIN; charset=\"ISO-8859-2\"\r\n\r\n\xB1\r\n.\r\n",
                         Forced("utf-8")),
              "content-type: TEXT/PLAIN; charset=\"utf-8\"\r\n\r\n\xC4\x85\r\n.\r\n");
}

TEST(ArticleRecode, AnUnquotedCharsetIsATokenFollowedByParameters) {
    // Obvious fault F1: the charset is UTF-8, not "UTF-8; format=flowed",
    // and relabelling keeps the parameters after it.
    EXPECT_EQ(FromServer("Content-Type: text/plain; charset=UTF-8; format=flowed\r\n\r\n"
                         "Za\xC5\xBC\r\n.\r\n",
                         Forced("iso-8859-2")),
              "Content-Type: text/plain; charset=\"iso-8859-2\"; format=flowed\r\n\r\n"
              "Za\xBF\r\n.\r\n");
    EXPECT_EQ(FromServer("Content-Type: text/plain; charset=us-ascii; name=\"a.txt\"\r\n\r\n"
                         "ab\r\n.\r\n",
                         Forced("windows-1250")),
              "Content-Type: text/plain; charset=\"windows-1250\"; name=\"a.txt\"\r\n\r\nab\r\n.\r\n");
    EXPECT_EQ(FromServer("Content-Type: text/plain; charset=iso-8859-2 ;x=y\r\n\r\n\xB1\r\n.\r\n",
                         Forced("utf-8")),
              "Content-Type: text/plain; charset=\"utf-8\" ;x=y\r\n\r\n\xC4\x85\r\n.\r\n");
}

TEST(ArticleRecode, CharsetIsLookedForOnlyInsideTheContentTypeField) {
    // Obvious fault F2: neither a later header line nor the body gives the
    // charset; the field has none, and its 8-bit body is left as it came.
    const std::string article =
        "Content-Type: text/plain\r\nX-Note: charset=iso-8859-2\r\n\r\n"
        "\xB1\r\ncharset=iso-8859-2\r\n.\r\n";
    EXPECT_EQ(FromServer(article, Forced("utf-8")), article);
}

TEST(ArticleRecode, ContinuationLinesBelongToTheField) {
    // Tab-folded, and space-folded (C1): one
    // field, one charset label after relabelling.
    EXPECT_EQ(
        FromServer("Content-Type: text/plain;\r\n\tcharset=\"iso-8859-2\"\r\nSubject: s\r\n\r\n"
                   "\xB1\r\n.\r\n",
                   Forced("utf-8")),
        "Content-Type: text/plain;\r\n\tcharset=\"utf-8\"\r\nSubject: s\r\n\r\n\xC4\x85\r\n.\r\n");
    EXPECT_EQ(FromServer("Content-Type: text/plain;\r\n charset=iso-8859-2\r\nSubject: s\r\n\r\n"
                         "\xB1\r\n.\r\n",
                         Forced("utf-8")),
              "Content-Type: text/plain;\r\n charset=\"utf-8\"\r\nSubject: s\r\n\r\n\xC4\x85\r\n.\r\n");
    EXPECT_EQ(
        FromServer("Content-Type: text/plain\r\n  ; format=flowed\r\n\r\nab\r\n.\r\n",
                   Forced("utf-8")),
        "Content-Type: text/plain\r\n  ; format=flowed;\r\n\tcharset=\"utf-8\"\r\n\r\nab\r\n.\r\n");
}

TEST(ArticleRecode, AQuotedCharsetWithoutItsClosingQuote) {
    // No closing quote in the field: no charset. The relabelling replaces
    // the parameter up to the field's end.
    EXPECT_EQ(FromServer("Content-Type: text/plain; charset=\"iso-8859-2\r\n\r\nab\r\n.\r\n",
                         Forced("utf-8")),
              "Content-Type: text/plain; charset=\"utf-8\"\r\n\r\nab\r\n.\r\n");
}

TEST(ArticleRecode, AnUnknownCharsetIsReadAs1252) {
    EXPECT_EQ(FromServer("Content-Type: text/plain; charset=x-klingon\r\n\r\n\x80\r\n.\r\n",
                         Forced("utf-8")),
              "Content-Type: text/plain; charset=\"utf-8\"\r\n\r\n\xE2\x82\xAC\r\n.\r\n");
}

TEST(ArticleRecode, TheLastContentTypeLineCountsButTheFirstIsRelabelled) {
    // The scanner keeps the last "Content-Type: " line; FindField finds the
    // first one, which is the one relabelled.
    EXPECT_EQ(
        FromServer("Content-Type: text/html\r\nContent-Type: text/plain; charset=iso-8859-2\r\n"
                   "\r\n\xB1\r\n.\r\n",
                   Forced("utf-8")),
        "Content-Type: text/html;\r\n\tcharset=\"utf-8\"\r\n"
        "Content-Type: text/plain; charset=iso-8859-2\r\n\r\n\xC4\x85\r\n.\r\n");
}

TEST(ArticleRecode, DotStuffedLinesAreConvertedAsTheyStand) {
    EXPECT_EQ(FromServer("Content-Type: text/plain; charset=iso-8859-2\r\n\r\n..\xB1\r\n.\r\n",
                         Forced("utf-8")),
              "Content-Type: text/plain; charset=\"utf-8\"\r\n\r\n..\xC4\x85\r\n.\r\n");
}

TEST(ArticleRecode, AnEmptyBodyIsRelabelled) {
    EXPECT_EQ(FromServer("Subject: s\r\n\r\n.\r\n", Forced("utf-8")),
              "Subject: s\r\nMIME-Version: 1.0\r\nContent-Type: text/plain;\r\n"
              "\tcharset=\"utf-8\"\r\n\r\n.\r\n");
    EXPECT_EQ(FromServer("\r\n.\r\n", Forced("utf-8")),
              "MIME-Version: 1.0\r\nContent-Type: text/plain;\r\n\tcharset=\"utf-8\"\r\n\r\n.\r\n");
}

// --- Transfer encodings (obvious fault F4) ---------------------------------

TEST(ArticleRecodeEncoded, AQuotedPrintableBodyIsDecodedConvertedAndEncodedAgain) {
    EXPECT_EQ(FromServer("Content-Type: text/plain; charset=iso-8859-2\r\n"
                         "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                         "Za=BF=F3=B3=E6 g=EA=B6l=B1 ja=BC=F1\r\n.\r\n",
                         Forced("utf-8")),
              "Content-Type: text/plain; charset=\"utf-8\"\r\n"
              "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
              "Za=C5=BC=C3=B3=C5=82=C4=87 g=C4=99=C5=9Bl=C4=85 ja=C5=BA=C5=84\r\n.\r\n");
}

TEST(ArticleRecodeEncoded, ABase64BodyIsDecodedConvertedAndEncodedAgain) {
    EXPECT_EQ(FromServer("Content-Type: text/plain; charset=iso-8859-2\r\n"
                         "Content-Transfer-Encoding: BASE64\r\n\r\nWmG/87PmDQo=\r\n.\r\n",
                         Forced("utf-8")),
              "Content-Type: text/plain; charset=\"utf-8\"\r\n"
              "Content-Transfer-Encoding: BASE64\r\n\r\nWmHFvMOzxYLEhw0K\r\n.\r\n");
}

TEST(ArticleRecodeEncoded, InTheSameCodePageAnEncodedBodyIsOnlyRelabelled) {
    // utf8 is an alias of utf-8: one code page, the body stays; the
    // footer follows in quoted-printable.
    const std::string body = "Za=C5=BC=\r\n a\r\n";
    EXPECT_EQ(Posted("Content-Type: text/plain; charset=utf8\r\n"
                     "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
                         body + ".\r\n",
                     "utf-8"),
              "Content-Type: text/plain; charset=\"utf-8\"\r\n"
              "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
                  body +
                  "--=20\r\nPrzefiltrowane przez Sitowiak 5.00.00.48\r\n"
                  "http://sitowiak.example/\r\n.\r\n");
}

TEST(ArticleRecodeEncoded, OtherTransferEncodingsAreConvertedAsRawBytes) {
    EXPECT_EQ(FromServer("Content-Type: text/plain; charset=iso-8859-2\r\n"
                         "Content-Transfer-Encoding: 8bit\r\n\r\n\xB1\r\n.\r\n",
                         Forced("utf-8")),
              "Content-Type: text/plain; charset=\"utf-8\"\r\n"
              "Content-Transfer-Encoding: 8bit\r\n\r\n\xC4\x85\r\n.\r\n");
}

// --- Footer ----------------------------------------------------------------

TEST(ArticleFooter, APostedArticleGetsTheFooterBeforeItsTerminatingLine) {
    EXPECT_EQ(
        Posted("From: a@b\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\nTekst\r\n.\r\n",
               ""),
        "From: a@b\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\nTekst\r\n" + Footer() +
            ".\r\n");
}

TEST(ArticleFooter, TheFooterIsConvertedIntoTheArticlesCharset) {
    ArticleOptions o;
    o.productName = "Sit\xC3\xB3wiak";  // the program's texts are UTF-8 (ANSI code page 65001)
    EXPECT_EQ(Posted("Content-Type: text/plain; charset=\"iso-8859-2\"\r\n\r\nx\r\n.\r\n", "", o),
              "Content-Type: text/plain; charset=\"iso-8859-2\"\r\n\r\nx\r\n" +
                  Footer("Sit\xF3wiak") + ".\r\n");
    EXPECT_EQ(Posted("Subject: s\r\n\r\nx\r\n.\r\n", "", o),  // us-ascii: "?"
              "Subject: s\r\n\r\nx\r\n" + Footer("Sit?wiak") + ".\r\n");
}

TEST(ArticleFooter, APostedArticleWithoutCharsetKeepsItsTextAndChangesItsLabel) {
    // Its bytes are taken to be in Kodowanie, whatever they are: even bytes
    // that are not UTF-8 stay.
    ArticleOptions o;
    o.productName = "Sit\xC3\xB3wiak";
    EXPECT_EQ(Posted("Content-Type: text/plain\r\n\r\nZa\xC5\xBC \xFF\r\n.\r\n", "utf-8", o),
              "Content-Type: text/plain;\r\n\tcharset=\"utf-8\"\r\n\r\nZa\xC5\xBC \xFF\r\n" +
                  Footer("Sit\xC3\xB3wiak") + ".\r\n");
    EXPECT_EQ(Posted("Content-Type: text/plain; charset=us-ascii\r\n\r\nZa\xBF\r\n.\r\n",
                     "windows-1250", o),
              "Content-Type: text/plain; charset=\"windows-1250\"\r\n\r\nZa\xBF\r\n" +
                  Footer("Sit\xF3wiak") + ".\r\n");
}

TEST(ArticleFooter, VersionPartsAboveTwoHundredFiftyFiveKeepTheirLowBits) {
    ArticleOptions o;
    o.productVersion = Version(1, 2, 300, 4);
    EXPECT_EQ(Posted("\r\nx\r\n.\r\n", "", o),
              "\r\nx\r\n" + Footer("Sitowiak", "1.02.44.04") + ".\r\n");
}

TEST(ArticleFooter, AnArticleFromTheServerNeverGetsTheFooter) {
    const std::string article = "Subject: s\r\n\r\nx\r\n.\r\n";
    EXPECT_EQ(FromServer(article, {}), article);
}

TEST(ArticleFooter, AnotherTypeGetsNoFooter) {
    const std::string article = "Content-Type: application/octet-stream\r\n\r\nx\r\n.\r\n";
    EXPECT_EQ(Posted(article, "utf-8"), article);
}

// --- HTML --------------------------------------------------------------------

TEST(ArticleStyle, TheFirstEmptyStyleElementBecomesTheLink) {
    ArticleOptions o = Forced("utf-8");
    o.addStyle = true;
    o.addFooter = true;  // never for HTML; the charset is not changed either
    EXPECT_EQ(FromServer("Content-Type: text/html; charset=iso-8859-2\r\n\r\n"
                         "<HEAD><STYLE></STYLE></HEAD>\r\n<STYLE></STYLE>\xB1\r\n.\r\n",
                         o),
              "Content-Type: text/html; charset=iso-8859-2\r\n\r\n<HEAD>" + kLink +
                  "</HEAD>\r\n<STYLE></STYLE>\xB1\r\n.\r\n");
}

TEST(ArticleStyle, TheLinkIsQuotedPrintableOnlyInAQuotedPrintableBody) {
    ArticleOptions o;
    o.addStyle = true;
    EXPECT_EQ(
        FromServer("Content-Type: text/html\r\nContent-Transfer-Encoding: quoted-printable\r\n"
                   "\r\n<STYLE></STYLE>\r\n.\r\n",
                   o),
        "Content-Type: text/html\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" + kLinkQp +
            "\r\n.\r\n");
}

TEST(ArticleStyle, WithoutTheElementOrWithoutAddStyleNothingChanges) {
    ArticleOptions o;
    o.addStyle = true;
    const std::string lower = "Content-Type: text/html\r\n\r\n<style></style>\r\n.\r\n";
    EXPECT_EQ(FromServer(lower, o), lower);  // the search is case-sensitive
    const std::string upper = "Content-Type: text/html\r\n\r\n<STYLE></STYLE>\r\n.\r\n";
    EXPECT_EQ(FromServer(upper, {}), upper);
}

TEST(ArticleStyle, TheLinkWaitsForTheTerminatingLine) {
    ArticleOptions o;
    o.addStyle = true;
    // Without ".\r\n" the link is never inserted.
    const std::string open = "Content-Type: text/html\r\n\r\n<STYLE></STYLE>\r\n";
    EXPECT_EQ(FromServer(open, o), open);
}

// --- Malformed articles --------------------------------------------------

TEST(ArticleMalformed, ANulByteEndsTheScan) {
    ArticleOptions o = Forced("utf-8");
    o.addFooter = true;
    const std::string body = "Subject: s\r\n\r\nab\0c\r\n\xB1\r\n.\r\n"s;
    EXPECT_EQ(FromServer(body, o), body);
    const std::string header = "X: \0\r\n\r\n\xB1\r\n.\r\n"s;
    EXPECT_EQ(FromServer(header, o), header);
}

TEST(ArticleMalformed, ANulAfterTheTerminatingLineDoesNotMatter) {
    ArticleOptions o;
    o.addFooter = true;
    const std::string text = "\r\nx\r\n.\r\n\0junk"s;
    EXPECT_EQ(FromServer(text, o), "\r\nx\r\n" + Footer() + ".\r\n\0junk"s);
}

TEST(ArticleMalformed, NoTerminatingLineMeansNoRewriting) {
    ArticleOptions o = Forced("utf-8");
    o.addFooter = true;
    for (std::string text : {"Subject: s\r\n\r\n\xB1\r\n.", "Subject: s\r\n\r\n\xB1\r\n.\r",
                             "Subject: s\r\n\r\n\xB1", "Subject: s\r\n", "", "\r", "\r\n"})
        EXPECT_EQ(FromServer(text, o), text);
}

TEST(ArticleMalformed, ACarriageReturnWithoutLineFeedIsPartOfTheLine) {
    ArticleOptions o;
    o.addFooter = true;
    EXPECT_EQ(FromServer("Subject: s\r\n\r\nx\r.\r\n.\r\n", o),
              "Subject: s\r\n\r\nx\r.\r\n" + Footer() + ".\r\n");
}

TEST(ArticleMalformed, AHeaderWithoutEmptyLineHasNoBody) {
    ArticleOptions o = Forced("utf-8");
    o.addFooter = true;
    const std::string text = "Subject: s\r\n.\r\nmore\r\n.\r\n";
    EXPECT_EQ(FromServer(text, o), text);
}

TEST(ArticleMalformed, EveryDotLineOfAPlainBodyIsATerminatingLine) {
    // Content after the first ".\r\n" is scanned too; each ".\r\n" line
    // gets the footer (the buffer should hold one article).
    ArticleOptions o;
    o.addFooter = true;
    EXPECT_EQ(FromServer("\r\na\r\n.\r\nb\r\n.\r\n", o),
              "\r\na\r\n" + Footer() + ".\r\nb\r\n" + Footer() + ".\r\n");
}

TEST(ArticleMalformed, AStartBeyondTheEndChangesNothing) {
    TBuforArt buffer;
    Load(buffer, "abc");
    buffer.RewriteArticle(10, "n", "u", 0, "", "utf-8", "", true, true);
    EXPECT_EQ(std::string(buffer.Data(), 3), "abc");
    EXPECT_EQ(buffer.Length(), 3);
}

}  // namespace
}  // namespace sitowiak::filter

namespace sitowiak::filter {
namespace {

using namespace testing;

TEST(ArticleMalformed, GrowthBeyondTheMemoryBudgetEndsTheScanLikeExhaustedMemory) {
    // Not one article: each ".\r\n" line of a plain body gets a footer.
    // The scan ends once the text would pass 4 times its size plus 1 MiB;
    // what was done stays.
    ArticleOptions o;
    o.addFooter = true;
    std::string text = "\r\nx\r\n";
    for (int i = 0; i < 30000; ++i) text += ".\r\n";
    std::string out = Rewrite(text, 0, o);
    EXPECT_LE(out.size(), 4 * text.size() + (1u << 20));
    EXPECT_GT(out.size(), 4 * text.size());
    EXPECT_EQ(out.substr(0, 8 + Footer().size()), "\r\nx\r\n" + Footer() + ".\r\n");
}

}  // namespace
}  // namespace sitowiak::filter

// RewriteArticle on multipart articles: boundary lines, quoting in text/plain
// parts, re-encoding and footers per part, removal of parts by type, the
// preamble skip of multipart/alternative, and parts without a header end.
#include <gtest/gtest.h>

#include "ArticleTestSupport.h"

namespace sitowiak::filter {
namespace {

using namespace testing;

const std::string kLink = std::string("<LINK href=\"http://") + SITOWIAK_STYLE_HOST +
                          "/artykuly.css\" type=text/css rel=stylesheet>";
const std::string kLinkQp = std::string("<LINK href=3D\"http://") + SITOWIAK_STYLE_HOST +
                            "/artykuly.css\" type=3Dtext/css rel=3Dstylesheet>";

const std::string kMixedHeader =
    "From: a@b\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n";

// --- Quoting ---------------------------------------------------------------

// Quoting is part of rewriting an article that something is forced on;
// the style link changes nothing in these parts, so it stands for that.
ArticleOptions Asked() {
    ArticleOptions o;
    o.addStyle = true;
    return o;
}

TEST(MultipartQuoting, LeadingPairsOfSpacesBecomeQuoteMarksInTextParts) {
    const std::string article =
        kMixedHeader +
        "  preamble\r\n"
        "--b1\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\n"
        "  > cytat\r\n    dwa\r\n   trzy\r\n  \r\nno\r\n -- \r\n-- \r\npodpis\r\n"
        "--b1\r\nContent-Type: text/html\r\n\r\n  <p>\r\n"
        "--b1--\r\n  epilog\r\n.\r\n";
    // With nothing asked the article stays exactly as it came, as the relay
    // then passes it unheld.
    EXPECT_EQ(FromServer(article, {}), article);
    EXPECT_EQ(FromServer(article, Asked()),
              kMixedHeader +
                  "  preamble\r\n"
                  "--b1\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\n"
                  ">> cytat\r\n>>dwa\r\n> trzy\r\n>\r\nno\r\n -- \r\n-- \r\npodpis\r\n"
                  "--b1\r\nContent-Type: text/html\r\n\r\n  <p>\r\n"
                  "--b1--\r\n  epilog\r\n.\r\n");
}

TEST(MultipartQuoting, ThePartHeaderIsNotQuoted) {
    const std::string article =
        kMixedHeader +
        "--b1\r\nContent-Type: text/plain\r\n  X-Folded: y\r\n\r\n  x\r\n--b1--\r\n.\r\n";
    EXPECT_EQ(FromServer(article, Asked()),
              kMixedHeader +
                  "--b1\r\nContent-Type: text/plain\r\n  X-Folded: y\r\n\r\n>x\r\n--b1--\r\n.\r\n");
}

TEST(MultipartQuoting, ManyQuotedLinesAreRewrittenInOnePass) {
    std::string lines, quoted;
    for (int i = 0; i < 50000; ++i) {
        lines += "    line " + std::to_string(i) + "\r\n";
        quoted += ">>line " + std::to_string(i) + "\r\n";
    }
    EXPECT_EQ(
        FromServer(
            kMixedHeader + "--b1\r\nContent-Type: text/plain\r\n\r\n" + lines + "--b1--\r\n.\r\n",
            Asked()),
        kMixedHeader + "--b1\r\nContent-Type: text/plain\r\n\r\n" + quoted + "--b1--\r\n.\r\n");
}

// --- Boundaries ------------------------------------------------------------

TEST(MultipartBoundary, AnUnquotedBoundaryIsAToken) {
    // Obvious fault F3: the boundary is "abc", so the signature separator is
    // an ordinary line and no text is removed.
    ArticleOptions o;
    o.forcedContentType = "text/plain";
    const std::string article =
        "Content-Type: multipart/mixed; boundary=abc; x=y\r\n\r\n"
        "--abc\r\nContent-Type: text/plain\r\n\r\ntext\r\n-- \r\nsig\r\n--abc--\r\n.\r\n";
    EXPECT_EQ(FromServer(article, o), article);
}

TEST(MultipartBoundary, TheClosingBoundaryLineIsABoundaryLineToo) {
    ArticleOptions o;
    o.forcedContentType = "text/plain";
    EXPECT_EQ(
        FromServer(kMixedHeader + "--b1\r\nContent-Type: image/png\r\n\r\nPNG\r\n--b1--\r\n.\r\n",
                   o),
        kMixedHeader + "--b1--\r\n.\r\n");
}

TEST(MultipartBoundary, BoundaryLinesCompareWithoutRegardToCase) {
    ArticleOptions o;
    o.forcedContentType = "text/plain";
    EXPECT_EQ(
        FromServer(kMixedHeader + "--B1\r\nContent-Type: image/png\r\n\r\nPNG\r\n--b1--\r\n.\r\n",
                   o),
        kMixedHeader + "--b1--\r\n.\r\n");
}

TEST(MultipartBoundary, AnEmptyQuotedBoundaryMakesEveryDashLineABoundary) {
    ArticleOptions o;
    o.forcedContentType = "text/plain";
    EXPECT_EQ(FromServer("Content-Type: multipart/mixed; boundary=\"\"\r\n\r\n"
                         "--x\r\nContent-Type: text/plain\r\n\r\nt\r\n-- \r\nsig\r\n--x--\r\n.\r\n",
                         o),
              "Content-Type: multipart/mixed; boundary=\"\"\r\n\r\n"
              "--x\r\nContent-Type: text/plain\r\n\r\nt\r\n--x--\r\n.\r\n");
}

TEST(MultipartBoundary, TheBoundaryIsLookedForOnlyInTheContentTypeField) {
    // Without a boundary parameter in the field the boundary stays empty;
    // a "boundary=" in a later header line is not taken.
    ArticleOptions o;
    o.forcedContentType = "text/plain";
    EXPECT_EQ(
        FromServer("Content-Type: multipart/mixed\r\nX-A: boundary=\"q\"\r\n\r\n"
                   "--q\r\nContent-Type: text/plain\r\n\r\nt\r\n--x\r\nbody\r\n--q--\r\n.\r\n",
                   o),
        "Content-Type: multipart/mixed\r\nX-A: boundary=\"q\"\r\n\r\n"
        "--q\r\nContent-Type: text/plain\r\n\r\nt\r\n--q--\r\n.\r\n");
}

// --- multipart/alternative -------------------------------------------------

TEST(MultipartAlternative, ForcedPlainTextKeepsThePlainAlternativeOnly) {
    ArticleOptions o;
    o.forcedContentType = "text/plain";
    o.forcedCharset = "utf-8";
    EXPECT_EQ(FromServer("Content-Type: multipart/alternative; boundary=alt\r\n\r\n"
                         "Preamble --alt here\r\n"
                         "--alt\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\n\xB1\r\n"
                         "--alt\r\nContent-Type: text/html\r\n\r\n<p>x</p>\r\n"
                         "--alt--\r\n.\r\n",
                         o),
              "Content-Type: multipart/alternative; boundary=alt\r\n\r\n"
              "Preamble --alt here\r\n"
              "--alt\r\nContent-Type: text/plain; charset=\"utf-8\"\r\n\r\n\xC4\x85\r\n"
              "--alt--\r\n.\r\n");
}

TEST(MultipartAlternative, ThePreambleSkipFindsTheBoundaryOnlyAtALineStart) {
    // C5: "--a" in the middle of a preamble line is not taken for
    // a boundary line (which, removed as a part without type, would cut the
    // preamble); the skip goes to the first line that begins with "--a".
    ArticleOptions o;
    o.forcedContentType = "text/plain";
    const std::string header = "Content-Type: multipart/alternative; boundary=\"a\"\r\n\r\n";
    EXPECT_EQ(FromServer(header + "see --a here\r\n  pre\r\n"
                                  "--a\r\nContent-Type: text/plain\r\n\r\n  x\r\n--a--\r\n.\r\n",
                         o),
              header +
                  "see --a here\r\n  pre\r\n"
                  "--a\r\nContent-Type: text/plain\r\n\r\n>x\r\n--a--\r\n.\r\n");
}

TEST(MultipartAlternative, ALineThatBeginsWithTheBoundaryIsABoundaryLine) {
    // Prefix comparison: "--ab" begins with "--a".
    ArticleOptions o;
    o.forcedContentType = "text/plain";
    const std::string header = "Content-Type: multipart/alternative; boundary=\"a\"\r\n\r\n";
    EXPECT_EQ(FromServer(header + "--ab\r\n  pre\r\n"
                                  "--a\r\nContent-Type: text/plain\r\n\r\n  x\r\n--a--\r\n.\r\n",
                         o),
              header + "--a\r\nContent-Type: text/plain\r\n\r\n>x\r\n--a--\r\n.\r\n");
}

TEST(MultipartAlternative, WithoutAnyBoundaryLineTheScanEnds) {
    ArticleOptions o;
    o.forcedContentType = "text/plain";
    const std::string article =
        "Content-Type: multipart/alternative; boundary=\"zz\"\r\n\r\n  x --zz\r\n.\r\n";
    EXPECT_EQ(FromServer(article, o), article);
}

TEST(MultipartAlternative, ThePlainAlternativeIsReencodedWithoutRemoval) {
    // This part's Content-Type has no charset and 7-bit text: it is
    // relabelled; the HTML part keeps its charset.
    ArticleOptions o;
    o.forcedCharset = "windows-1250";
    EXPECT_EQ(FromServer("Content-Type: multipart/alternative;\r\n\tboundary=\"alt\"\r\n\r\n"
                         "--alt\r\nContent-Type: text/plain\r\n\r\nab\r\n"
                         "--alt\r\nContent-Type: text/html; charset=utf-8\r\n\r\n\xC4\x85\r\n"
                         "--alt--\r\n.\r\n",
                         o),
              "Content-Type: multipart/alternative;\r\n\tboundary=\"alt\"\r\n\r\n"
              "--alt\r\nContent-Type: text/plain;\r\n\tcharset=\"windows-1250\"\r\n\r\nab\r\n"
              "--alt\r\nContent-Type: text/html; charset=utf-8\r\n\r\n\xC4\x85\r\n"
              "--alt--\r\n.\r\n");
}

// --- Removal by type ---------------------------------------------------------

TEST(MultipartRemoval, APartWithoutContentTypeIsRemovedWhenATypeIsForced) {
    ArticleOptions o;
    o.forcedContentType = "TEXT/PLAIN";  // compared without regard to case
    EXPECT_EQ(
        FromServer(kMixedHeader + "--b1\r\nContent-Type: text/plain\r\n\r\na\r\n"
                                  "--b1\r\nX-No-Type: 1\r\n\r\nb\r\n"
                                  "--b1\r\nContent-Type: text/html\r\n\r\nc\r\n"
                                  "--b1\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nd\r\n"
                                  "--b1--\r\nepilogue\r\n.\r\n",
                   o),
        kMixedHeader +
            "--b1\r\nContent-Type: text/plain\r\n\r\na\r\n"
            "--b1\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nd\r\n"
            "--b1--\r\nepilogue\r\n.\r\n");
}

TEST(MultipartRemoval, NothingIsRemovedWithoutAForcedType) {
    const std::string article = kMixedHeader + "--b1\r\nX: 1\r\n\r\nb\r\n--b1--\r\n.\r\n";
    EXPECT_EQ(FromServer(article, {}), article);
}

// --- Re-encoding, footer and style per part -------------------------------

TEST(MultipartRecode, EachTextPartIsReencodedAndRelabelledInItsOwnHeader) {
    ArticleOptions o;
    o.forcedCharset = "utf-8";
    EXPECT_EQ(
        FromServer(kMixedHeader +
                       "--b1\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\n\xB1\r\n"
                       "--b1\r\nContent-Type: text/plain; charset=\"windows-1250\"\r\n\r\n\xB9\r\n"
                       "--b1\r\nContent-Type: application/octet-stream\r\n\r\n\xB9\r\n"
                       "--b1--\r\n.\r\n",
                   o),
        kMixedHeader +
            "--b1\r\nContent-Type: text/plain; charset=\"utf-8\"\r\n\r\n\xC4\x85\r\n"
            "--b1\r\nContent-Type: text/plain; charset=\"utf-8\"\r\n\r\n\xC4\x85\r\n"
            "--b1\r\nContent-Type: application/octet-stream\r\n\r\n\xB9\r\n"
            "--b1--\r\n.\r\n");
}

TEST(MultipartRecode, AQuotedPrintablePartIsEncodedAgain) {
    ArticleOptions o;
    o.forcedCharset = "utf-8";
    EXPECT_EQ(
        FromServer(kMixedHeader + "--b1\r\nContent-Type: text/plain; charset=iso-8859-2\r\n"
                                  "Content-Transfer-Encoding: quoted-printable\r\n\r\n=B1=\r\nx\r\n"
                                  "--b1--\r\n.\r\n",
                   o),
        kMixedHeader +
            "--b1\r\nContent-Type: text/plain; charset=\"utf-8\"\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n\r\n=C4=85x\r\n"
            "--b1--\r\n.\r\n");
}

TEST(MultipartFooter, APostedMultipartArticleGetsTheFooterAtTheEndOfEachTextPart) {
    EXPECT_EQ(
        Posted(kMixedHeader + "--b1\r\nContent-Type: text/plain\r\n\r\n  a\r\n"
                              "--b1\r\nContent-Type: image/gif\r\n\r\nGIF\r\n"
                              "--b1\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\nb\r\n"
                              "--b1--\r\n.\r\n",
               ""),
        kMixedHeader + "--b1\r\nContent-Type: text/plain\r\n\r\n  a\r\n" + Footer() +
            "--b1\r\nContent-Type: image/gif\r\n\r\nGIF\r\n"
            "--b1\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\nb\r\n" +
            Footer() + "--b1--\r\n.\r\n");
}

TEST(MultipartFooter, TheFooterOfAPartIsInThePartsForcedCharset) {
    ArticleOptions o;
    o.productName = "Sit\xC3\xB3wiak";
    EXPECT_EQ(
        Posted(
            kMixedHeader +
                "--b1\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\nb\r\n--b1--\r\n.\r\n",
            "windows-1250", o),
        kMixedHeader + "--b1\r\nContent-Type: text/plain; charset=\"windows-1250\"\r\n\r\nb\r\n" +
            Footer("Sit\xF3wiak") + "--b1--\r\n.\r\n");
}

TEST(MultipartStyle, TheHtmlPartGetsTheLinkInItsOwnTransferEncoding) {
    ArticleOptions o;
    o.addStyle = true;
    EXPECT_EQ(
        FromServer(
            kMixedHeader +
                "--b1\r\nContent-Type: text/html\r\n\r\n<STYLE></STYLE>\r\n"
                "--b1\r\nContent-Type: text/html\r\nContent-Transfer-Encoding: Quoted-Printable\r\n"
                "\r\n<STYLE></STYLE>\r\n--b1--\r\n.\r\n",
            o),
        kMixedHeader + "--b1\r\nContent-Type: text/html\r\n\r\n" + kLink +
            "\r\n--b1\r\nContent-Type: text/html\r\nContent-Transfer-Encoding: Quoted-Printable\r\n"
            "\r\n" +
            kLinkQp + "\r\n--b1--\r\n.\r\n");
}

// --- A part whose header has no empty line ---------------------------------

TEST(MultipartOpenHeader, APartWithoutHeaderEndIsNotRewrittenButMayBeRemoved) {
    const std::string part1 = "--b1\r\nContent-Type: text/plain\r\n  x\r\n";
    const std::string part2 = "--b1\r\nContent-Type: text/plain\r\n\r\n  y\r\n";
    EXPECT_EQ(Posted(kMixedHeader + part1 + part2 + "--b1--\r\n.\r\n", "utf-8"),
              kMixedHeader + part1 +
                  "--b1\r\nContent-Type: text/plain;\r\n\tcharset=\"utf-8\"\r\n\r\n  y\r\n" +
                  Footer() + "--b1--\r\n.\r\n");
    ArticleOptions o;
    o.forcedContentType = "text/html";
    o.addStyle = true;
    EXPECT_EQ(
        FromServer(kMixedHeader + "--b1\r\nContent-Type: text/html\r\n<STYLE></STYLE>\r\n" + part2 +
                       "--b1--\r\n.\r\n",
                   o),
        kMixedHeader + "--b1\r\nContent-Type: text/html\r\n<STYLE></STYLE>\r\n--b1--\r\n.\r\n");
}

// --- Nested multipart -------------------------------------------------------

// What a mail client writes for an HTML message with attachments:
// depth 1 is multipart/alternative{text/plain, text/html}; each further
// depth wraps it in multipart/mixed{..., application/pdf}. The flags leave
// parts out, to write what the filter should make of it.
std::string Nested(int depth, bool plain, bool html, bool pdf, const std::string& text) {
    std::string body = "Content-Type: multipart/alternative;\r\n boundary=\"alt-1\"\r\n\r\n";
    if (plain)
        body +=
            "--alt-1\r\nContent-Type: text/plain; charset=iso-8859-2; format=flowed\r\n"
            "Content-Transfer-Encoding: 8bit\r\n\r\n" +
            text;
    if (html) body += "--alt-1\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<p>x</p>\r\n";
    body += "--alt-1--\r\n";
    for (int level = 2; level <= depth; ++level) {
        std::string b = "mix-" + std::to_string(level);
        body = "Content-Type: multipart/mixed; boundary=\"" + b +
               "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n--" + b + "\r\n" + body +
               "\r\n" +
               (pdf ? "--" + b +
                          "\r\nContent-Type: application/pdf; name=\"a.pdf\"\r\n"
                          "Content-Transfer-Encoding: base64\r\n\r\nJVBERi0xLjQK\r\n"
                    : "") +
               "--" + b + "--\r\n  epilogue\r\n";
    }
    return "From: a@b\r\nMIME-Version: 1.0\r\n" + body + ".\r\n";
}

TEST(MultipartNested, ThePartRulesApplyAtEveryDepth) {
    for (int depth = 1; depth <= 3; ++depth) {
        const std::string article = Nested(depth, true, true, true, "  \xB1\r\n");
        // Quoting in the nested text part; epilogues and attachments stay.
        EXPECT_EQ(FromServer(article, Asked()), Nested(depth, true, true, true, ">\xB1\r\n"))
            << depth;
        ArticleOptions o;
        o.forcedContentType = "text/plain";
        o.forcedCharset = "utf-8";
        std::string plain = Nested(depth, true, false, false, ">\xC4\x85\r\n");
        size_t at = plain.find("charset=iso-8859-2");
        plain.replace(at, 18, "charset=\"utf-8\"");
        EXPECT_EQ(FromServer(article, o), plain) << depth;
        o.forcedContentType = "text/html";
        o.forcedCharset.clear();
        EXPECT_EQ(FromServer(article, o), Nested(depth, false, true, false, "")) << depth;
        o.forcedContentType = "application/pdf";
        std::string pdfOnly = FromServer(article, o);
        // Depth 1 keeps none of its parts; deeper, the whole alternative
        // part goes and the attachments stay.
        if (depth == 1) {
            EXPECT_EQ(pdfOnly, Nested(1, false, false, false, ""));
        } else {
            EXPECT_EQ(pdfOnly.find("--alt-1"), std::string::npos) << pdfOnly;
            EXPECT_NE(pdfOnly.find("JVBERi0xLjQK"), std::string::npos) << pdfOnly;
        }
    }
}

TEST(MultipartNested, AnOuterBoundaryLineClosesTheNestedParts) {
    // No closing line for the inner boundary: the outer one ends the html
    // part, which is removed like any other.
    ArticleOptions o;
    o.forcedContentType = "text/plain";
    const std::string head =
        "Content-Type: multipart/mixed; boundary=\"out\"\r\n\r\n"
        "--out\r\nContent-Type: multipart/alternative; boundary=\"in\"\r\n\r\n"
        "--in\r\nContent-Type: text/plain\r\n\r\nx\r\n";
    EXPECT_EQ(
        FromServer(head + "--in\r\nContent-Type: text/html\r\n\r\n<p>\r\n--out--\r\n.\r\n", o),
        head + "--out--\r\n.\r\n");
    // An inner boundary that only begins like the outer one is not it.
    const std::string similar =
        "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
        "--b\r\nContent-Type: multipart/alternative; boundary=\"b2\"\r\n\r\n"
        "--b2\r\nContent-Type: text/plain\r\n\r\n  x\r\n--b2--\r\n--b--\r\n.\r\n";
    std::string quoted = similar;
    quoted.replace(quoted.find("  x"), 3, ">x");
    EXPECT_EQ(FromServer(similar, o), quoted);
}

TEST(MultipartNested, PartsBelowSixteenLevelsPassWhole) {
    // n multipart levels, the innermost holding a text/plain and an html part.
    auto deep = [](int n, const std::string& inner) {
        std::string body = inner;
        for (int level = n; level >= 1; --level) {
            std::string b = "L" + std::to_string(level);
            body = "Content-Type: multipart/mixed; boundary=" + b + "\r\n\r\n--" + b + "\r\n" +
                   body + "--" + b + "--\r\n";
        }
        return body;
    };
    const std::string parts =
        "Content-Type: multipart/alternative; boundary=in\r\n\r\n"
        "--in\r\nContent-Type: text/plain\r\n\r\n  x\r\n"
        "--in\r\nContent-Type: text/html\r\n\r\n<p>\r\n--in--\r\n";
    const std::string rewritten =
        "Content-Type: multipart/alternative; boundary=in\r\n\r\n"
        "--in\r\nContent-Type: text/plain\r\n\r\n>x\r\n--in--\r\n";
    ArticleOptions o;
    o.forcedContentType = "text/plain";
    // 15 levels around it: its own is the 16th, still rewritten.
    EXPECT_EQ(FromServer(deep(15, parts) + ".\r\n", o), deep(15, rewritten) + ".\r\n");
    // 16 around it: it is the 17th and passes as it came, kept.
    EXPECT_EQ(FromServer(deep(16, parts) + ".\r\n", o), deep(16, parts) + ".\r\n");
}

}  // namespace
}  // namespace sitowiak::filter

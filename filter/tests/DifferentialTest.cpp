// The one-pass rewriter against the one-edit-at-a-time rewriting
// (ReferenceRewriter.h), on generated articles that mix every kind of line
// the rewriting distinguishes. Also the corpus of generated articles is what
// the bench and the fuzzer seeds are made from.
#include <gtest/gtest.h>

#include <random>

#include "ArticleTestSupport.h"
#include "ReferenceRewriter.h"

namespace sitowiak::filter {
namespace {

using namespace testing;
using namespace std::string_literals;

const char* const kHeaderLines[] = {
    "From: a@b",
    "Subject: test",
    "Content-Type: text/plain",
    "Content-Type: text/plain; charset=iso-8859-2",
    "Content-Type: text/plain; charset=\"utf-8\"",
    "Content-Type: text/plain; charset=UTF-8; format=flowed",
    "Content-Type: text/plain; charset=\"windows-1250",
    "Content-Type: text/plain;",
    "Content-Type: TEXT/PLAIN; CHARSET=koi8-r",
    "Content-Type: text/html; charset=iso-8859-2",
    "Content-Type: multipart/mixed; boundary=\"B\"",
    "Content-Type: multipart/mixed; boundary=B",
    "Content-Type: multipart/alternative; boundary=\"B\"",
    "Content-Type: multipart/alternative;",
    "Content-Type: multipart/mixed; boundary=\"\"",
    "Content-Type:  text/plain",
    "content-type: text/plain; charset=windows-1250",
    "\tcharset=\"iso-8859-2\"",
    " boundary=B",
    " charset=utf-8",
    "\tx=y",
    "Content-Transfer-Encoding: quoted-printable",
    "Content-Transfer-Encoding: base64",
    "Content-Transfer-Encoding: 8bit",
    "X-Note: charset=koi8-r boundary=\"C\"",
    "Content-Type: text/plain; charset=us-ascii",
    "Content-Type: text/plain; charset=x-unknown",
};

const char* const kBodyLines[] = {
    "text",
    "  indented",
    "    twice",
    "   three",
    "  ",
    "",
    "..dot",
    ".",
    "-- ",
    "--B",
    "--B--",
    "--b",
    "--",
    "<STYLE></STYLE>",
    "<p><STYLE></STYLE></p>",
    "=B1=",
    "=C4=85 qp",
    "\xB1\xE6 bytes",
    "\xC4\x85 utf8",
    "Content-Type: text/plain",
    "Content-Type: text/plain; charset=iso-8859-2",
    "Content-Type: text/html",
    "Content-Type: image/png",
    "Content-Transfer-Encoding: quoted-printable",
    "Content-Transfer-Encoding: base64",
    "x\ry",
    "charset=x",
    "WmG/87PmDQo=",
    "\x80\x81\x82",
    " \t ",
    "Content-Type: multipart/alternative; boundary=\"C\"",
    "Content-Type: multipart/mixed; boundary=B",
    "--C",
    "--C--",
    "--C-- \t",
    "--Cx",
    "--B--",
    "WmE=",
    "WmFi",
    "ab=",
    "=ybegin line=128 size=3 name=a",
    "=yend size=3",
    "begin 644 a.txt",
    "end",
    "\xFF\x3D\x40",
};

std::string Pick(std::mt19937& rng, const char* const* items, size_t count) {
    return items[std::uniform_int_distribution<size_t>(0, count - 1)(rng)];
}

// Nested multipart as mail clients write it, with parts of every kind the
// rules tell apart, lines of the generic kinds in their bodies, and now and
// then a closing boundary line left out.
std::string Nested(std::mt19937& rng, int depth, int level = 0) {
    const char* const kLeafHeaders[] = {
        "Content-Type: text/plain; charset=iso-8859-2\r\n",
        "Content-Type: text/plain; charset=\"utf-8\"\r\nContent-Transfer-Encoding: base64\r\n",
        "Content-Type: text/plain; charset=windows-1250\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n",
        "Content-Type: text/plain\r\n",
        "Content-Type: text/html; charset=utf-8\r\n",
        "Content-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n",
        "X-No-Type: 1\r\n",
    };
    std::string boundary = "n" + std::to_string(level);
    std::string out = std::string("Content-Type: multipart/") +
                      (rng() % 2 ? "mixed" : "alternative") + "; boundary=\"" + boundary +
                      "\"\r\n\r\n";
    if (rng() % 2) out += Pick(rng, kBodyLines, std::size(kBodyLines)) + "\r\n";
    int parts = static_cast<int>(rng() % 4);
    for (int i = 0; i < parts; ++i) {
        out += "--" + boundary + "\r\n";
        if (level + 1 < depth && rng() % 2) {
            out += Nested(rng, depth, level + 1);
            continue;
        }
        out += Pick(rng, kLeafHeaders, std::size(kLeafHeaders)) + "\r\n";
        int lines = static_cast<int>(rng() % 4);
        for (int j = 0; j < lines; ++j)
            out += Pick(rng, kBodyLines, std::size(kBodyLines)) + "\r\n";
    }
    if (rng() % 8) out += "--" + boundary + "--\r\n";
    if (rng() % 2) out += "  epilogue\r\n";
    return out;
}

std::string Article(std::mt19937& rng) {
    std::uniform_int_distribution<int> percent(0, 99);
    if (percent(rng) < 30)
        return "From: a@b\r\n" + Nested(rng, 1 + static_cast<int>(rng() % 4)) + ".\r\n";
    std::string a;
    int headers = std::uniform_int_distribution<int>(0, 5)(rng);
    for (int i = 0; i < headers; ++i)
        a += Pick(rng, kHeaderLines, std::size(kHeaderLines)) + "\r\n";
    if (percent(rng) < 90) a += "\r\n";
    int lines = std::uniform_int_distribution<int>(0, 40)(rng);
    for (int i = 0; i < lines; ++i) a += Pick(rng, kBodyLines, std::size(kBodyLines)) + "\r\n";
    int end = percent(rng);
    if (end < 80)
        a += ".\r\n";
    else if (end < 85)
        a += ".";
    else if (end < 90)
        a += ".\r\nafter\r\n.\r\n";
    else if (end < 93)
        a += "a\0b\r\n.\r\n"s;
    return a;
}

std::string RunReference(const std::string& text, size_t start, const ReferenceInputs& in) {
    TBuforDyn b;
    Load(b, text);
    ReferenceRewriter(b, start, in).Run();
    return std::string(b.Data(), static_cast<size_t>(b.Length()));
}

TEST(Differential, OnePassRewritingEqualsEditingOneStepAtATime) {
    std::mt19937 rng(20261207);
    const char* forced[] = {"", "", "utf-8", "windows-1250", "iso-8859-2", "us-ascii", "foo"};
    const char* source[] = {"", "", "", "utf-8", "windows-1250"};
    const char* types[] = {"", "", "text/plain", "text/html", "TEXT/", "multipart/"};
    for (int i = 0; i < 4000; ++i) {
        std::string article = Article(rng);
        bool status = rng() % 2;
        std::string text = (status ? kStatus : "") + article;
        size_t start = status ? kStatus.size() : 0;
        ArticleOptions o;
        o.forcedCharset = forced[rng() % std::size(forced)];
        o.sourceCharset = source[rng() % std::size(source)];
        o.forcedContentType = types[rng() % std::size(types)];
        o.addFooter = rng() % 2;
        o.addStyle = rng() % 2;
        if (rng() % 4 == 0) o.productName = "Sit\xC3\xB3wiak";
        ReferenceInputs in{o.productName,   o.productUrl,    o.productVersion,
                           o.sourceCharset, o.forcedCharset, o.forcedContentType,
                           o.addFooter,     o.addStyle,      SITOWIAK_STYLE_HOST};
        std::string expected = RunReference(text, start, in);
        ASSERT_EQ(Rewrite(text, start, o), expected)
            << "case " << i << " forced=" << o.forcedCharset << " source=" << o.sourceCharset
            << " type=" << o.forcedContentType << " footer=" << o.addFooter
            << " style=" << o.addStyle << "\n"
            << ::testing::PrintToString(text);
    }
}

}  // namespace
}  // namespace sitowiak::filter

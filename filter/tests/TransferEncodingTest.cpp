// Quoted-printable and base64 bodies, decoded and encoded again when a text
// body is re-encoded into another charset.
#include <gtest/gtest.h>

#include <vector>

#include "filter/TransferEncoding.h"

namespace sitowiak::filter {
namespace {

TEST(QuotedPrintable, DecodesEscapesSoftBreaksAndPadding) {
    EXPECT_EQ(DecodeQuotedPrintable("Za=BF=f3 \r\nx=\r\ny\r\n"), "Za\xBF\xF3\r\nxy\r\n");
    EXPECT_EQ(DecodeQuotedPrintable("a=ZZ=\r\n"), "a=ZZ");           // malformed "=" stays
    EXPECT_EQ(DecodeQuotedPrintable("..x\r\n.\r\n"), ".x\r\n\r\n");  // dot-stuffing undone
}

TEST(QuotedPrintable, EncodesWithShortLinesAndNoLeadingDot) {
    EXPECT_EQ(EncodeQuotedPrintable("Za\xC5\xBC\r\n"), "Za=C5=BC\r\n");
    EXPECT_EQ(EncodeQuotedPrintable("a = b \r\n"), "a =3D b=20\r\n");
    EXPECT_EQ(EncodeQuotedPrintable(".x\r\n"), "=2Ex\r\n");
    EXPECT_EQ(EncodeQuotedPrintable("no end"), "no end=\r\n");
    EXPECT_EQ(EncodeQuotedPrintable(""), "");
    std::string longLine(100, 'x');
    EXPECT_EQ(EncodeQuotedPrintable(longLine + "\r\n"),
              std::string(75, 'x') + "=\r\n" + std::string(25, 'x') + "\r\n");
}

TEST(QuotedPrintable, RoundTripsAnyBytes) {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    bytes += "\r\n.\r\n  \r\nend";
    EXPECT_EQ(DecodeQuotedPrintable(EncodeQuotedPrintable(bytes)), bytes);
}

TEST(Base64, DecodesAndEncodesWithLinesOf76) {
    EXPECT_EQ(DecodeBase64("WmG/87PmDQo=\r\n"), "Za\xBF\xF3\xB3\xE6\r\n");
    EXPECT_EQ(EncodeBase64("Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87\r\n"), "WmHFvMOzxYLEhw0K\r\n");
    EXPECT_EQ(EncodeBase64(""), "");
    EXPECT_EQ(EncodeBase64("a"), "YQ==\r\n");
    std::string bytes(120, 'z');
    std::string encoded = EncodeBase64(bytes);
    EXPECT_EQ(encoded.find("\r\n"), 76u);
    EXPECT_EQ(DecodeBase64(encoded), bytes);
}

TEST(Base64, SkipsBytesOutsideTheAlphabet) {
    EXPECT_EQ(DecodeBase64("Wm G/\r\n.87P*mDQo"), "Za\xBF\xF3\xB3\xE6\r\n");
    EXPECT_EQ(DecodeBase64("YQ"), "a");
    EXPECT_EQ(DecodeBase64("Y"), "");
}

// Text added to an encoded body: the body decodes to what it held, a line
// break when that did not end with one, and the text; the bytes before
// `keep` are the body's own.
std::string Expected(const std::string& held, const std::string& text) {
    bool lineOpen = !held.empty() && held.back() != '\n';
    return held + (lineOpen ? "\r\n" : "") + text;
}

TEST(EncodedAppendix, Base64BodiesOfEveryLengthAndLineLayoutDecodeToTextPlusFooter) {
    const std::string footer = "-- \r\nPrzefiltrowane przez Sit\xC3\xB3wiak\r\n";
    for (size_t n = 0; n < 40; ++n) {
        for (bool lineEnd : {false, true}) {
            std::string held;
            for (size_t i = 0; i < n; ++i) held += static_cast<char>('a' + i % 26);
            if (lineEnd) held += "\r\n";
            std::string one = EncodeBase64(held);
            // The same characters in lines of 6 (a padded group can span a
            // line break) and with transport padding after the last line.
            std::string chars, six;
            for (char c : one)
                if (c != '\r' && c != '\n') chars += c;
            for (size_t i = 0; i < chars.size(); i += 6) six += chars.substr(i, 6) + "\r\n";
            for (const std::string& body : {one, six, one + " \r\n"}) {
                EncodedAppendix a = AppendToBase64(body, footer);
                ASSERT_LE(a.keep, body.size());
                std::string result = body.substr(0, a.keep) + a.text;
                EXPECT_EQ(DecodeBase64(result), Expected(held, footer))
                    << ::testing::PrintToString(body);
                EXPECT_TRUE(result.ends_with("\r\n"));
                if (body.find('=') == std::string::npos) {
                    EXPECT_EQ(a.keep, body.size());
                }
            }
        }
    }
}

TEST(EncodedAppendix, QuotedPrintableBodiesGetEncodedLinesAfterAHardBreak) {
    const std::string footer = "-- \r\nPrzefiltrowane przez Sit\xF3wiak\r\n";
    for (const std::string& held :
         std::vector<std::string>{"", "Za\xBF\xF3\r\n", "Za\xBF\xF3", std::string(100, 'x'),
                                  std::string(100, 'x') + "\r\n", "a=b \r\nc"}) {
        std::string body = EncodeQuotedPrintable(held);
        EncodedAppendix a = AppendToQuotedPrintable(body, footer);
        EXPECT_EQ(a.keep, body.size());
        EXPECT_EQ(DecodeQuotedPrintable(body + a.text), Expected(held, footer))
            << ::testing::PrintToString(body);
    }
    // Transport padding after a soft break still makes it soft.
    EncodedAppendix a = AppendToQuotedPrintable("ab= \t\r\n", "x\r\n");
    EXPECT_EQ(a.text, "\r\nx\r\n");
}

}  // namespace
}  // namespace sitowiak::filter

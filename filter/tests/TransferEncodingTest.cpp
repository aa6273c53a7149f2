// Quoted-printable and base64 bodies, decoded and encoded again when a text
// body is re-encoded into another charset.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace sitowiak::filter

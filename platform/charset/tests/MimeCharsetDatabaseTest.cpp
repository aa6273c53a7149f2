#include <gtest/gtest.h>

#include "platform/charset/MimeCharsetDatabase.h"

namespace sitowiak::platform {
namespace {

int64_t EncodingOf(std::string_view name) {
    const MimeCharset* entry = FindMimeCharset(name);
    if (entry == nullptr) return -2;
    if (!entry->AliasForCharset.empty()) {
        entry = FindMimeCharset(entry->AliasForCharset);
        if (entry == nullptr) return -2;
    }
    return entry->InternetEncoding;
}

TEST(MimeCharsetDatabase, CanonicalNamesCarryTheirWindowsCodePages) {
    EXPECT_EQ(EncodingOf("us-ascii"), 20127);
    EXPECT_EQ(EncodingOf("utf-8"), 65001);
    for (int cp = 1250; cp <= 1258; ++cp)
        EXPECT_EQ(EncodingOf("windows-" + std::to_string(cp)), cp);
    const int iso[] = {28591, 28592, 28593, 28594, 28595, 28596, 28597, 28598,
                       28599, 28600, 28601, 0,     28603, 28604, 28605, 28606};
    for (int n = 1; n <= 16; ++n) {
        if (n == 12) {
            EXPECT_EQ(EncodingOf("iso-8859-12"), -2);
            continue;
        }
        EXPECT_EQ(EncodingOf("iso-8859-" + std::to_string(n)), iso[n - 1]) << n;
    }
    EXPECT_EQ(EncodingOf("koi8-r"), 20866);
    EXPECT_EQ(EncodingOf("koi8-u"), 21866);
    EXPECT_EQ(EncodingOf("ibm852"), 852);
    EXPECT_EQ(EncodingOf("ibm850"), 850);
    EXPECT_EQ(EncodingOf("x-mac-ce"), 10029);
    EXPECT_EQ(EncodingOf("macintosh"), 10000);
    EXPECT_EQ(EncodingOf("shift_jis"), 932);
    EXPECT_EQ(EncodingOf("euc-jp"), 51932);
    EXPECT_EQ(EncodingOf("iso-2022-jp"), 50220);
    EXPECT_EQ(EncodingOf("gb2312"), 936);
    EXPECT_EQ(EncodingOf("gbk"), 936);
    EXPECT_EQ(EncodingOf("big5"), 950);
    EXPECT_EQ(EncodingOf("euc-kr"), 51949);
}

TEST(MimeCharsetDatabase, AliasesThatArticlesCarryResolveInOneStep) {
    EXPECT_EQ(EncodingOf("latin1"), 28591);
    EXPECT_EQ(EncodingOf("latin2"), 28592);
    EXPECT_EQ(EncodingOf("utf8"), 65001);
    EXPECT_EQ(EncodingOf("ascii"), 20127);
    EXPECT_EQ(EncodingOf("cp1250"), 1250);
    EXPECT_EQ(EncodingOf("x-cp1250"), 1250);
    EXPECT_EQ(EncodingOf("iso8859-2"), 28592);
    EXPECT_EQ(EncodingOf("iso_8859-2"), 28592);
    EXPECT_EQ(EncodingOf("iso_8859-2:1987"), 28592);
    EXPECT_EQ(EncodingOf("latin9"), 28605);
    EXPECT_EQ(EncodingOf("sjis"), 932);
}

TEST(MimeCharsetDatabase, NamesCompareWithoutRegardToCase) {
    EXPECT_EQ(EncodingOf("UTF-8"), 65001);
    EXPECT_EQ(EncodingOf("ISO-8859-2"), 28592);
    EXPECT_EQ(EncodingOf("Windows-1250"), 1250);
    EXPECT_EQ(EncodingOf("LATIN2"), 28592);
    const MimeCharset* entry = FindMimeCharset("Iso-8859-2");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->Name, "iso-8859-2");  // the entry keeps its own spelling
}

TEST(MimeCharsetDatabase, UnknownAndEmptyNamesHaveNoEntry) {
    EXPECT_EQ(FindMimeCharset(""), nullptr);
    EXPECT_EQ(FindMimeCharset("x-unknown"), nullptr);
    EXPECT_EQ(FindMimeCharset("utf-8 "), nullptr);  // exact name, no trimming
    EXPECT_EQ(FindMimeCharset(std::string(200, 'a')), nullptr);
    EXPECT_EQ(FindMimeCharset(std::string_view("utf-8\0", 6)), nullptr);
}

TEST(MimeCharsetDatabase, EveryAliasNamesAnEntryWithItsOwnEncoding) {
    // The reader follows one step only, so an alias of an alias would fall
    // back to 1252: the built-in table has none.
    for (const MimeCharset& entry : BuiltInMimeCharsets()) {
        if (entry.AliasForCharset.empty()) {
            EXPECT_GT(entry.InternetEncoding, 0) << entry.Name;
            continue;
        }
        const MimeCharset* target = FindMimeCharset(entry.AliasForCharset);
        ASSERT_NE(target, nullptr) << entry.Name;
        EXPECT_TRUE(target->AliasForCharset.empty()) << entry.Name;
        EXPECT_GT(target->InternetEncoding, 0) << entry.Name;
    }
}

TEST(MimeCharsetDatabase, NamesAreUniqueIgnoringCase) {
    auto table = BuiltInMimeCharsets();
    for (const MimeCharset& entry : table)
        EXPECT_EQ(FindMimeCharset(table, entry.Name), &entry) << entry.Name;
}

TEST(MimeCharsetDatabase, ACustomTableIsSearchedTheSameWay) {
    const MimeCharset table[] = {{"a", "b", -1}, {"b", {}, 1250}};
    EXPECT_EQ(FindMimeCharset(table, "A"), &table[0]);
    EXPECT_EQ(FindMimeCharset(table, "c"), nullptr);
    EXPECT_EQ(FindMimeCharset(table, ""), nullptr);
}

}  // namespace
}  // namespace sitowiak::platform

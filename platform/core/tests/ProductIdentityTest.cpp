#include <gtest/gtest.h>

#include "platform/core/ProductIdentity.h"

namespace sitowiak::platform {
namespace {

uint64_t Version(uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
    return (a << 48) | (b << 32) | (c << 16) | d;
}

TEST(ProductIdentity, ReadsTheProgramsOwnBlock) {
    ProductIdentity id;
    ASSERT_TRUE(ReadVersionInfo(ProgramFile(), id));
    EXPECT_EQ(id.ProductName, "Sitowiak");
    EXPECT_EQ(id.ProductVersion, Version(5, 0, 0, 48));
    EXPECT_FALSE(id.ProductUrl.empty());
    EXPECT_FALSE(id.LegalCopyright.empty());
    EXPECT_GT(id.versionInfoSize, 0);
    FreeVersionInfo(id);
    EXPECT_EQ(id.versionInfoSize, 0);
}

TEST(ProductIdentity, AFileWithoutBlockLeavesEverythingEmpty) {
    ProductIdentity id;
    id.ProductName = "stale";
    id.ProductVersion = 7;
    EXPECT_FALSE(ReadVersionInfo("/bin/sh", id));
    EXPECT_EQ(id.ProductName, "");
    EXPECT_EQ(id.ProductUrl, "");
    EXPECT_EQ(id.ProductVersion, 0u);
    EXPECT_EQ(id.versionInfoSize, 0);
}

TEST(ProductIdentity, FormatProductVersionKeepsLowEightBitsOfEachPart) {
    EXPECT_EQ(FormatProductVersion(Version(5, 0, 0, 48)), "5.00.00.48");
    EXPECT_EQ(FormatProductVersion(Version(1, 2, 3, 4)), "1.02.03.04");
    EXPECT_EQ(FormatProductVersion(Version(1, 2, 300, 4)), "1.02.44.04");
    EXPECT_EQ(FormatProductVersion(Version(0xFFFF, 255, 0, 100)), "255.255.00.100");
    // A release part above 32767 must not spill into major and minor.
    EXPECT_EQ(FormatProductVersion(Version(3, 7, 40000, 1)), "3.07.64.01");
    EXPECT_EQ(FormatProductVersion(0), "0.00.00.00");
}

}  // namespace
}  // namespace sitowiak::platform

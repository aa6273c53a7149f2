#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/core/VersionBlock.h"

namespace sitowiak::platform {
namespace {

std::filesystem::path SelfPath() {
    return std::filesystem::read_symlink("/proc/self/exe");
}

TEST(VersionBlock, TheTestProgramCarriesTheProductsBlock) {
    uint32_t size = GetFileVersionInfoSize(SelfPath());
    ASSERT_GT(size, 0u);
    std::vector<char> block;
    ASSERT_TRUE(GetFileVersionInfo(SelfPath(), size, block));
    std::string_view view(block.data(), block.size());
    auto fixed = VerQueryFixed(view);
    ASSERT_TRUE(fixed);
    EXPECT_EQ(fixed->productVersionMS, 0x00050000u);
    EXPECT_EQ(fixed->productVersionLS, 0x00000030u);
    auto translations = VerQueryTranslations(view);
    ASSERT_EQ(translations.size(), 1u);
    EXPECT_EQ(translations[0], 0x04E20415u);
    EXPECT_EQ(VerQueryString(view, "\\StringFileInfo\\041504E2\\ProductName"), "Sitowiak");
    EXPECT_EQ(VerQueryString(view, "\\StringFileInfo\\041504e2\\productname"), "Sitowiak");
    EXPECT_FALSE(VerQueryString(view, "\\StringFileInfo\\040904B0\\ProductName"));
    EXPECT_FALSE(VerQueryString(view, "\\StringFileInfo\\041504E2\\Missing"));
}

TEST(VersionBlock, FilesWithoutABlockHaveNoVersionInformation) {
    EXPECT_EQ(GetFileVersionInfoSize("/nonexistent/file"), 0u);
    EXPECT_EQ(GetFileVersionInfoSize("/bin/sh"), 0u);
    char pattern[] = "/tmp/vb-XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    // A truncated ELF header and plain text must both read as "no block".
    ASSERT_EQ(write(fd,
                    "\x7f"
                    "ELF\x02\x01\x01",
                    7),
              7);
    close(fd);
    EXPECT_EQ(GetFileVersionInfoSize(pattern), 0u);
    std::ofstream(pattern) << "SITOWIAK-VERSIONINFO 1\nProductName=fake\n";
    EXPECT_EQ(GetFileVersionInfoSize(pattern), 0u);
    std::filesystem::remove(pattern);
    EXPECT_FALSE(VerQueryFixed("not a block"));
}

TEST(VersionBlock, VersionTextParsesIntoHalves) {
    uint32_t ms = 0, ls = 0;
    ASSERT_TRUE(ParseVersionText("1.2.40000.300", ms, ls));
    EXPECT_EQ(ms, 0x00010002u);
    EXPECT_EQ(ls, (40000u << 16) | 300u);
    ASSERT_TRUE(ParseVersionText("7", ms, ls));
    EXPECT_EQ(ms, 0x00070000u);
    EXPECT_FALSE(ParseVersionText("1.70000", ms, ls));
    EXPECT_FALSE(ParseVersionText("1..2", ms, ls));
    EXPECT_FALSE(ParseVersionText("1.2.3.4.5", ms, ls));
}

}  // namespace
}  // namespace sitowiak::platform

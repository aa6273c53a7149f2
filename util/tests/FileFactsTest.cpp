#include <gtest/gtest.h>
#include <utime.h>

#include <ctime>
#include <filesystem>

#include "util/FileFacts.h"
#include "util/tests/TestEnvironment.h"

namespace sitowiak::util {
namespace {

TEST(FileFacts, DateIsThePackedLocalTimeOfTheLastWrite) {
    testing::TempHome home;
    home.SetEnv("TZ", "UTC");
    ::tzset();
    std::string file = home.Path("f");
    testing::WriteFile(file, "abc");
    struct utimbuf times {
        1700000001, 1700000001
    };  // 2023-11-14 22:13:21 UTC
    ASSERT_EQ(::utime(file.c_str(), &times), 0);
    uint32_t date = (2023 - 1980) << 9 | 11 << 5 | 14, time = 22 << 11 | 13 << 5 | 21 / 2;
    EXPECT_EQ(FileDate(file), static_cast<int32_t>(date << 16 | time));
    times = {100, 100};  // 1970: before the packed form begins
    ASSERT_EQ(::utime(file.c_str(), &times), 0);
    EXPECT_EQ(FileDate(file), -1);
    EXPECT_EQ(FileSize(file), 3);
    for (const std::string& other : {home.Path("missing"), home.Root()}) {
        EXPECT_EQ(FileDate(other), -1);
        EXPECT_EQ(FileSize(other), -1);
    }
    home.SetEnv("TZ", "");
    ::tzset();
}

TEST(FileFacts, VersionsCompareHalvesAsSignedNumbers) {
    FileVersionHalves v1_2{0x00010002, 0}, v1_10{0x0001000A, 0};
    EXPECT_EQ(CompareVersions(v1_2, v1_10), -1);
    EXPECT_EQ(CompareVersions(v1_10, v1_2), 1);
    EXPECT_EQ(CompareVersions(v1_2, v1_2), 0);
    EXPECT_EQ(CompareVersions({1, 5}, {1, 7}), -1);
    // A major part of 32768 or more makes the high half negative.
    EXPECT_EQ(CompareVersions({0x80000000, 0}, {0x00010000, 0}), -1);
    EXPECT_TRUE(FileVersion("/bin/sh").IsZero());
}

TEST(FileFacts, ShortPathsAndTempFilesExistOrAreEmpty) {
    testing::TempHome home;
    std::filesystem::create_symlink(home.Path("TMPDIR"), home.Path("link"));
    std::string tmp = std::filesystem::canonical(home.Path("TMPDIR")).string();
    EXPECT_EQ(ShortPath(home.Path("link/../link")), tmp);
    EXPECT_EQ(ShortPath(home.Path("missing")), "");
    std::string a = NewTempFileName(), b = NewTempFileName();
    EXPECT_NE(a, b);
    EXPECT_EQ(a.compare(0, tmp.size() + 3, tmp + "/pt"), 0) << a;
    EXPECT_EQ(FileSize(a), 0);
    home.SetEnv("TMPDIR", home.Path("no/such/folder"));
    EXPECT_EQ(NewTempFileName(), "");
}

}  // namespace
}  // namespace sitowiak::util

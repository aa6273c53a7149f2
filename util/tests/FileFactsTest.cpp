#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "util/FileFacts.h"
#include "util/Modules.h"
#include "util/tests/TestEnvironment.h"

namespace sitowiak::util {
namespace {

using testing::TempHome;

void SetModificationTime(const std::string& file, time_t when) {
    struct utimbuf times {
        when, when
    };
    ASSERT_EQ(::utime(file.c_str(), &times), 0);
}

TEST(FileFacts, DateIsThePackedLocalTimeOfTheLastWrite) {
    TempHome home;
    home.SetEnv("TZ", "UTC");
    ::tzset();
    std::string file = home.Path("f");
    testing::WriteFile(file, "abc");
    SetModificationTime(file, 1700000001);  // 2023-11-14 22:13:21 UTC
    uint32_t date = (2023 - 1980) << 9 | 11 << 5 | 14;
    uint32_t time = 22 << 11 | 13 << 5 | 21 / 2;
    EXPECT_EQ(FileDate(file), static_cast<int32_t>(date << 16 | time));
    SetModificationTime(file, 100);  // 1970: before the packed form begins
    EXPECT_EQ(FileDate(file), -1);
    home.SetEnv("TZ", "");
    ::tzset();
}

TEST(FileFacts, MissingFilesAndFoldersHaveNeitherDateNorSize) {
    TempHome home;
    testing::WriteFile(home.Path("f"), "abc");
    EXPECT_EQ(FileSize(home.Path("f")), 3);
    EXPECT_EQ(FileSize(home.Path("missing")), -1);
    EXPECT_EQ(FileDate(home.Path("missing")), -1);
    EXPECT_EQ(FileSize(home.Root()), -1);
    EXPECT_EQ(FileDate(home.Root()), -1);
}

TEST(FileFacts, VersionComesFromTheVersionBlock) {
    EXPECT_EQ(FileVersion(ModulePath(nullptr)), (FileVersionHalves{0x00050000, 0x00000030}));
    EXPECT_TRUE(FileVersion("/bin/sh").IsZero());
    EXPECT_TRUE(FileVersion("/nonexistent").IsZero());
}

TEST(FileFacts, VersionsCompareHalvesAsSignedNumbers) {
    FileVersionHalves v1_2{0x00010002, 0}, v1_10{0x0001000A, 0};
    EXPECT_EQ(CompareVersions(v1_2, v1_10), -1);
    EXPECT_EQ(CompareVersions(v1_10, v1_2), 1);
    EXPECT_EQ(CompareVersions(v1_2, v1_2), 0);
    EXPECT_EQ(CompareVersions({1, 5}, {1, 7}), -1);
    // A major part of 32768 or more makes the high half negative.
    EXPECT_EQ(CompareVersions({0x80000000, 0}, {0x00010000, 0}), -1);
}

TEST(FileFacts, ShortPathIsTheCanonicalPathOfAnExistingFile) {
    TempHome home;
    testing::WriteFile(home.Path("dir/f"), "x");
    std::filesystem::create_symlink(home.Path("dir"), home.Path("link"));
    std::string canonical = std::filesystem::canonical(home.Path("dir/f")).string();
    EXPECT_EQ(ShortPath(home.Path("link/../dir/f")), canonical);
    EXPECT_EQ(ShortPath(home.Path("link/f")), canonical);
    EXPECT_EQ(ShortPath(home.Path("dir/missing")), "");
    EXPECT_EQ(ShortPath(""), "");
}

TEST(FileFacts, TempFileNamesAreNewEmptyFilesInTheTempFolder) {
    TempHome home;
    std::string a = NewTempFileName(), b = NewTempFileName();
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    std::string folder = std::filesystem::canonical(home.Path("TMPDIR")).string() + "/pt";
    EXPECT_EQ(a.compare(0, folder.size(), folder), 0) << a;
    EXPECT_EQ(FileSize(a), 0);
    home.SetEnv("TMPDIR", home.Path("no/such/folder"));
    EXPECT_EQ(NewTempFileName(), "");
}

}  // namespace
}  // namespace sitowiak::util

#include <gtest/gtest.h>

#include "util/Folders.h"
#include "util/tests/TestEnvironment.h"

namespace sitowiak::util {
namespace {

bool Inside(const std::string& inner, const std::string& outer) {
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0;
}

TEST(Folders, WellKnownFoldersKeepTheRelationsOfTheWindowsOnes) {
    testing::TempHome home;
    std::string w = WindowsFolder(), s = SystemFolder(), p = ProgramFilesFolder(),
                c = CommonFilesFolder();
    EXPECT_TRUE(Inside(s, w)) << s << " " << w;
    for (const std::string& a : {w, p, c})
        for (const std::string& b : {w, p, c}) EXPECT_FALSE(Inside(a, b)) << a << " in " << b;
    EXPECT_EQ(p, "/opt/");
    EXPECT_EQ(c, "/usr/local/");
    EXPECT_EQ(TempFolder(), home.Path("TMPDIR/"));
    EXPECT_EQ(GetSpecialFolder(nullptr, CSIDL_PROGRAM_FILES), "/opt");
    EXPECT_EQ(GetSpecialFolder(nullptr, 0x7777), "");
    EXPECT_EQ(WithTrailingSeparator(""), "");
}

TEST(Folders, ProgramFilesFallsThroughEmptySettings) {
    testing::TempHome home;
    testing::SetWindowsSetting("ProgramFilesDir", "");
    testing::SetWindowsSetting("ProgramFilesPath", "/srv/programs");
    EXPECT_EQ(ProgramFilesFolder(), "/srv/programs/");
    testing::SetWindowsSetting("ProgramFilesPath", "");
    EXPECT_EQ(ProgramFilesFolder(), "/opt/");
    testing::SetWindowsSetting("ProgramFilesDir", "/srv/p/");
    EXPECT_EQ(ProgramFilesFolder(), "/srv/p/");
}

TEST(Folders, ForceFoldersCreatesEveryMissingParent) {
    testing::TempHome home;
    EXPECT_TRUE(ForceFolders(home.Path("a/b/c")));
    EXPECT_TRUE(ForceFolders(home.Path("a/b/c/")));
    testing::WriteFile(home.Path("file"), "x");
    EXPECT_FALSE(ForceFolders(home.Path("file/sub/")));
    EXPECT_FALSE(ForceFolders(""));
}

}  // namespace
}  // namespace sitowiak::util

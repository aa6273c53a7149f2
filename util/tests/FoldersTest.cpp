#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/core/Registry.h"
#include "util/Folders.h"
#include "util/tests/TestEnvironment.h"

namespace sitowiak::util {
namespace {

using testing::TempHome;

bool Inside(const std::string& inner, const std::string& outer) {
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0;
}

TEST(Folders, TrailingSeparatorIsAddedOnceAndNeverToAnEmptyText) {
    EXPECT_EQ(WithTrailingSeparator("/opt"), "/opt/");
    EXPECT_EQ(WithTrailingSeparator("/opt/"), "/opt/");
    EXPECT_EQ(WithTrailingSeparator(""), "");
}

TEST(Folders, WellKnownFoldersKeepTheRelationsOfTheWindowsOnes) {
    TempHome home;
    std::string w = WindowsFolder(), s = SystemFolder(), p = ProgramFilesFolder(),
                c = CommonFilesFolder();
    EXPECT_TRUE(Inside(s, w)) << s << " " << w;
    for (const std::string& a : {w, p, c})
        for (const std::string& b : {w, p, c}) EXPECT_FALSE(Inside(a, b)) << a << " in " << b;
    EXPECT_FALSE(Inside(s, p) || Inside(s, c));
    for (const std::string& f : {w, s, p, c, TempFolder()}) EXPECT_EQ(f.back(), '/');
    EXPECT_EQ(p, "/opt/");
    EXPECT_EQ(c, "/usr/local/");
    EXPECT_EQ(TempFolder(), home.Path("TMPDIR/"));
}

TEST(Folders, ProgramFilesFallsThroughEmptySettings) {
    TempHome home;
    testing::SetWindowsSetting("ProgramFilesDir", "");
    testing::SetWindowsSetting("ProgramFilesPath", "/srv/programs");
    EXPECT_EQ(ProgramFilesFolder(), "/srv/programs/");
    testing::SetWindowsSetting("ProgramFilesPath", "");
    EXPECT_EQ(ProgramFilesFolder(), "/opt/");
    testing::SetWindowsSetting("ProgramFilesDir", "/srv/p/");
    EXPECT_EQ(ProgramFilesFolder(), "/srv/p/");
    testing::SetWindowsSetting("CommonFilesDir", "/srv/common");
    EXPECT_EQ(CommonFilesFolder(), "/srv/common/");
}

TEST(Folders, AHiveThatMayNotBeWrittenGivesTheDefaults) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may write any file";
    TempHome home;
    testing::SetWindowsSetting("ProgramFilesDir", "/srv/p");
    ::chmod(platform::HiveFile(platform::RegRoot::kLocalMachine).c_str(), 0444);
    EXPECT_EQ(ReadWindowsSetting("ProgramFilesDir"), "");
    EXPECT_EQ(ProgramFilesFolder(), "/opt/");
}

TEST(Folders, SpecialFoldersFollowTheXdgVariables) {
    TempHome home;
    EXPECT_EQ(GetSpecialFolder(nullptr, CSIDL_STARTUP), home.Path("XDG_CONFIG_HOME/autostart"));
    EXPECT_EQ(GetSpecialFolder(nullptr, CSIDL_PROGRAM_FILES), "/opt");
    EXPECT_EQ(GetSpecialFolder(nullptr, 0x7777), "");
    home.SetEnv("XDG_CONFIG_HOME", "");
    EXPECT_EQ(GetSpecialFolder(nullptr, CSIDL_STARTUP), home.Path("HOME/.config/autostart"));
}

TEST(Folders, ForceFoldersCreatesEveryMissingParent) {
    TempHome home;
    EXPECT_TRUE(ForceFolders(home.Path("a/b/c")));
    EXPECT_TRUE(ForceFolders(home.Path("a/b/c/")));
    testing::WriteFile(home.Path("file"), "x");
    EXPECT_FALSE(ForceFolders(home.Path("file/sub/")));
    EXPECT_FALSE(ForceFolders(""));
    EXPECT_TRUE(ForceFolders("/"));
}

}  // namespace
}  // namespace sitowiak::util

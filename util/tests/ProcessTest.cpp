#include <gtest/gtest.h>

#include <cerrno>

#include "util/Process.h"
#include "util/tests/TestEnvironment.h"

namespace sitowiak::util {
namespace {

TEST(Process, TheProgramsOwnFolderIsSearchedBeforePath) {
    testing::TempHome home;
    testing::WriteScript(home.Path("own/tool"), "exit 0");
    testing::WriteScript(home.Path("bin/tool"), "exit 0");
    testing::WriteFile(home.Path("bin/plain"), "not executable");
    home.SetEnv("PATH", home.Path("empty") + ":" + home.Path("bin"));
    EXPECT_EQ(FindProgram("tool", home.Path("own")), home.Path("own/tool"));
    EXPECT_EQ(FindProgram("tool", home.Path("other")), home.Path("bin/tool"));
    EXPECT_EQ(FindProgram("plain", ""), "");
    EXPECT_EQ(FindProgram("missing", home.Path("own")), "");
    EXPECT_EQ(FindProgram(home.Path("own/tool"), ""), home.Path("own/tool"));
}

TEST(Process, ExitCodesAndArgumentsReachTheCaller) {
    testing::TempHome home;
    std::string script = home.Path("dir with space/tool");
    testing::WriteScript(script, "printf '%s|' \"$@\" > \"$(dirname \"$0\")/args\"; exit 3");
    pid_t pid = StartProgram(script, {"a b", "-d/x y/"});
    ASSERT_GT(pid, 0);
    EXPECT_EQ(WaitForProgram(pid), 3);
    EXPECT_EQ(testing::ReadFile(home.Path("dir with space/args")), "a b|-d/x y/|");
    int error = 0;
    EXPECT_EQ(StartProgram(home.Path("missing"), {}, &error), -1);
    EXPECT_EQ(error, ENOENT);
}

}  // namespace
}  // namespace sitowiak::util

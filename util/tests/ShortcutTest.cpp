#include <gtest/gtest.h>

#include "util/Folders.h"
#include "util/Shortcut.h"
#include "util/tests/TestEnvironment.h"

namespace sitowiak::util {
namespace {

TEST(Shortcut, ArgumentsAreSplitAsOnWindowsAndQuotedForExec) {
    EXPECT_EQ(SplitCommandLine(" a  \"b c\"d \"\" "), (std::vector<std::string>{"a", "b cd", ""}));
    // Characters the Exec key reserves, and the string escapes on top of them.
    EXPECT_EQ(DesktopEntryText("/a$b/p", "\"x%y\\z\"", "N"),
              "[Desktop Entry]\nType=Application\nName=N\n"
              "Exec=\"/a\\\\$b/p\" \"x%%y\\\\\\\\z\"\nPath=/a$b/\n");
}

TEST(Shortcut, AnOlderEntryIsReplaced) {
    testing::TempHome home;
    ASSERT_TRUE(CreateShortcut(nullptr, CSIDL_STARTUP, "/opt/s/sitowiak", "\"-d/opt/s/\"", "S"));
    ASSERT_TRUE(CreateShortcut(nullptr, CSIDL_STARTUP, "/opt/t/sitowiak", "", "S"));
    EXPECT_EQ(testing::ReadFile(home.Path("XDG_CONFIG_HOME/autostart/S.desktop")),
              DesktopEntryText("/opt/t/sitowiak", "", "S"));
}

}  // namespace
}  // namespace sitowiak::util

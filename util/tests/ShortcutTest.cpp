#include <gtest/gtest.h>

#include "util/Folders.h"
#include "util/Shortcut.h"
#include "util/tests/TestEnvironment.h"

namespace sitowiak::util {
namespace {

TEST(Shortcut, CommandLineWordsAreGroupedByDoubleQuotes) {
    EXPECT_EQ(SplitCommandLine("\"-d/a b/\""), std::vector<std::string>{"-d/a b/"});
    EXPECT_EQ(SplitCommandLine(" a  \"b c\"d \"\" "), (std::vector<std::string>{"a", "b cd", ""}));
    EXPECT_TRUE(SplitCommandLine("").empty());
}

TEST(Shortcut, EntryQuotesTheProgramAndEachArgument) {
    EXPECT_EQ(DesktopEntryText("/opt/My Apps/sitowiak", "\"-d/opt/My Apps/\"", "Sitowiak"),
              "[Desktop Entry]\nType=Application\nName=Sitowiak\n"
              "Exec=\"/opt/My Apps/sitowiak\" \"-d/opt/My Apps/\"\n"
              "Path=/opt/My Apps/\n");
    // Characters the Exec key reserves, and the string escapes on top of them.
    EXPECT_EQ(DesktopEntryText("/a$b/p", "\"x%y\\z\"", "N"),
              "[Desktop Entry]\nType=Application\nName=N\n"
              "Exec=\"/a\\\\$b/p\" \"x%%y\\\\\\\\z\"\nPath=/a$b/\n");
}

TEST(Shortcut, CreateShortcutWritesAndReplacesTheAutostartEntry) {
    testing::TempHome home;
    std::string entry = home.Path("XDG_CONFIG_HOME/autostart/Sitowiak.desktop");
    ASSERT_TRUE(
        CreateShortcut(nullptr, CSIDL_STARTUP, "/opt/s/sitowiak", "\"-d/opt/s/\"", "Sitowiak"));
    EXPECT_EQ(testing::ReadFile(entry),
              DesktopEntryText("/opt/s/sitowiak", "\"-d/opt/s/\"", "Sitowiak"));
    ASSERT_TRUE(CreateShortcut(nullptr, CSIDL_STARTUP, "/opt/t/sitowiak", "", "Sitowiak"));
    EXPECT_EQ(testing::ReadFile(entry), DesktopEntryText("/opt/t/sitowiak", "", "Sitowiak"));
}

TEST(Shortcut, AnEntryThatCannotBeWrittenIsReported) {
    testing::TempHome home;
    testing::WriteFile(home.Path("XDG_CONFIG_HOME/autostart"), "a file in the way");
    EXPECT_FALSE(CreateShortcut(nullptr, CSIDL_STARTUP, "/opt/s/sitowiak", "", "Sitowiak"));
    EXPECT_FALSE(CreateShortcut(nullptr, 0x7777, "/opt/s/sitowiak", "", "Sitowiak"));
}

}  // namespace
}  // namespace sitowiak::util

#include <filesystem>
#include <functional>
#include <utility>

#include "package/tests/PackageTestSupport.h"
#include "platform/core/Registry.h"
#include "platform/gui/MessageBox.h"
#include "proxy/modes/RegistrationMode.h"
#include "util/Process.h"
#include "util/Shortcut.h"

namespace sitowiak::proxy {
namespace {

using util::testing::ReadFile;

// The "program" is a script that records how it was started.
class RegistrationModeTest : public package::testing::PackageTest {
protected:
    RegistrationModeTest()
        : m_folder(m_home.Path("Mój Program Dir/")), m_copy(m_folder + "sitowiak") {
        util::testing::WriteScript(m_copy, "printf '%s|' \"$@\" > \"$(dirname \"$0\")/started\"");
    }

    // Runs the mode and waits for the second copy; its arguments, or "<none>".
    std::string RunAndCollect(int platformId = kPlatformWindowsNt) {
        pid_t pid = RegistrationMode(m_copy, platformId).Run();
        if (pid < 0) return "<none>";
        util::WaitForProgram(pid);
        return ReadFile(m_folder + "started");
    }
    std::string Entry() const {
        return ReadFile(m_home.Path("XDG_CONFIG_HOME/autostart/Sitowiak.desktop"));
    }

    std::string m_folder, m_copy;
};

TEST_F(RegistrationModeTest, AFolderWithSpacesStaysOneQuotedArgument) {
    EXPECT_EQ(RegistrationMode(m_copy).AutostartArgument(), "\"-d" + m_folder + "\"");
    EXPECT_EQ(RunAndCollect(), "-d" + m_folder + "|");
    EXPECT_EQ(Entry(), util::DesktopEntryText(m_copy, "\"-d" + m_folder + "\"", "Sitowiak"));
    EXPECT_NE(Entry().find("Exec=\"" + m_copy + "\" \"-d" + m_folder + "\"\n"), std::string::npos);
    EXPECT_EQ(BoxTexts(),
              std::vector<std::string>{"Rejestracja zakończona|sitowiak został zarejestrowany."});
    EXPECT_EQ(m_boxes[0].flags, platform::MB_OK);
    EXPECT_FALSE(std::filesystem::exists(platform::HiveFile(platform::RegRoot::kLocalMachine)));
}

// Without a registry the failure is a file the user can mend: the box names
// it and the reason under the line the documentation knows.
TEST_F(RegistrationModeTest, AnEntryThatCannotBeWrittenIsReportedAndTheCopyStillStarts) {
    std::string folder = m_home.Path("XDG_CONFIG_HOME/autostart");
    std::string entry = folder + "/Sitowiak.desktop";
    const std::vector<std::pair<std::function<void()>, std::string>> obstacles = {
        {[&] { util::testing::WriteFile(folder, "in the way"); },
         entry + ": nie można utworzyć folderu: to nie jest folder"},
        {[&] { std::filesystem::create_directories(entry + "/in the way"); },
         entry + ": nie można zastąpić pliku: to jest folder"},
        {[&] { m_home.SetEnv("XDG_CONFIG_HOME", ""), m_home.SetEnv("HOME", ""); },
         "Sitowiak.desktop: brak folderu nr 7 w tym systemie"},
    };
    for (const auto& [obstacle, reason] : obstacles) {
        std::filesystem::remove_all(folder);
        obstacle();
        m_boxes.clear();
        EXPECT_EQ(RunAndCollect(), "-d" + m_folder + "|");
        EXPECT_EQ(BoxTexts(),
                  (std::vector<std::string>{"Błąd|Błąd podczas modyfikacji rejestru.\n" + reason,
                                            "Błąd rejestracji|Któregoś z komponentów nie udało się "
                                            "zarejestrować. Rejestracja wstrzymana !"}));
        EXPECT_EQ(m_boxes[0].flags, platform::MB_OK);
        EXPECT_EQ(m_boxes[1].flags, platform::MB_OK | platform::MB_ICONERROR);
    }
}

TEST_F(RegistrationModeTest, OtherPlatformsUseTheRunServicesValue) {
    EXPECT_EQ(RunAndCollect(1), "-d" + m_folder + "|");
    using platform::RegRoot;
    auto value = platform::OpenHive(RegRoot::kLocalMachine)
                     .ReadValue(platform::FullKeyPath(
                                    RegRoot::kLocalMachine,
                                    "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices"),
                                "sitowiak");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->data, "\"" + m_copy + "\" \"-d" + m_folder + "\"");
    EXPECT_EQ(Entry(), "<missing>");
    EXPECT_EQ(BoxTexts().size(), 1u);
}

TEST_F(RegistrationModeTest, ACopyThatCannotStartIsReportedAfterTheRegistration) {
    std::filesystem::remove(m_copy);
    EXPECT_EQ(RunAndCollect(), "<none>");
    EXPECT_EQ(BoxTexts(),
              (std::vector<std::string>{"Rejestracja zakończona|sitowiak został zarejestrowany.",
                                        "Błąd|Nie udało się w tym momencie uruchomić serwera"}));
}

}  // namespace
}  // namespace sitowiak::proxy

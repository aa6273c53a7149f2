#include <filesystem>
#include <utility>

#include "package/tests/PackageTestSupport.h"
#include "platform/gui/MessageBox.h"
#include "proxy/modes/DistributionMode.h"
#include "util/Process.h"

namespace sitowiak::proxy {
namespace {

using util::testing::ReadFile;

class DistributionModeTest : public package::testing::PackageTest {};

TEST_F(DistributionModeTest, AFailedFileEndsWithTheTransferError) {
    util::testing::WriteScript(m_home.Path("tools/compress"), "exit 1");
    package::PackageContext context = Context(m_home.Path("tree/"));
    context.toolFolder = m_home.Path("tools");
    EXPECT_FALSE(RunDistribution(context));
    ASSERT_EQ(m_boxes.size(), 3u);
    EXPECT_EQ(m_boxes[2].caption, "Błąd transferu");
    EXPECT_EQ(m_boxes[2].text,
              "Przynajmniej jednego z plików nie udało się wysłać. Instalacja wstrzymana !");
    EXPECT_EQ(m_boxes[2].flags, platform::MB_OK | platform::MB_ICONERROR);
}

// The modes as the program's entry runs them, in a process of their own.
class ModesDriverTest : public package::testing::PackageTest {
protected:
    ModesDriverTest() : m_driver(m_home.Path("Program Dir/driver")) {
        std::filesystem::copy_file(SITOWIAK_MODES_DRIVER, m_driver);
        m_home.SetEnv("PATH", std::string(SITOWIAK_TOOL_FOLDER) + ":/usr/bin:/bin");
        m_home.SetEnv("SITOWIAK_DRIVER_LOG", m_home.Path("driver.log"));
        m_home.SetEnv("QT_QPA_PLATFORM", "");
        m_home.SetEnv("DISPLAY", "");
        m_home.SetEnv("WAYLAND_DISPLAY", "");
    }

    // Runs the driver through the shell under `umask`, expects `exitCode`
    // and returns its standard error.
    std::string Run(const std::string& arguments, int exitCode = 0,
                    const std::string& umask = "022", const std::string& folder = "") {
        std::string err = m_home.Path("stderr");
        std::string command = "umask " + umask + "; " +
                              (folder.empty() ? "" : "cd '" + folder + "' && ") + "\"$0\" " +
                              arguments + " 2>\"$1\"";
        pid_t pid = util::StartProgram("/bin/sh", {"-c", command, m_driver, err});
        EXPECT_EQ(util::WaitForProgram(pid), exitCode) << arguments;
        return ReadFile(err);
    }

    std::string m_driver;
};

TEST_F(ModesDriverTest, DistributionFillsTheTreeOnceAndProjectModeWritesTheIwz) {
    std::string tree = m_home.Path("tree/");
    Run("-nainternet '" + tree + "'");
    EXPECT_EQ(ReadFile(tree + "start.start"), "~" + m_driver + ",Sitowiak\r\n");
    auto first = package::testing::Snapshot(tree);
    EXPECT_EQ(first.size(), 6u);  // content, three markers, two lists
    Run("-nainternet '" + tree + "'");
    EXPECT_EQ(package::testing::Snapshot(tree), first);

    Run("-nainternet is");
    EXPECT_EQ(ReadFile(m_driver + ".iwz").rfind("[InstallShield Wizard]\r\n", 0), 0u);
}

// A tree is published for others to read (a web server, another account),
// and a release script learns from the exit code whether it is complete.
TEST_F(ModesDriverTest, TheTreeIsReadableByOthersAndAFailedRunExitsWith1) {
    for (auto [umask, mode] : {std::pair{"022", 0644u}, std::pair{"077", 0600u}}) {
        std::string tree = m_home.Path("tree" + std::string(umask) + "/");
        std::filesystem::remove(m_driver + ".iwz");
        Run("-nainternet '" + tree + "'", 0, umask);
        Run("-nainternet is", 0, umask);
        auto files = package::testing::Snapshot(tree);
        files[m_driver + ".iwz"];
        EXPECT_EQ(files.size(), 7u);
        for (const auto& [file, content] : files) {
            std::string path = file.starts_with("/") ? file : tree + file;
            EXPECT_EQ(std::filesystem::status(path).permissions(),
                      static_cast<std::filesystem::perms>(mode))
                << umask << " " << path;
        }
    }

    std::string tree = m_home.Path("tree/");
    std::string compressor = m_home.Path("Program Dir/compress");  // found before PATH's
    util::testing::WriteScript(compressor, "exit 1");
    std::string err = Run("-nainternet '" + tree + "'", 1);
    EXPECT_NE(err.find("Ostrzeżenie\nNie można skompresować pliku źródłowego \"" + m_driver +
                       "\"\nOstrzeżenie\nNie można skopiować pliku " + m_driver +
                       " (driver)\nBłąd transferu\nPrzynajmniej jednego z plików nie udało się "
                       "wysłać. Instalacja wstrzymana !\n"),
              std::string::npos)
        << err;
    std::filesystem::remove(compressor);
    util::testing::WriteFile(m_home.Path("blocked"), "a file where the tree should be");
    err = Run("-nainternet '" + m_home.Path("blocked/") + "'", 1);
    EXPECT_NE(err.find("Błąd transferu\n"), std::string::npos) << err;
    err = Run("-nainternet '" + tree + "'");  // Qt may still add notes of its own
    EXPECT_EQ(err.find("Ostrzeżenie"), std::string::npos) << err;
    EXPECT_EQ(err.find("Błąd transferu"), std::string::npos) << err;
}

TEST_F(ModesDriverTest, RegistrationReportsOnStandardErrorAndStartsTheProxy) {
    std::string err = Run("-zarejestruj");
    // Qt may add notes of its own; the box is the caption line and the text line.
    EXPECT_NE(err.find("Rejestracja zakończona\ndriver został zarejestrowany.\n"),
              std::string::npos)
        << err;
    EXPECT_NE(ReadFile(m_home.Path("XDG_CONFIG_HOME/autostart/Sitowiak.desktop")), "<missing>");
    std::string log = m_home.Path("driver.log");
    // The second copy runs on its own: wait until its line is written whole.
    for (int i = 0; i < 500 && !ReadFile(log).ends_with("\n"); ++i) ::usleep(10000);
    EXPECT_EQ(ReadFile(log), "normal|-d" + m_home.Path("Program Dir/") + "\n");
}

// A failed registration and a missing tree end with exit code 1, and no
// folder "~" appears where the program was started; a quoted "~/" is the
// home folder.
TEST_F(ModesDriverTest, FailuresExitWith1AndTheTreeIsNeverTheCurrentFolder) {
    util::testing::WriteFile(m_home.Path("XDG_CONFIG_HOME/autostart"), "in the way");
    std::string err = Run("-zarejestruj", 1);
    EXPECT_NE(err.find("Rejestracja wstrzymana !"), std::string::npos) << err;

    const std::string work = m_home.Path("work");
    std::filesystem::create_directories(work);
    err = Run("-nainternet", 1, "022", work);
    EXPECT_NE(err.find("Nie podano folderu drzewa dystrybucji"), std::string::npos) << err;
    EXPECT_TRUE(std::filesystem::is_empty(work));

    m_home.SetEnv("HOME", m_home.Path("home"));
    Run("-nainternet '~/tree/'", 0, "022", work);
    EXPECT_TRUE(std::filesystem::is_empty(work));
    EXPECT_EQ(ReadFile(m_home.Path("home/tree/start.start")), "~" + m_driver + ",Sitowiak\r\n");
}

}  // namespace
}  // namespace sitowiak::proxy

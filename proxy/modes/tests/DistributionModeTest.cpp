#include <filesystem>

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

    // Runs the driver through the shell and returns its standard error.
    std::string Run(const std::string& arguments) {
        std::string err = m_home.Path("stderr");
        pid_t pid = util::StartProgram("/bin/sh",
                                       {"-c", "\"$0\" " + arguments + " 2>\"$1\"", m_driver, err});
        EXPECT_EQ(util::WaitForProgram(pid), 0);
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

TEST_F(ModesDriverTest, RegistrationReportsOnStandardErrorAndStartsTheProxy) {
    std::string err = Run("-zarejestruj");
    // Qt may add notes of its own; the box is the caption line and the text line.
    EXPECT_NE(err.find("Rejestracja zakończona\ndriver został zarejestrowany.\n"),
              std::string::npos)
        << err;
    EXPECT_NE(ReadFile(m_home.Path("XDG_CONFIG_HOME/autostart/Sitowiak.desktop")), "<missing>");
    std::string log = m_home.Path("driver.log");
    for (int i = 0; i < 200 && ReadFile(log) == "<missing>"; ++i) ::usleep(10000);
    EXPECT_EQ(ReadFile(log), "normal|-d" + m_home.Path("Program Dir/") + "\n");
}

}  // namespace
}  // namespace sitowiak::proxy

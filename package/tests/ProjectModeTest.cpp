#include <filesystem>

#include "package/PackageBuilder.h"
#include "package/ProjectMode.h"
#include "package/tests/PackageTestSupport.h"
#include "util/FileFacts.h"
#include "util/IniFile.h"

namespace sitowiak::package {
namespace {

using util::testing::ReadFile;

class ProjectModeTest : public testing::PackageTest {
protected:
    ProjectModeTest() {
        util::testing::SetWindowsSetting("ProgramFilesDir", m_home.Path("Program Files"));
        m_program = m_home.Path("Program Files/Sitowiak/sitowiak");
        CopyProgram(m_program);
    }

    bool Describe(const std::string& file) {
        return PackageBuilder(Context("is")).BuildPackage(file);
    }
    util::IniFile Project() const { return util::IniFile(ProjectFileName(m_program)); }
    std::string Read(const std::string& section, const std::string& key) const {
        return Project().ReadString(section, key, "<missing>");
    }
};

std::vector<std::string> Sections(const std::string& text) {
    std::vector<std::string> names;
    size_t pos = 0;
    while ((pos = text.find("\r\n[", pos)) != std::string::npos) {
        pos += 3;
        names.push_back(text.substr(pos, text.find(']', pos) - pos));
    }
    return names;
}

TEST_F(ProjectModeTest, TheProgramUnderProgramFilesGetsItsGroupAndEntries) {
    EXPECT_EQ(ProjectFileName("/a/b.d/prog.exe"), "/a/b.d/prog.iwz");
    ASSERT_TRUE(Describe(m_program));
    EXPECT_TRUE(m_boxes.empty());
    std::string text = ReadFile(ProjectFileName(m_program));
    ASSERT_EQ(text.rfind("[InstallShield Wizard]\r\n", 0), 0u);
    EXPECT_EQ(Sections(text), (std::vector<std::string>{"VisualDesign", "Sequence", "Groups", "Ext",
                                                        "Components", "Types"}));
    const std::pair<std::string, std::string> expected[] = {
        {"InstallShield Wizard|DisksDir", "sitowiak\\144MB\\"},
        {"VisualDesign|AppName", "Sitowiak"},
        {"VisualDesign|AppExe", "[Pliki programu1]\\sitowiak"},
        {"VisualDesign|Version", "5.0.0.48"},
        {"Sequence|DestinationLocationDir", "<ProgramFilesDir>\\Sitowiak/"},
        {"Groups|Group1Dir", "<ProgramFilesDir>\\Sitowiak/"},
        {"Groups|Group1File1", m_program},
        {"Groups|Group1Size", std::to_string(util::FileSize(m_program))},
        {"Ext|Ext1Param1", "[Pliki programu1]\\sitowiak"},
        {"Ext|Ext1Param2", "-zarejestruj"},
        {"Components|Component1GroupList", "1"},
    };
    for (const auto& [where, value] : expected) {
        size_t bar = where.find('|');
        EXPECT_EQ(Read(where.substr(0, bar), where.substr(bar + 1)), value) << where;
    }
}

TEST_F(ProjectModeTest, TheSameFileTwiceAddsNeitherGroupNorFile) {
    ASSERT_TRUE(Describe(m_program));
    std::string first = ReadFile(ProjectFileName(m_program));
    ASSERT_TRUE(Describe(m_program));
    EXPECT_EQ(ReadFile(ProjectFileName(m_program)), first);

    std::string helper = m_home.Path("Program Files/Sitowiak/helper.dat");
    util::testing::WriteFile(helper, "12345");
    ASSERT_TRUE(Describe(helper));
    EXPECT_EQ(Read("Groups", "Groups"), "1");
    EXPECT_EQ(Read("Groups", "Group1File2"), helper);
    EXPECT_EQ(Read("Groups", "Group1Size"), std::to_string(util::FileSize(m_program) + 5));
}

TEST_F(ProjectModeTest, AFileOutsideTheKnownFoldersGetsANewGroupEachRun) {
    std::string outside = m_home.Path("elsewhere/data.bin");
    util::testing::WriteFile(outside, "x");
    ASSERT_TRUE(Describe(outside));
    ASSERT_TRUE(Describe(outside));
    EXPECT_EQ(Read("Groups", "Groups"), "2");
    EXPECT_EQ(Read("Groups", "Group2Dir"), "<ProgramFilesDir>\\" + FolderPart(outside));
    EXPECT_EQ(Read("Groups", "Group2File1"), outside);
    EXPECT_EQ(Read("Components", "Component1GroupList"), "1 2");
    EXPECT_EQ(Read("VisualDesign", "AppExe"), "<missing>");  // only the program sets it
    EXPECT_EQ(
        Sections(ReadFile(ProjectFileName(m_program))),
        (std::vector<std::string>{"VisualDesign", "Sequence", "Groups", "Components", "Types"}));
}

TEST_F(ProjectModeTest, AProjectFileThatCannotBeWrittenFails) {
    std::filesystem::create_directories(ProjectFileName(m_program));
    EXPECT_FALSE(Describe(m_program));
}

}  // namespace
}  // namespace sitowiak::package

#include <unistd.h>

#include <QLabel>
#include <QProgressBar>
#include <filesystem>
#include <functional>

#include "package/PackageBuilder.h"
#include "package/TBelkaPostepu.h"
#include "package/tests/PackageTestSupport.h"
#include "util/FileFacts.h"

namespace sitowiak::package {
namespace {

using util::testing::ReadFile;
using util::testing::WriteFile;
using util::testing::WriteScript;

std::string LittleEndian(uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}

class PublishModeTest : public testing::PackageTest {
protected:
    PublishModeTest() : m_tree(m_home.Path("tree/")) {}

    bool Publish(const std::string& root, const std::string& file) {
        return PackageBuilder(Context(root)).BuildPackage(file);
    }
    // The content file of the program in the tree (code "~": the whole path follows).
    std::string Content(const std::string& root, const std::string& file) const {
        return root + "~/" + file + ".zawartosc";
    }
    std::string Aux(const std::string& root, const std::string& file) const {
        return m_home.Path("TMPDIR") + root + "~" + file + ".zawartosc";
    }
    std::string CopyWarning(const std::string& file) const {
        return "Ostrzeżenie|Nie można skopiować pliku " + file + " (" + FileNamePart(file) + ")";
    }

    std::string m_tree;
};

TEST_F(PublishModeTest, FillsTheTreeAndASecondRunChangesNothing) {
    PackageBuilder builder(Context(m_tree));
    ASSERT_TRUE(builder.BuildPackage(m_program));
    EXPECT_TRUE(m_boxes.empty());
    std::string content = Content(m_tree, m_program);
    EXPECT_EQ(testing::Gunzip(content), ReadFile(m_program));
    EXPECT_EQ(ReadFile(content + ".dlugosc"),
              LittleEndian(static_cast<uint32_t>(util::FileSize(content))));
    EXPECT_EQ(ReadFile(content + ".wersja"), LittleEndian(0x00050000) + LittleEndian(0x30));
    EXPECT_EQ(ReadFile(content + ".data"),
              LittleEndian(static_cast<uint32_t>(util::FileDate(m_program))));
    EXPECT_EQ(ReadFile(m_tree + "start.start"), "~" + m_program + ",Sitowiak\r\n");
    EXPECT_EQ(ReadFile(m_tree + "~/" + m_program + ".install"), "~" + m_program + "\r\n");
    EXPECT_EQ(ReadFile(Aux(m_tree, m_program) + ".wersja"), ReadFile(content + ".wersja"));

    TBelkaPostepu* window = builder.ProgressWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Postęp trasmisji"));
    EXPECT_EQ(window->NazwaPliku->text(), QStringLiteral("sitowiak.zawartosc"));
    EXPECT_EQ(window->ProgressBar1->value(), 100);

    auto before = testing::Snapshot(m_tree);
    long long written = testing::ModifiedNs(content);
    ASSERT_TRUE(Publish(m_tree, m_program));
    EXPECT_EQ(testing::Snapshot(m_tree), before);
    EXPECT_EQ(testing::ModifiedNs(content), written);
    EXPECT_TRUE(m_boxes.empty());
    // Nothing is left in the temp folder but the auxiliary mirror.
    for (const auto& entry : std::filesystem::directory_iterator(m_home.Path("TMPDIR")))
        EXPECT_TRUE(entry.is_directory()) << entry.path();
}

TEST_F(PublishModeTest, WithoutTheAuxiliaryFolderEverythingIsCopiedAgainButListedOnce) {
    ASSERT_TRUE(Publish(m_tree, m_program));
    std::string content = Content(m_tree, m_program);
    WriteFile(content, "stale");
    std::filesystem::remove_all(m_home.Path("TMPDIR"));
    std::filesystem::create_directories(m_home.Path("TMPDIR"));
    ASSERT_TRUE(Publish(m_tree, m_program));
    EXPECT_EQ(testing::Gunzip(content), ReadFile(m_program));
    EXPECT_EQ(ReadFile(m_tree + "start.start"), "~" + m_program + ",Sitowiak\r\n");
    EXPECT_EQ(ReadFile(m_tree + "~/" + m_program + ".install"), "~" + m_program + "\r\n");
}

TEST_F(PublishModeTest, AFileWhoseVersionWentDownIsNotCopied) {
    ASSERT_TRUE(Publish(m_tree, m_program));
    std::string content = Content(m_tree, m_program);
    // The tree and its mirror remember a higher version than the file now has.
    std::string higher = LittleEndian(0x00060000) + LittleEndian(0);
    WriteFile(content + ".wersja", higher);
    WriteFile(Aux(m_tree, m_program) + ".wersja", higher);
    long long written = testing::ModifiedNs(content);
    ASSERT_TRUE(Publish(m_tree, m_program));
    EXPECT_EQ(testing::ModifiedNs(content), written);
    EXPECT_EQ(ReadFile(content + ".wersja"), higher);
    WriteFile(Aux(m_tree, m_program) + ".wersja", LittleEndian(0x00050000) + LittleEndian(0x2F));
    ASSERT_TRUE(Publish(m_tree, m_program));
    EXPECT_EQ(ReadFile(content + ".wersja"), LittleEndian(0x00050000) + LittleEndian(0x30));
}

// The mirror in the temp folder may outlive the tree, or the tree may be
// damaged behind its back: every run must still end with a complete tree,
// each listed file with its content and markers.
TEST_F(PublishModeTest, TheTreeIsRebuiltWhateverHappenedToItSinceTheMirrorWasWritten) {
    ASSERT_TRUE(Publish(m_tree, m_program));
    const auto complete = testing::Snapshot(m_tree);
    ASSERT_EQ(complete.size(), 6u);  // content, three markers, two lists
    std::string content = Content(m_tree, m_program);
    auto removeTree = [&] { std::filesystem::remove_all(m_tree); };
    auto removeMirror = [&] { std::filesystem::remove_all(m_home.Path("TMPDIR") + m_tree); };
    const std::vector<std::vector<std::function<void()>>> sequences = {
        {removeTree},
        {removeMirror, [] {}, removeTree},
        {[&] { WriteFile(content, "cut short"); }},
        {[&] { std::filesystem::remove(content + ".dlugosc"); }},
        {[&] { std::filesystem::remove(content + ".data"); }},
        {[&] { WriteFile(content + ".wersja", LittleEndian(0x00050000) + LittleEndian(0x2F)); }},
        {[&] { std::filesystem::remove(m_tree + "start.start"); }},
    };
    for (size_t i = 0; i < sequences.size(); ++i) {
        for (const auto& step : sequences[i]) {
            step();
            ASSERT_TRUE(Publish(m_tree, m_program)) << i;
        }
        EXPECT_EQ(testing::Snapshot(m_tree), complete) << i;
    }
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(PublishModeTest, AFileWithoutVersionIsJudgedByItsDate) {
    std::string notes = m_home.Path("Program Dir/notes.txt");
    WriteFile(notes, "first");
    ASSERT_TRUE(Publish(m_tree, notes));
    EXPECT_EQ(ReadFile(Content(m_tree, notes) + ".wersja"), std::string(8, '\0'));
    WriteFile(notes, "second");
    std::filesystem::last_write_time(
        notes, std::filesystem::last_write_time(notes) - std::chrono::hours(48));
    ASSERT_TRUE(Publish(m_tree, notes));
    EXPECT_EQ(testing::Gunzip(Content(m_tree, notes)), "first");  // older: up to date
    std::filesystem::last_write_time(
        notes, std::filesystem::last_write_time(notes) + std::chrono::hours(96));
    ASSERT_TRUE(Publish(m_tree, notes));
    EXPECT_EQ(testing::Gunzip(Content(m_tree, notes)), "second");
    EXPECT_EQ(ReadFile(m_tree + "~/" + m_program + ".install"), "~" + notes + "\r\n");
}

TEST_F(PublishModeTest, TheRootIsAPlainPrefixAndMayBeEmpty) {
    std::string root = m_home.Path("tree");
    ASSERT_TRUE(Publish(root, m_program));
    EXPECT_EQ(testing::Gunzip(Content(root, m_program)), ReadFile(m_program));
    EXPECT_EQ(ReadFile(root + "start.start"), "~" + m_program + ",Sitowiak\r\n");

    std::string here = std::filesystem::current_path();
    std::filesystem::create_directories(m_home.Path("cwd"));
    std::filesystem::current_path(m_home.Path("cwd"));
    bool published = Publish("", m_program);
    std::filesystem::current_path(here);
    ASSERT_TRUE(published);
    EXPECT_EQ(testing::Gunzip(Content(m_home.Path("cwd/"), m_program)), ReadFile(m_program));
    EXPECT_EQ(ReadFile(m_home.Path("cwd/start.start")), "~" + m_program + ",Sitowiak\r\n");
}

TEST_F(PublishModeTest, AFailingOrMissingCompressorFailsTheFileAndTheNextRunRedoesIt) {
    // The program's own folder comes before PATH, where the real tool is.
    m_home.SetEnv("PATH", SITOWIAK_TOOL_FOLDER);
    PackageContext context = Context(m_tree);
    context.toolFolder = m_home.Path("tools");
    std::vector<std::string> expected = {
        "Ostrzeżenie|Nie można skompresować pliku źródłowego \"" + m_program + "\"",
        CopyWarning(m_program)};
    // Exits with an error; claims success without leaving a file; is not there at all.
    for (const char* body : {"exit 1", "/bin/rm -f \"$2\"; exit 0", ""}) {
        m_boxes.clear();
        std::filesystem::remove_all(context.toolFolder);
        if (*body) WriteScript(context.toolFolder + "/compress", body);
        if (!*body) m_home.SetEnv("PATH", m_home.Path("empty"));
        EXPECT_FALSE(PackageBuilder(context).BuildPackage(m_program)) << body;
        EXPECT_EQ(BoxTexts(), expected) << body;
        EXPECT_FALSE(std::filesystem::exists(Content(m_tree, m_program)));
        EXPECT_FALSE(std::filesystem::exists(m_tree + "start.start"));
    }
    EXPECT_EQ(m_boxes[0].flags, 0u);

    m_boxes.clear();
    ASSERT_TRUE(Publish(m_tree, m_program));
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(testing::Gunzip(Content(m_tree, m_program)), ReadFile(m_program));
}

TEST_F(PublishModeTest, AVanishedSourceAndUnwritableFoldersAreWarnedAbout) {
    std::string missing = m_home.Path("Program Dir/gone");
    EXPECT_FALSE(Publish(m_tree, missing));
    EXPECT_EQ(BoxTexts(),
              (std::vector<std::string>{
                  "Ostrzeżenie|Nie można pobrać daty z pliku źródłowego \"" + missing + "\"",
                  CopyWarning(missing)}));

    WriteFile(m_home.Path("blocked"), "a file where the tree should be");
    std::string root = m_home.Path("blocked/");
    m_boxes.clear();
    EXPECT_FALSE(Publish(root, m_program));
    std::string dest = root + "~/" + FolderPart(m_program);
    EXPECT_EQ(BoxTexts(),
              (std::vector<std::string>{"Ostrzeżenie|Nie można utworzyć katalogu \"" + dest + "\"",
                                        CopyWarning(m_program)}));

    WriteFile(m_home.Path("notdir"), "x");
    m_home.SetEnv("TMPDIR", m_home.Path("notdir"));
    m_boxes.clear();
    EXPECT_FALSE(Publish(m_tree, m_program));
    std::string aux = m_home.Path("notdir") + m_tree + "~" + FolderPart(m_program);
    EXPECT_EQ(BoxTexts(),
              (std::vector<std::string>{
                  "Ostrzeżenie|Nie można utworzyć katalogu pomocniczego \"" + aux + "\"",
                  CopyWarning(m_program)}));
}

TEST_F(PublishModeTest, AContentFileThatCannotBeReplacedLeavesNothingHalfDone) {
    std::string content = Content(m_tree, m_program);
    std::filesystem::create_directories(content + "/obstacle");
    EXPECT_FALSE(Publish(m_tree, m_program));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{CopyWarning(m_program)});
    EXPECT_FALSE(std::filesystem::exists(Aux(m_tree, m_program) + ".wersja"));
    EXPECT_FALSE(std::filesystem::exists(content + ".dlugosc"));
    for (const auto& entry : std::filesystem::directory_iterator(FolderPart(content)))
        EXPECT_EQ(entry.path().string().find(".part-"), std::string::npos) << entry.path();

    std::filesystem::remove_all(content);
    m_boxes.clear();
    ASSERT_TRUE(Publish(m_tree, m_program));
    EXPECT_EQ(testing::Gunzip(content), ReadFile(m_program));
}

}  // namespace
}  // namespace sitowiak::package

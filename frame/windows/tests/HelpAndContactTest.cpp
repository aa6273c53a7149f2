#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "frame/windows/AboutBox.h"
#include "frame/windows/ContactActions.h"
#include "frame/windows/HelpConnection.h"
#include "frame/windows/LanguageAbbreviation.h"
#include "frame/windows/ShellOpen.h"
#include "frame/windows/TFormaStandardowa.h"
#include "platform/gui/MessageBox.h"
#include "tests/support/TestApp.h"

namespace sitowiak::frame {
namespace {

namespace fs = std::filesystem;

// Records what would have been opened and shown; opening succeeds or fails
// as the test says.
class HelpAndContactTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::TestApp();
        SetShellOpener([this](const std::string& target) {
            m_opened.push_back(target);
            return m_openSucceeds;
        });
        platform::SetMessageBoxHook(
            [this](const std::string& text, const std::string& caption, unsigned flags) {
                m_boxes.push_back(caption + "\n" + text + "\n" + std::to_string(flags));
                return platform::IDOK;
            });
        m_dir = m_config.UserHive().parent_path().parent_path() / "bin";
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        SetShellOpener(nullptr);
        platform::SetMessageBoxHook(nullptr);
    }
    void Touch(const char* name) { std::ofstream(m_dir / name) << "x"; }

    testing::TempConfig m_config;
    fs::path m_dir;
    std::vector<std::string> m_opened;
    std::vector<std::string> m_boxes;
    bool m_openSucceeds = true;
};

TEST_F(HelpAndContactTest, LanguageAbbreviationFollowsWindows) {
    EXPECT_EQ(LanguageAbbreviation(QLocale(QStringLiteral("pl_PL"))), "PLK");
    EXPECT_EQ(LanguageAbbreviation(QLocale(QStringLiteral("en_US"))), "ENU");
    EXPECT_EQ(LanguageAbbreviation(QLocale(QStringLiteral("en_GB"))), "ENG");
    EXPECT_EQ(LanguageAbbreviation(QLocale(QStringLiteral("de_CH"))), "DES");
    EXPECT_EQ(LanguageAbbreviation(QLocale(QStringLiteral("cs_CZ"))), "CSY");
    EXPECT_EQ(LanguageAbbreviation(QLocale(QStringLiteral("de_BE"))), "DEU");
    EXPECT_EQ(LanguageAbbreviation(QLocale(QStringLiteral("ga_IE"))), "GAI");
    EXPECT_EQ(LanguageAbbreviation(QLocale::c()), "ENU");
}

TEST_F(HelpAndContactTest, CompiledHelpWinsAndServesEveryCommandButQuit) {
    Touch("sitowiakPLK.chm");
    Touch("sitowiakPLK.HLP");
    Touch("sitowiak-PLK.chm");
    HelpConnection help = HelpConnection::Find(m_dir / "sitowiak", "PLK");
    EXPECT_EQ(help.Kind(), HelpKind::hkHtml);
    EXPECT_EQ(help.File(), m_dir / "sitowiakPLK.chm");
    EXPECT_TRUE(help.Command(HELP_HELPONHELP, ""));
    EXPECT_TRUE(help.Command(HELP_FINDER, "strona.htm"));
    EXPECT_FALSE(help.Command(HELP_QUIT, ""));
    std::string chm = (m_dir / "sitowiakPLK.chm").string();
    EXPECT_EQ(m_opened, (std::vector<std::string>{chm, chm + "::/strona.htm"}));
}

TEST_F(HelpAndContactTest, WinHelpFileOrNone) {
    Touch("sitowiakENU.HLP");
    Touch("sitowiakPLK.hlp");  // the extension is looked for in capitals
    EXPECT_EQ(HelpConnection::Find(m_dir / "sitowiak", "ENU").Kind(), HelpKind::hkWinHelp);
    HelpConnection none = HelpConnection::Find(m_dir / "sitowiak", "PLK");
    EXPECT_EQ(none.Kind(), HelpKind::hkNone);
    EXPECT_FALSE(none.Command(HELP_HELPONHELP, ""));
    EXPECT_TRUE(m_opened.empty());

    // The test program has no help file beside it.
    TFormaStandardowa window;
    EXPECT_FALSE(window.Contents1->isEnabled());
    EXPECT_TRUE(window.Temmenu1->isEnabled());
    window.Temmenu1Click();
    EXPECT_TRUE(m_opened.empty());
}

// The manual page as an installation lays it out, opened by the desktop's
// opener: a stand-in xdg-open on PATH records what it was given, and fails
// for tel: as a desktop without a telephone program does.
TEST_F(HelpAndContactTest, TheInstalledPageOpensThroughTheDesktopsOpener) {
    SetShellOpener(nullptr);
    const fs::path prefix = m_dir.parent_path() / "usr";
    const fs::path docs = prefix / "share" / "doc" / "sitowiak";
    fs::create_directories(docs);
    fs::create_directories(prefix / "bin");
    fs::copy_file(SITOWIAK_HELP_PAGE, docs / "sitowiakPLK.html");
    const fs::path tools = m_dir.parent_path() / "tools";
    const fs::path log = m_dir.parent_path() / "opened";
    fs::create_directories(tools);
    std::ofstream(tools / "xdg-open") << "#!/bin/sh\necho \"$1\" >> '" << log.string()
                                      << "'\ncase \"$1\" in tel:*) exit 3;; esac\n";
    fs::permissions(tools / "xdg-open", fs::perms::owner_all);
    const std::string savedPath = getenv("PATH");
    setenv("PATH", (tools.string() + ":" + savedPath).c_str(), 1);

    // Found for the Polish user and, the windows being Polish, for others.
    HelpConnection help = HelpConnection::FindForUser(prefix / "bin" / "sitowiak", "ENU");
    EXPECT_EQ(help.Kind(), HelpKind::hkPage);
    EXPECT_EQ(help.File(), docs / "sitowiakPLK.html");
    EXPECT_EQ(HelpConnection::Find(prefix / "bin" / "sitowiak", "ENU").Kind(), HelpKind::hkNone);
    EXPECT_TRUE(help.Command(HELP_FINDER, "topic"));
    EXPECT_FALSE(help.Command(HELP_QUIT, ""));
    EXPECT_TRUE(help.Command(HELP_HELPONHELP, ""));
    TFormaStandardowa window;
    window.Telefon1Click();

    auto lines = [&] {
        std::ifstream in(log);
        std::vector<std::string> got;
        for (std::string line; std::getline(in, line);) got.push_back(line);
        return got;
    };
    QElapsedTimer waited;
    waited.start();
    while ((lines().size() < 3 || m_boxes.empty()) && waited.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    setenv("PATH", savedPath.c_str(), 1);
    const std::string page = "file://" + (docs / "sitowiakPLK.html").string();
    std::vector<std::string> opened = lines();
    std::sort(opened.begin(), opened.end());  // the openers run side by side
    EXPECT_EQ(opened, (std::vector<std::string>{page, page, "tel:+48-22-000-00-00"}));
    EXPECT_EQ(m_boxes, (std::vector<std::string>{
                           "Sitowiak - Błąd\nBłąd podczas uruchamiania telefonu. Możliwe, że "
                           "brak odpowiedniego programu.\n0"}));
    // The page is the manual: the settings the window shows are in it.
    std::ifstream in(docs / "sitowiakPLK.html");
    const std::string html{std::istreambuf_iterator<char>(in), {}};
    for (const char* word : {"<html", "Szyfrowanie", "OdciskSerwera", "Kodowanie"})
        EXPECT_NE(html.find(word), std::string::npos) << word;
}

TEST_F(HelpAndContactTest, MailSubjectEscapesSpacesOnly) {
    EXPECT_EQ(MailSubject("Mój Program  2.0"), "Zapytanie%20o%20Mój%20Program%20%202.0");
    TFormaStandardowa window;
    window.Poczta1Click();
    ASSERT_EQ(m_opened.size(), 1u);
    EXPECT_EQ(m_opened[0], "mailto:kontakt@plaskun.example?subject=Zapytanie%20o%20Sitowiak");
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(HelpAndContactTest, FailedOpeningsShowTheirBoxes) {
    m_openSucceeds = false;
    TFormaStandardowa window;
    window.Telefon1Click();
    window.Poczta1Click();
    window.Hipertekst1Click();
    window.Uaktualnienie1Click();
    EXPECT_EQ(m_opened, (std::vector<std::string>{
                            "tel:+48-22-000-00-00",
                            "mailto:kontakt@plaskun.example?subject=Zapytanie%20o%20Sitowiak",
                            "https://www.plaskun.example/", "https://sitowiak.plaskun.example/"}));
    const std::string browser =
        "Sitowiak - Błąd\nBłąd podczas uruchamiania przeglądarki. Możliwe, że brak "
        "odpowiedniego programu.\n0";
    EXPECT_EQ(m_boxes, (std::vector<std::string>{
                           "Sitowiak - Błąd\nBłąd podczas uruchamiania telefonu. Możliwe, że "
                           "brak odpowiedniego programu.\n0",
                           "Sitowiak - Błąd\nBłąd podczas uruchamiania poczty. Możliwe, że brak "
                           "odpowiedniego programu.\n0",
                           browser, browser}));
}

TEST_F(HelpAndContactTest, AboutBoxTexts) {
    platform::ProductIdentity identity;
    identity.ProductName = "Sitowiak";
    identity.LegalCopyright = "Copyright (c) Pląskun";
    identity.ProductVersion = (uint64_t{5} << 48) | 48;
    EXPECT_EQ(AboutTitle(identity), "O programie Sitowiak...");
    EXPECT_EQ(AboutText(identity), "Sitowiak wersja 5.00.00.48\nCopyright (c) Pląskun");
    auto box = CreateAboutBox(nullptr, identity);
    EXPECT_EQ(box->windowTitle(), QString::fromUtf8("O programie Sitowiak..."));
    EXPECT_EQ(box->text(), QString::fromUtf8("Sitowiak wersja 5.00.00.48\nCopyright (c) Pląskun"));

    EXPECT_EQ(AboutText(platform::ProductIdentity{}), " wersja 0.00.00.00\n");
}

}  // namespace
}  // namespace sitowiak::frame

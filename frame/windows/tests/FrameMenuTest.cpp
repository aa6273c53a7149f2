#include <gtest/gtest.h>

#include <QApplication>
#include <QMenuBar>
#include <QToolButton>

#include "frame/windows/TFormaStandardowa.h"
#include "tests/support/TestApp.h"

namespace sitowiak::frame {
namespace {

QString U(const char* text) {
    return QString::fromUtf8(text);
}

class FrameMenuTest : public ::testing::Test {
protected:
    void SetUp() override { testing::TestApp(); }
    testing::TempConfig m_config;
};

TEST_F(FrameMenuTest, MenuItemsHaveTheirCaptionsHintsAndShortcutsInOrder) {
    TFormaStandardowa window;
    struct Row {
        QAction* action;
        const char* caption;
        const char* hint;
        QKeySequence shortcut;
    };
    const Row rows[] = {
        {window.FileMenu->menuAction(), "&?", "Instalowanie nowego oprogramowania", {}},
        {window.FileExitItem, "&Zamknij", "Zamknięcie", QKeySequence(Qt::ALT | Qt::Key_X)},
        {window.Help1->menuAction(), "Pomo&c", "Informacje pomocnicze", {}},
        {window.Contents1, "Tematy &Pomocy", "Pomoc główna", QKeySequence(Qt::Key_F1)},
        {window.Temmenu1, "Użycie Pomocy", "Informacje o użyciu pomocy", {}},
        {window.Telefon1, "&Telefon", "Wykręcenie numeru telefonu do autora", {}},
        {window.Poczta1, "Poczta", "Wysłanie poczty elektronicznej do autora", {}},
        {window.Hipertekst1, "Hipertekst", "Podgląd strony hipertekstowej autora", {}},
        {window.Uaktualnienie1, "&Uaktualnienie", "Uaktualnienie z internetu", {}},
        {window.AboutItem, "Windows 95 - i&nformacje", "O programie Sitowiak...",
         QKeySequence(Qt::CTRL | Qt::Key_Enter)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.caption);
        EXPECT_EQ(row.action->text(), U(row.caption));
        EXPECT_EQ(row.action->statusTip(), U(row.hint));
        EXPECT_EQ(row.action->shortcut(), row.shortcut);
    }
    EXPECT_TRUE(window.AboutItem->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Return)));

    // Items and separators in the frame's order.
    QStringList help;
    for (QAction* a : window.Help1->actions()) help << (a->isSeparator() ? U("-") : a->text());
    EXPECT_EQ(help.join(U("|")), U("Tematy &Pomocy|Użycie Pomocy|-|&Telefon|Poczta|Hipertekst|-|"
                                   "&Uaktualnienie|-|Windows 95 - i&nformacje"));
    QStringList file;
    for (QAction* a : window.FileMenu->actions()) file << (a->isSeparator() ? U("-") : a->text());
    EXPECT_EQ(file.join(U("|")), U("-|&Zamknij"));
}

TEST_F(FrameMenuTest, TitleAndToolbarComeFromTheFrame) {
    TFormaStandardowa window;
    EXPECT_EQ(window.windowTitle(), U("Sitowiak"));
    EXPECT_EQ(QApplication::applicationName(), U("Sitowiak"));
    EXPECT_EQ(window.MainToolbar->windowTitle(), U("Main"));
    EXPECT_EQ(window.toolBarArea(window.MainToolbar), Qt::TopToolBarArea);
    EXPECT_FALSE(window.MainToolbar->toggleViewAction()->isVisible());
    ASSERT_EQ(window.MainToolbar->actions().size(), 1);
    EXPECT_EQ(window.MainToolbar->actions().first(), window.ExitBtn);
    EXPECT_EQ(window.ExitBtn->toolTip(), U("Zamknij"));
    EXPECT_TRUE(window.ExitBtn->statusTip().isEmpty());
    EXPECT_FALSE(window.ExitBtn->icon().isNull());
    // The test program carries a product page, so the update item works.
    EXPECT_TRUE(window.Uaktualnienie1->isEnabled());
}

TEST_F(FrameMenuTest, StatusBarShowsTheLongHintOrTheCopyright) {
    TFormaStandardowa window;
    window.show();
    const QString copyright = QString::fromStdString(window.LegalCopyright());
    ASSERT_FALSE(copyright.isEmpty());
    EXPECT_EQ(window.StatusBar1->SimpleText(), copyright);

    window.menuBar()->setActiveAction(window.Help1->menuAction());
    window.Help1->setActiveAction(window.Poczta1);
    EXPECT_EQ(window.StatusBar1->SimpleText(), U("Wysłanie poczty elektronicznej do autora"));
    window.Help1->hide();
    EXPECT_EQ(window.StatusBar1->SimpleText(), copyright);

    // The exit button's hint has an empty long part: the copyright shows.
    QWidget* exitButton = window.MainToolbar->widgetForAction(window.ExitBtn);
    ASSERT_NE(exitButton, nullptr);
    window.StatusBar1->SetSimpleText(U("x"));
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(exitButton, &enter);
    EXPECT_EQ(window.StatusBar1->SimpleText(), copyright);
}

TEST_F(FrameMenuTest, ExitButtonAndExitItemCloseTheWindow) {
    TFormaStandardowa window;
    window.show();
    window.ExitBtn->trigger();
    EXPECT_FALSE(window.isVisible());
    window.show();
    window.FileExitItem->trigger();
    EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace sitowiak::frame

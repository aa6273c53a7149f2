#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include "platform/core/RegistryHive.h"
#include "proxy/window/TFormaBezdokumentowaPozycjonowanaStopkaNiusowa.h"
#include "proxy/window/tests/WindowTestConfig.h"
#include "tests/support/TestApp.h"

namespace sitowiak::proxy {
namespace {

using MainWindow = TFormaBezdokumentowaPozycjonowanaStopkaNiusowa;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::TestApp();
        testing::StoreFreeLocalPort(m_config);
    }
    void StoreAktywne(const char* value) { testing::StoreSetting(m_config, "Aktywne", value); }
    testing::TempConfig m_config;
};

// The control the tab key moves to from `from`: the next one in the focus
// chain that takes focus by tab, is shown and enabled and hands its focus
// to no other widget. (A synthesized key event would leave Qt's keyboard
// device behind for the static application to destroy too late.)
QWidget* NextByTab(QWidget* from) {
    QWidget* next = from->nextInFocusChain();
    while (!(next->focusPolicy() & Qt::TabFocus) || !next->isVisible() || !next->isEnabled() ||
           next->focusProxy())
        next = next->nextInFocusChain();
    return next;
}

TEST_F(MainWindowTest, TabVisitsTheControlsInTheirOrder) {
    StoreAktywne("0");
    MainWindow window;
    window.show();
    QWidget* at = window.LocalPort_;
    const QWidget* expected[] = {window.ListenBtn,
                                 window.RemotePort,
                                 window.RemoteAddr,
                                 window.ReadAccessEd,
                                 window.WriteAccessEd,
                                 window.ZawartoscCB,
                                 window.KodowanieCB,
                                 window.KodowanieNieoznaczonychCB,
                                 window.IgnorowanieBlednychCB,
                                 window.StyleCB,
                                 window.SzyfrowanieCB,
                                 window.SocksSerwerEd,
                                 window.SocksPoziomCB,
                                 window.SocksUzytkownikEd,
                                 window.SocksHasloEd,
                                 window.LocalPort_};
    for (const QWidget* next : expected) {
        at = NextByTab(at);
        EXPECT_EQ(at, next) << next->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, AddressEditsAreDisabledOnlyWhileListening) {
    StoreAktywne("0");
    MainWindow window;
    QWidget* always[] = {window.ListenBtn,
                         window.ReadAccessEd,
                         window.WriteAccessEd,
                         window.KodowanieCB,
                         window.KodowanieNieoznaczonychCB,
                         window.ZawartoscCB,
                         window.StyleCB,
                         window.IgnorowanieBlednychCB,
                         window.SzyfrowanieCB};
    for (bool listening : {false, true, false}) {
        if (listening != window.Core().Listening()) window.ListenBtn->click();
        EXPECT_EQ(window.LocalPort_->isEnabled(), !listening);
        EXPECT_EQ(window.RemotePort->isEnabled(), !listening);
        EXPECT_EQ(window.RemoteAddr->isEnabled(), !listening);
        for (QWidget* w : always) EXPECT_TRUE(w->isEnabled());
        EXPECT_EQ(window.ListenBtn->text(),
                  QString::fromUtf8(listening ? "Przerwij" : "Nasłuchuj"));
    }
}

TEST_F(MainWindowTest, FrameAndStatusBarOfTheMainWindow) {
    MainWindow window;
    EXPECT_EQ(window.FileMenu->title(), QStringLiteral("&Filtr"));
    EXPECT_FALSE(window.StatusBar1->SimplePanel());
    ASSERT_EQ(window.StatusBar1->PanelCount(), 4);
    QStringList texts;
    for (int i = 0; i < 4; ++i) texts << window.StatusBar1->Panel(i)->text();
    EXPECT_EQ(texts, (QStringList{QString::fromUtf8("Połączeń"), QStringLiteral("0"),
                                  QStringLiteral("Z"), QString()}));
    // A burst of changes is shown together a moment later, the last text of
    // each panel.
    window.SetStatusPanel(1, "3");
    window.SetStatusPanel(3, "127.0.0.1");
    window.SetStatusPanel(1, "4");
    EXPECT_EQ(window.StatusBar1->Panel(1)->text(), QStringLiteral("0"));
    QElapsedTimer waited;
    waited.start();
    while (window.StatusBar1->Panel(1)->text() == QStringLiteral("0") && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_EQ(window.StatusBar1->Panel(1)->text(), QStringLiteral("4"));
    EXPECT_EQ(window.StatusBar1->Panel(3)->text(), QStringLiteral("127.0.0.1"));
    for (QComboBox* c : {window.KodowanieCB, window.KodowanieNieoznaczonychCB, window.ZawartoscCB})
        EXPECT_NE(c->currentText(), QStringLiteral("?"));
    // The controls fit in the client area at the first run's size.
    window.show();
    QWidget* client = window.centralWidget();
    for (QWidget* w : client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(client->rect().contains(w->geometry())) << w->objectName().toStdString();
}

}  // namespace
}  // namespace sitowiak::proxy

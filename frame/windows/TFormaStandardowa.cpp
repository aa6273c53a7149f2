#include "TFormaStandardowa.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QStatusTipEvent>

#include "frame/windows/AboutBox.h"
#include "frame/windows/ContactActions.h"
#include "frame/windows/FrameGlyphs.h"
#include "frame/windows/LanguageAbbreviation.h"
#include "frame/windows/MakerInfo.h"
#include "frame/windows/ShellOpen.h"

namespace sitowiak::frame {
namespace {

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// One menu item: its name, caption and hint, the frame's own texts.
QAction* AddItem(QMenu* menu, const char* name, const char* caption, const char* hint) {
    QAction* action = menu->addAction(QString::fromUtf8(caption));
    action->setObjectName(QLatin1String(name));
    SetHint(action, QString::fromUtf8(hint));
    return action;
}

QMenu* AddMenu(QMenuBar* bar, const char* name, const char* caption, const char* hint) {
    QMenu* menu = bar->addMenu(QString::fromUtf8(caption));
    menu->setObjectName(QLatin1String(name));
    menu->menuAction()->setObjectName(QLatin1String(name));
    SetHint(menu->menuAction(), QString::fromUtf8(hint));
    return menu;
}

}  // namespace

void SetHint(QAction* action, const QString& hint) {
    qsizetype bar = hint.indexOf(QLatin1Char('|'));
    action->setToolTip(bar < 0 ? hint : hint.left(bar));
    action->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

TFormaStandardowa::TFormaStandardowa(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("?"));
    resize(544, 375);
    StatusBar1 = new TStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    setStatusBar(StatusBar1);
    CreateMenus();
    CreateToolbar();
    FormCreate();
}

TFormaStandardowa::~TFormaStandardowa() {
    qApp->removeEventFilter(this);
    FreeVersionInfo(m_identity);
}

void TFormaStandardowa::FormCreate() {
    platform::ReadVersionInfo(platform::ProgramFile(), m_identity);
    QString title = Q(ProductName());
    QApplication::setApplicationName(title);
    setWindowTitle(title);
    setWindowIcon(ProductIcon());
    qApp->installEventFilter(this);
    PokazOpis(QString());
    AboutItem->setStatusTip(QStringLiteral("O programie %1...").arg(title));
    AboutItem->setToolTip(AboutItem->statusTip());
    FindHelpFile();
    Uaktualnienie1->setEnabled(!ProductUrl().empty());
}

void TFormaStandardowa::CreateMenus() {
    CreateFileMenu();
    CreateHelpMenu();
}

void TFormaStandardowa::CreateFileMenu() {
    FileMenu = AddMenu(menuBar(), "FileMenu", "&?", "Instalowanie nowego oprogramowania");
    FileMenu->addSeparator()->setObjectName(QStringLiteral("N3"));
    FileExitItem = AddItem(FileMenu, "FileExitItem", "&Zamknij", "Zamknięcie");
    FileExitItem->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));
    connect(FileExitItem, &QAction::triggered, this, [this] { FileExitItemClick(); });
}

void TFormaStandardowa::CreateHelpMenu() {
    Help1 = AddMenu(menuBar(), "Help1", "Pomo&c", "Informacje pomocnicze");
    Contents1 = AddItem(Help1, "Contents1", "Tematy &Pomocy", "Pomoc główna");
    Contents1->setShortcut(QKeySequence(Qt::Key_F1));
    Temmenu1 = AddItem(Help1, "Temmenu1", "Użycie Pomocy", "Informacje o użyciu pomocy");
    Help1->addSeparator()->setObjectName(QStringLiteral("N4"));
    Telefon1 = AddItem(Help1, "Telefon1", "&Telefon", "Wykręcenie numeru telefonu do autora");
    Poczta1 = AddItem(Help1, "Poczta1", "Poczta", "Wysłanie poczty elektronicznej do autora");
    Hipertekst1 =
        AddItem(Help1, "Hipertekst1", "Hipertekst", "Podgląd strony hipertekstowej autora");
    Help1->addSeparator();
    Uaktualnienie1 =
        AddItem(Help1, "Uaktualnienie1", "&Uaktualnienie", "Uaktualnienie z internetu");
    Help1->addSeparator()->setObjectName(QStringLiteral("N5"));
    AboutItem = AddItem(Help1, "AboutItem", "Windows 95 - i&nformacje", "");
    // The main keyboard's Enter is Key_Return, the keypad's Key_Enter.
    AboutItem->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Enter), QKeySequence(Qt::CTRL | Qt::Key_Return)});
    connect(Contents1, &QAction::triggered, this, [this] { Contents1Click(); });
    connect(Temmenu1, &QAction::triggered, this, [this] { Temmenu1Click(); });
    connect(Telefon1, &QAction::triggered, this, [this] { Telefon1Click(); });
    connect(Poczta1, &QAction::triggered, this, [this] { Poczta1Click(); });
    connect(Hipertekst1, &QAction::triggered, this, [this] { Hipertekst1Click(); });
    connect(Uaktualnienie1, &QAction::triggered, this, [this] { Uaktualnienie1Click(); });
    connect(AboutItem, &QAction::triggered, this, [this] { AboutItemClick(); });
}

// The toolbar cannot be closed: its entry in the toolbar menu is hidden,
// and a floating Qt toolbar has no close button.
void TFormaStandardowa::CreateToolbar() {
    MainToolbar = new QToolBar(QStringLiteral("Main"), this);
    MainToolbar->setObjectName(QStringLiteral("MainToolbar"));
    MainToolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    MainToolbar->setIconSize(QSize(16, 16));
    MainToolbar->toggleViewAction()->setVisible(false);
    addToolBar(Dock972, MainToolbar);
    ExitBtn = MainToolbar->addAction(ExitGlyph(), QStringLiteral("Zamknij"));
    ExitBtn->setObjectName(QStringLiteral("ExitBtn"));
    SetHint(ExitBtn, QStringLiteral("Zamknij|"));
    connect(ExitBtn, &QAction::triggered, this, [this] { FileExitItemClick(); });
}

void TFormaStandardowa::FindHelpFile() {
    m_help = HelpConnection::FindForUser(platform::ProgramFile(), LanguageAbbreviation(QLocale()));
    Contents1->setEnabled(m_help.Kind() != HelpKind::hkNone);
}

bool TFormaStandardowa::HelpCommand(unsigned command) {
    return m_help.Command(command, HelpTopic);
}

void TFormaStandardowa::PokazOpis(const QString& hint) {
    StatusBar1->SetSimpleText(hint.isEmpty() ? Q(LegalCopyright()) : hint);
}

bool TFormaStandardowa::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        PokazOpis(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

// A widget of this window without a hint of its own clears the hint when
// the mouse enters it; one with a hint sends it itself.
bool TFormaStandardowa::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Enter && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->window() == this && widget->statusTip().isEmpty()) PokazOpis(QString());
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFormaStandardowa::closeEvent(QCloseEvent* event) {
    HelpCommand(HELP_QUIT);
    event->accept();
}

void TFormaStandardowa::FileExitItemClick() {
    close();
}

void TFormaStandardowa::Contents1Click() {
    HelpCommand(HELP_FINDER);
}

void TFormaStandardowa::Temmenu1Click() {
    HelpCommand(HELP_HELPONHELP);
}

void TFormaStandardowa::Telefon1Click() {
    OpenOrReport(TelephoneTarget(), kTelephoneFailure, ProductName());
}

void TFormaStandardowa::Poczta1Click() {
    OpenOrReport(MailTarget(ProductName()), kMailFailure, ProductName());
}

void TFormaStandardowa::Hipertekst1Click() {
    OpenOrReport(MakerHomeUrl, kBrowserFailure, ProductName());
}

void TFormaStandardowa::Uaktualnienie1Click() {
    OpenOrReport(ProductUrl(), kBrowserFailure, ProductName());
}

void TFormaStandardowa::AboutItemClick() {
    ShowAboutBox(this, m_identity);
}

}  // namespace sitowiak::frame

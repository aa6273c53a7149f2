// The standard frame of every application window but the log and progress
// windows: the title from the program's version information, a main menu
// with a file menu and a help menu, the four toolbar areas with the toolbar
// "Main" and its exit button, a status bar that shows hints, the help file
// and the contact actions, and the About box.
//
// Creation runs base first (each level's constructor after its parent's);
// destruction runs each level's own part first, then the parent's, which is
// the order of C++ destructors. Closing runs the parent's part first.
#pragma once

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QToolBar>

#include "frame/windows/HelpConnection.h"
#include "frame/windows/TStatusBar.h"
#include "platform/core/ProductIdentity.h"

namespace sitowiak::frame {

class TFormaStandardowa : public QMainWindow {
    Q_OBJECT
public:
    explicit TFormaStandardowa(QWidget* parent = nullptr);
    ~TFormaStandardowa() override;

    const platform::ProductIdentity& Identity() const { return m_identity; }
    const std::string& ProductName() const { return m_identity.ProductName; }
    const std::string& ProductUrl() const { return m_identity.ProductUrl; }
    const std::string& LegalCopyright() const { return m_identity.LegalCopyright; }
    uint64_t ProductVersion() const { return m_identity.ProductVersion; }
    const HelpConnection& Help() const { return m_help; }

    // Shows `hint` (the long part of the hint under the mouse) in the status
    // bar's simple panel, or LegalCopyright when it is empty.
    virtual void PokazOpis(const QString& hint);

    void FileExitItemClick();
    void Contents1Click();
    void Temmenu1Click();
    void Telefon1Click();
    void Poczta1Click();
    void Hipertekst1Click();
    void Uaktualnienie1Click();
    void AboutItemClick();

    // The four docks are Qt's toolbar areas.
    static constexpr Qt::ToolBarArea Dock971 = Qt::BottomToolBarArea;
    static constexpr Qt::ToolBarArea Dock972 = Qt::TopToolBarArea;
    static constexpr Qt::ToolBarArea Dock973 = Qt::LeftToolBarArea;
    static constexpr Qt::ToolBarArea Dock974 = Qt::RightToolBarArea;

    TStatusBar* StatusBar1 = nullptr;
    QToolBar* MainToolbar = nullptr;
    QAction* ExitBtn = nullptr;
    QMenu* FileMenu = nullptr;
    QAction* FileExitItem = nullptr;
    QMenu* Help1 = nullptr;
    QAction* Contents1 = nullptr;
    QAction* Temmenu1 = nullptr;
    QAction* Telefon1 = nullptr;
    QAction* Poczta1 = nullptr;
    QAction* Hipertekst1 = nullptr;
    QAction* Uaktualnienie1 = nullptr;
    QAction* AboutItem = nullptr;

    // Topic inside the compiled help file; no window of the program sets it.
    std::string HelpTopic;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // FormClose: closes the help viewer with the window.
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void CreateMenus();
    void CreateFileMenu();
    void CreateHelpMenu();
    void CreateToolbar();
    void FindHelpFile();
    bool HelpCommand(unsigned command);

    platform::ProductIdentity m_identity;
    HelpConnection m_help;
};

// Splits a hint "short|long" the way the frame shows it: the short part as
// the tool tip, the long part in the status bar. A hint without "|" is both.
void SetHint(QAction* action, const QString& hint);

}  // namespace sitowiak::frame

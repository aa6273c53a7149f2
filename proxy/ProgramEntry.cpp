// The program's entry: the command-line step, then the windows in their
// order, then the event loop that carries all work on the one GUI thread.
#include <QApplication>

#include <string_view>

#include "frame/windows/FrameGlyphs.h"
#include "frame/windows/TFormaBezdokumentowaPozycjonowana.h"
#include "log/TLog.h"
#include "platform/core/ProcessLimits.h"
#include "platform/core/RegistryHive.h"
#include "platform/gui/Display.h"
#include "platform/gui/MessageBox.h"
#include "platform/gui/QuitSignals.h"
#include "proxy/window/CommandLineStep.h"
#include "proxy/window/TFormaBezdokumentowaPozycjonowanaStopkaNiusowa.h"

using namespace sitowiak;

namespace {

// A quit signal is caught from the moment the program's libraries are
// loaded, before main: one that comes during start-up waits until the event
// loop runs and then closes the window like any other.
[[gnu::constructor]] void CatchQuitSignalsEarly() {
    platform::InstallQuitSignalHandlers();
}

bool NamesACommandLineMode(int argc, char** argv) {
    const std::string_view first = argc > 1 ? argv[1] : "";
    return first == proxy::kModeDistribution || first == proxy::kModeRegistration ||
           first == "--help" || first == "-h" || first == "--version";
}

}  // namespace

int main(int argc, char** argv) {
    if (NamesACommandLineMode(argc, argv)) {
        // The modes run without an event loop: signals act as usual again,
        // and one that came already ends the process now, as it would have.
        if (platform::RestoreDefaultQuitSignals()) return 0;
    }
    if (std::optional<int> code = proxy::CommandLineStep(argc, argv)) return *code;

    // Every reader takes two descriptors; the default soft limit of 1024
    // would end in failed accepts at a few hundred readers.
    platform::RaiseOpenFileLimit();
    platform::SelectPlatformForDisplay();
    platform::QuietEnvironmentNotes();
    // Only the program's name goes to Qt: its own options (-platform and the
    // like) are not the program's, and a wrong one would abort the process.
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    app.setQuitOnLastWindowClosed(false);
    app.setWindowIcon(frame::ProductIcon());
    app.setDesktopFileName(QStringLiteral("sitowiak"));
    platform::SetHiveDamageReporter([](const std::string& message) {
        platform::MessageBox(message, "Sitowiak", platform::MB_OK | platform::MB_ICONWARNING);
    });

    // The log window outlives the main window, whose destruction may still
    // write entries while it closes the connections.
    auto mainWindow = std::make_unique<proxy::TFormaBezdokumentowaPozycjonowanaStopkaNiusowa>();
    // Stored settings that could not be read: the window has said why (on
    // standard error here) and does not listen. Without a display nobody can
    // look at them, so the program ends with code 1 and writes nothing.
    if (mainWindow->SettingsUnreadable() && !platform::HasDisplay()) {
        mainWindow.reset();
        return 1;
    }
    log::TLog log;
    mainWindow->Core().SetLog(&log);
    frame::TFormaStandardowa hiddenStandard;
    frame::TFormaBezdokumentowa hiddenWithStore;
    frame::TFormaBezdokumentowaPozycjonowana hiddenPlaced;
    platform::QuitSignals quitSignals(mainWindow.get());
    mainWindow->show();
    int code = app.exec();
    // Closing the window stored the settings; a failed store has been
    // reported and ends the program with code 1.
    bool stored = mainWindow->SettingsStored();
    mainWindow.reset();
    return stored ? code : 1;
}

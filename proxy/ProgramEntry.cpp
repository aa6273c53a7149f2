// The program's entry: the command-line step, then the windows in their
// order, then the event loop that carries all work on the one GUI thread.
#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <string_view>

#include "frame/windows/FrameGlyphs.h"
#include "frame/windows/TFormaBezdokumentowaPozycjonowana.h"
#include "log/TLog.h"
#include "platform/core/InstanceLock.h"
#include "platform/core/ProcessLimits.h"
#include "platform/core/Registry.h"
#include "platform/core/RegistryHive.h"
#include "platform/core/ServiceNotify.h"
#include "platform/core/StandardErrorLines.h"
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

// Without a window the traffic log goes to standard error as well, one line
// per entry, cut short: the journal is no place for whole articles.
class LogToLines : public log::LogSink {
public:
    explicit LogToLines(log::LogSink& window) : m_window(window) {}
    void SetEntryStyle(log::Rgb color, const std::string& title) override {
        m_title = title;
        m_window.SetEntryStyle(color, title);
    }
    void SetEntryTitle(const std::string& title) override {
        m_title = title;
        m_window.SetEntryTitle(title);
    }
    void AddEntry(const std::string& text) override {
        m_window.AddEntry(text);
        constexpr size_t kShown = 2000;
        std::string_view bytes(text.data(), std::min(text.find('\0'), text.size()));
        std::string line = "Dziennik: " + m_title;
        if (!bytes.empty()) {
            size_t cut = std::min(bytes.size(), kShown);
            // Not inside a UTF-8 character.
            while (cut < bytes.size() && cut > 0 && (bytes[cut] & 0xC0) == 0x80) --cut;
            line += ": ";
            line += bytes.substr(0, cut);
            if (cut < bytes.size()) line += " … (" + std::to_string(bytes.size()) + " B)";
        }
        platform::WriteLine(platform::LinePriority::kInfo, line);
    }
    bool LineModeChecked() const override { return m_window.LineModeChecked(); }

private:
    log::LogSink& m_window;
    std::string m_title;
};

bool NamesACommandLineMode(int argc, char** argv) {
    const std::string_view first = argc > 1 ? argv[1] : "";
    return first == proxy::kModeDistribution || first == proxy::kModeRegistration ||
           first == "--help" || first == "-h" || first == "--version" || first == "--settings" ||
           first == "--set";
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
    // Without a window every event is a line on standard error (the
    // journal, under a service manager); with one, only errors are.
    const bool headless = !platform::HasDisplay();
    platform::StandardErrorLines lines(2);
    platform::SetStandardErrorLines(
        &lines, headless ? platform::LinePriority::kInfo : platform::LinePriority::kError);
    // While lines wait for a reader of standard error that is slow, the
    // event loop offers them again every 100 ms; idle, it does nothing.
    QTimer linesPump;
    linesPump.setInterval(100);
    QObject::connect(&linesPump, &QTimer::timeout, [&lines, &linesPump] {
        if (lines.Flush()) linesPump.stop();
    });
    lines.OnWaiting = [&linesPump] {
        if (!linesPump.isActive()) linesPump.start();
    };
    auto finish = [&lines](int code) {
        platform::NotifyServiceManager("STOPPING=1");
        platform::WriteLine(platform::LinePriority::kInfo,
                            "Sitowiak kończy pracę (kod wyjścia " + std::to_string(code) + ").");
        lines.OnWaiting = nullptr;
        lines.Drain(std::chrono::seconds(1));
        platform::SetStandardErrorLines(nullptr, platform::LinePriority::kError);
        return code;
    };
    platform::SetHiveDamageReporter([](const std::string& message) {
        platform::MessageBox(message, "Sitowiak", platform::MB_OK | platform::MB_ICONWARNING);
    });

    // One copy per settings folder: a second would fight the first for the
    // port and overwrite its settings at exit.
    platform::InstanceLock instance(platform::InstanceLockFile());
    if (!instance.Held() && instance.Failure().empty()) {
        const std::optional<long> pid = instance.HolderPid();
        platform::MessageBox("Sitowiak już działa" +
                                 (pid ? " (PID " + std::to_string(*pid) + ")" : std::string()) +
                                 " z ustawieniami z folderu " + platform::ConfigFolder().string() +
                                 ". Druga kopia kończy pracę.",
                             "Sitowiak", platform::MB_OK | platform::MB_ICONERROR);
        return finish(1);
    }
    if (!instance.Held())
        platform::WriteLine(platform::LinePriority::kWarning,
                            "Nie można założyć blokady " + instance.Failure() +
                                ": druga kopia programu nie zostanie wykryta.");

    // The log window outlives the main window, whose destruction may still
    // write entries while it closes the connections.
    auto mainWindow = std::make_unique<proxy::TFormaBezdokumentowaPozycjonowanaStopkaNiusowa>();
    // Stored settings that could not be read: the window has said why (on
    // standard error here) and does not listen. Without a display nobody can
    // look at them, so the program ends with code 1 and writes nothing.
    if (mainWindow->SettingsUnreadable() && headless) {
        mainWindow.reset();
        return finish(1);
    }
    // Listening that "Aktywne" asks for could not start (the port is taken,
    // or below 1024 without the capability): the message has gone out, and a
    // service manager may start the program again later. The stored choice
    // stays as it was.
    if (mainWindow->ListeningFailed() && headless) {
        mainWindow.reset();
        return finish(1);
    }
    log::TLog log;
    LogToLines logToLines(log);
    mainWindow->Core().SetLog(headless ? static_cast<log::LogSink*>(&logToLines) : &log);
    frame::TFormaStandardowa hiddenStandard;
    frame::TFormaBezdokumentowa hiddenWithStore;
    frame::TFormaBezdokumentowaPozycjonowana hiddenPlaced;
    platform::QuitSignals quitSignals(mainWindow.get());
    quitSignals.SetReloadHandler([&mainWindow] { mainWindow->ReloadSettings(); });
    mainWindow->show();
    mainWindow->Core().ReportReady();
    int code = app.exec();
    // Closing the window stored the settings; a failed store has been
    // reported and ends the program with code 1.
    bool stored = mainWindow->SettingsStored();
    mainWindow.reset();
    return finish(stored ? code : 1);
}

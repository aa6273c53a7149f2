// SIGINT and SIGTERM close the main window as if the user had closed it:
// settings stored, connections closed, exit code 0. SIGHUP does the same
// unless a reload handler is set, which it then calls. The signal handler
// only writes a byte to a pipe; the event loop reads it and closes the window
// on the GUI thread.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;
class QWidget;

namespace sitowiak::platform {

// Installs the handlers without anyone to tell yet: called first thing at
// start, so that a signal during start-up is kept until QuitSignals exists
// and then closes the window like any other. Returns false when the pipe
// cannot be made.
bool InstallQuitSignalHandlers();

// Gives the three signals their default action back (the command-line
// modes run without an event loop) and says whether one came meanwhile.
bool RestoreDefaultQuitSignals();

class QuitSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; `window` is closed when a signal arrives.
    QuitSignals(QWidget* window, QObject* parent = nullptr);
    ~QuitSignals() override;

    // What SIGHUP does instead of closing the window.
    void SetReloadHandler(std::function<void()> reload) { m_reload = std::move(reload); }

private:
    void OnSignal();

    QWidget* m_window;
    QSocketNotifier* m_notifier = nullptr;
    std::function<void()> m_reload;
};

}  // namespace sitowiak::platform

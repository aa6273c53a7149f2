// SIGINT, SIGTERM and SIGHUP close the main window as if the user had closed
// it: settings stored, connections closed, exit code 0. The signal handler
// only writes a byte to a pipe; the event loop reads it and closes the window
// on the GUI thread.
#pragma once

#include <QObject>

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

private:
    void OnSignal();

    QWidget* m_window;
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace sitowiak::platform

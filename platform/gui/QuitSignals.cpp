#include "QuitSignals.h"

#include "platform/gui/MessageBox.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <csignal>

namespace sitowiak::platform {
namespace {

int g_pipe[2] = {-1, -1};

void Handler(int signo) {
    int saved = errno;
    char byte = static_cast<char>(signo);
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

bool InstallQuitSignalHandlers() {
    if (g_pipe[0] >= 0) return true;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signo, &action, nullptr);
    return true;
}

bool RestoreDefaultQuitSignals() {
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) ::signal(signo, SIG_DFL);
    if (g_pipe[0] < 0) return false;
    char byte;
    return ::read(g_pipe[0], &byte, 1) == 1;
}

QuitSignals::QuitSignals(QWidget* window, QObject* parent) : QObject(parent), m_window(window) {
    if (!InstallQuitSignalHandlers()) return;
    // A signal that came while the program was starting waits in the pipe
    // and is seen as soon as the event loop runs.
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::OnSignal);
}

QuitSignals::~QuitSignals() {
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) ::signal(signo, SIG_DFL);
}

void QuitSignals::OnSignal() {
    char buf[64];
    bool quit = false;
    bool reload = false;
    ssize_t n;
    while ((n = ::read(g_pipe[0], buf, sizeof buf)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == SIGHUP && m_reload)
                reload = true;
            else
                quit = true;
        }
    }
    if (!quit) {
        if (reload) m_reload();
        return;
    }
    // Whatever closing still has to say goes to standard error: at logout
    // or under a service manager nobody answers a box, and the process must
    // end.
    SendMessagesToStandardError();
    if (m_window) m_window->close();
}

}  // namespace sitowiak::platform

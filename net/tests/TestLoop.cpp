#include "net/tests/TestLoop.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

namespace sitowiak::net::test {

void EnsureApp() {
    static int argc = 1;
    static char name[] = "net_tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
}

bool RunUntil(const std::function<bool()>& done, int watchdogMs) {
    EnsureApp();
    QTimer tick;  // wakes the loop so the watchdog is looked at
    tick.start(20);
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > watchdogMs) {
            ADD_FAILURE() << "watchdog: the condition did not come true";
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void Drain() {
    EnsureApp();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

namespace {
sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}
}  // namespace

int ListenLoopback(int* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0)
        ADD_FAILURE() << "cannot listen";
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

int ConnectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        ADD_FAILURE() << "cannot connect";
    return fd;
}

int AcceptBlocking(int listener) {
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

void SendAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

std::string ReadExactly(int fd, std::size_t count) {
    std::string out;
    char buf[4096];
    while (out.size() < count) {
        const ssize_t n = ::recv(fd, buf, std::min(sizeof buf, count - out.size()), 0);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

std::string ReadToEnd(int fd) {
    std::string out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

void CloseFd(int fd) {
    ::close(fd);
}

void ResetFd(int fd) {
    linger li{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &li, sizeof li);
    ::close(fd);
}

int OpenFdCount() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    while (dirent* e = ::readdir(dir))
        if (e->d_name[0] != '.') ++count;
    ::closedir(dir);
    return count - 1;  // the directory itself
}

}  // namespace sitowiak::net::test

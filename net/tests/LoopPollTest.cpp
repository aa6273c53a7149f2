// The event loop waits in the reactor's epoll_wait, glib's descriptors
// (Qt's other socket notifiers) registered beside the sockets. A notifier
// must fire as from poll(), also when its descriptor number was closed and
// opened again between two waits, and a socket that takes over a number
// glib had must keep its readiness. Sockets are served in nested loops.
//
// Registered last in net_tests: its final case makes the loop fall back to
// glib's own poll for the rest of the process.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include <glib.h>
#include <QSocketNotifier>
#include <QTimer>

#include "net/tests/TestLoop.h"
#include "platform/events/SocketChannel.h"

namespace sitowiak::net {
namespace {

using platform::SocketChannel;

void DrainFd(int fd) {
    char scratch[64];
    while (::read(fd, scratch, sizeof scratch) > 0) {
    }
}

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe2(fd, O_CLOEXEC | O_NONBLOCK), 0); }
    ~Pipe() { Close(); }
    void Close() {
        for (int& f : fd) {
            if (f >= 0) ::close(f);
            f = -1;
        }
    }
};

// A read notifier that drains its descriptor and counts its reports.
std::unique_ptr<QSocketNotifier> CountingNotifier(int fd, int& count) {
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [fd, &count] {
        DrainFd(fd);
        ++count;
    });
    return notifier;
}

// A channel watching fd for reading that drains it and counts its reports.
std::unique_ptr<SocketChannel> CountingChannel(int fd, int& count) {
    auto channel = std::make_unique<SocketChannel>(nullptr, [&count](int ready, bool, bool) {
        DrainFd(ready);
        ++count;
    });
    channel->Watch(fd, true, false);
    return channel;
}

TEST(LoopPollTest, NotifiersAndSocketsShareTheReactorsWait) {
    test::EnsureApp();
    int sockets[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sockets), 0);
    int socketReports = 0;
    auto channel = CountingChannel(sockets[0], socketReports);
    ASSERT_NE(g_main_context_get_poll_func(g_main_context_default()), &g_poll)
        << "the loop still waits in glib's own poll";

    // A notifier and a socket ready together are both reported.
    auto pipe = std::make_unique<Pipe>();
    int pipeReports = 0;
    auto notifier = CountingNotifier(pipe->fd[0], pipeReports);
    ASSERT_EQ(::write(pipe->fd[1], "x", 1), 1);
    ASSERT_EQ(::write(sockets[1], "y", 1), 1);
    ASSERT_TRUE(test::RunUntil([&] { return pipeReports == 1 && socketReports == 1; }));

    // A readiness handler that runs a nested loop (a message box would)
    // still has the other sockets served inside it.
    int inner[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, inner), 0);
    int innerReports = 0;
    auto innerChannel = CountingChannel(inner[0], innerReports);
    bool nestedDone = false;
    auto outer = std::make_unique<SocketChannel>(nullptr, [&](int fd, bool, bool) {
        DrainFd(fd);
        ASSERT_EQ(::write(inner[1], "n", 1), 1);
        nestedDone = test::RunUntil([&] { return innerReports == 1; }, 2000);
    });
    outer->Watch(sockets[1], true, false);
    ASSERT_EQ(::write(sockets[0], "o", 1), 1);
    ASSERT_TRUE(test::RunUntil([&] { return nestedDone; }));
    outer.reset();
    innerChannel.reset();
    for (int fd : inner) ::close(fd);

    // Within one handler the notifier goes, its pipe is closed and a new
    // one opens on the same numbers with a new notifier: glib's list of
    // descriptors looks the same before and after.
    const int oldNumber = pipe->fd[0];
    QTimer::singleShot(0, [&] {
        notifier.reset();
        pipe.reset();
        pipe = std::make_unique<Pipe>();
        notifier = CountingNotifier(pipe->fd[0], pipeReports);
    });
    test::Drain();
    ASSERT_EQ(pipe->fd[0], oldNumber) << "the new pipe did not reuse the number";
    ASSERT_EQ(::write(pipe->fd[1], "x", 1), 1);
    EXPECT_TRUE(test::RunUntil([&] { return pipeReports == 2; }));

    // The notifier goes and a socket the reactor watches takes its number.
    const int freed = pipe->fd[0];
    notifier.reset();
    pipe.reset();
    int taken[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, taken), 0);
    ASSERT_EQ(taken[0], freed);
    int takenReports = 0;
    auto takenChannel = CountingChannel(taken[0], takenReports);
    test::Drain();  // waits in which glib's list no longer holds the number
    ASSERT_EQ(::write(taken[1], "z", 1), 1);
    EXPECT_TRUE(test::RunUntil([&] { return takenReports == 1; }));

    // A regular file, which epoll does not take: glib's own poll waits from
    // now on, and both kinds of report still come.
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    int fileReports = 0;
    auto fileNotifier = std::make_unique<QSocketNotifier>(::fileno(file), QSocketNotifier::Read);
    QObject::connect(fileNotifier.get(), &QSocketNotifier::activated, [&] {
        ++fileReports;
        fileNotifier->setEnabled(false);  // a regular file is always readable
    });
    ASSERT_EQ(::write(sockets[1], "y", 1), 1);
    EXPECT_TRUE(test::RunUntil([&] { return fileReports == 1 && socketReports == 2; }));

    fileNotifier.reset();
    std::fclose(file);
    takenChannel.reset();
    channel.reset();
    for (int fd : {sockets[0], sockets[1], taken[0], taken[1]}) ::close(fd);
}

}  // namespace
}  // namespace sitowiak::net

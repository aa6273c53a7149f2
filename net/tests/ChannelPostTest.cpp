// Messages a channel posts to itself: never handled inside the call that
// posts them, in the order posted across channels, also when posted while
// readiness is being reported, and never to a channel that has gone.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "net/tests/TestLoop.h"
#include "platform/events/SocketChannel.h"

namespace sitowiak::net {
namespace {

using platform::ChannelMessage;
using platform::SocketChannel;

struct Pair {
    int fd[2] = {-1, -1};
    Pair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fd), 0); }
    ~Pair() {
        ::close(fd[0]);
        ::close(fd[1]);
    }
};

// A channel that logs each message as "<name> <number>".
std::unique_ptr<SocketChannel> Logging(std::vector<std::string>& log, const std::string& name,
                                       SocketChannel::ReadyHandler onReady = nullptr) {
    return std::make_unique<SocketChannel>(
        [&log, name](const ChannelMessage& m) { log.push_back(name + " " + std::to_string(m.Msg)); },
        std::move(onReady));
}

TEST(ChannelPostTest, PostsDuringAReadinessReportRunAfterItInOrderAndNotToTheGone) {
    test::EnsureApp();
    Pair pair;
    std::vector<std::string> log;
    std::unique_ptr<SocketChannel> x, y, gone;
    x = Logging(log, "x", [&](int fd, bool, bool) {
        char byte;
        (void)::read(fd, &byte, 1);
        x->Watch(-1, false, false);
        x->Post({1});
        y->Post({2});
        gone->Post({3});
        x->Post({4});
        gone.reset();  // its message must not reach it
        log.push_back("ready returns");
    });
    y = std::make_unique<SocketChannel>(
        [&](const ChannelMessage& m) {
            log.push_back("y " + std::to_string(m.Msg));
            if (m.Msg == 2) y->Post({5});  // posted while kept messages run
        },
        nullptr);
    gone = Logging(log, "gone");
    x->Watch(pair.fd[0], true, false);
    ASSERT_EQ(::write(pair.fd[1], "!", 1), 1);
    test::RunUntil([&] { return log.size() == 5; });
    test::Drain();
    EXPECT_EQ(log, (std::vector<std::string>{"ready returns", "x 1", "y 2", "x 4", "y 5"}));
}

// A handler that posts and then waits in a nested loop gets its message
// there: the wait does not stall on a message kept for the report's end.
TEST(ChannelPostTest, ANestedWaitRunsWhatWasPostedBeforeIt) {
    test::EnsureApp();
    Pair pair;
    std::vector<std::string> log;
    std::unique_ptr<SocketChannel> x;
    x = Logging(log, "x", [&](int fd, bool, bool) {
        char byte;
        (void)::read(fd, &byte, 1);
        x->Watch(-1, false, false);
        x->Post({7});
        for (int i = 0; i < 50 && log.empty(); ++i) SocketChannel::WaitForEvents(20);
        log.push_back("ready returns");
    });
    x->Watch(pair.fd[0], true, false);
    ASSERT_EQ(::write(pair.fd[1], "!", 1), 1);
    test::RunUntil([&] { return log.size() == 2; });
    EXPECT_EQ(log, (std::vector<std::string>{"x 7", "ready returns"}));
}

}  // namespace
}  // namespace sitowiak::net

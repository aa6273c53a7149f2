// How a connection ends: a graceful Close, an abortive Abort, a half
// shutdown, a connect that fails at once, and calls on a socket without a
// handle. Each checks what the peer receives or the exact events and codes.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <cerrno>

#include <thread>

#include "net/tests/ConnectedPair.h"

namespace sitowiak::net {
namespace {

using Log = std::vector<std::string>;
using test::Connected;
using test::MessageOf;

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 13 % 251);
    return s;
}

// Reads until the end of the connection; returns 0 for the peer's orderly
// end, otherwise the errno that ended it (ECONNRESET for a reset).
int ReadUntilEnd(int fd, std::string* got) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0) return 0;
        if (n < 0) return errno;
        got->append(buf, static_cast<std::size_t>(n));
    }
}

void SetBuffer(int fd, int option, int size) {
    ::setsockopt(fd, SOL_SOCKET, option, &size, sizeof size);
}

// The peer reads nothing while most of what we sent waits for it in our
// kernel, and has sent bytes we never read: Close still hands over every
// byte and ends with the orderly end. Only a caller who chose linger on with
// 0 s gets the reset that loses the rest (an explicit choice is kept).
TEST(ConnectionEndTest, CloseDeliversWhatThePeerHasNotReadYet) {
    for (bool zeroLinger : {false, true}) {
        Connected c(true, [&](TWSocket& s) {
            if (zeroLinger) s.SetLingerOnOff(wsLingerOn);
        });
        SetBuffer(c.peer, SO_RCVBUF, 65536);
        SetBuffer(c.sock.Handle(), SO_SNDBUF, 1 << 20);
        c.sock.Pause();  // the peer's bytes stay unread
        test::SendAll(c.peer, "unread");
        test::RunUntil([&] { return c.sock.RcvdCount() == 6; });
        const std::string data = Pattern(256 << 10);
        c.sock.Send(data.data(), static_cast<int>(data.size()));
        ASSERT_TRUE(c.sock.AllSent());  // all in the kernel, much not yet with the peer
        c.sock.Close();
        std::string got;
        const int end = ReadUntilEnd(c.peer, &got);
        if (zeroLinger) {
            EXPECT_EQ(end, ECONNRESET);
            EXPECT_LT(got.size(), data.size());
        } else {
            EXPECT_EQ(end, 0);
            EXPECT_TRUE(got == data) << got.size() << " of " << data.size() << " bytes";
        }
    }
}

// Abort resets the connection, where Close would end it in order.
TEST(ConnectionEndTest, AbortResetsTheConnection) {
    Connected c;
    c.rec.log.clear();
    c.sock.Abort();
    std::string got;
    EXPECT_EQ(ReadUntilEnd(c.peer, &got), ECONNRESET);
    EXPECT_EQ(c.rec.log, (Log{"state connected->closed", "closed 0"}));
    EXPECT_EQ(c.sock.LingerOnOff(), wsLingerOff);  // the default is back
}

// Shutdown(1) with bytes still queued: they all go out before the end;
// a later Send is refused with 10058 and is nobody's close.
TEST(ConnectionEndTest, ShutdownOfSendingDeliversTheQueueAndRefusesMore) {
    Connected c;
    SetBuffer(c.peer, SO_RCVBUF, 65536);
    SetBuffer(c.sock.Handle(), SO_SNDBUF, 65536);
    const std::string data = Pattern(2 << 20);
    c.sock.Send(data.data(), static_cast<int>(data.size()));
    ASSERT_GT(c.sock.BufferedByteCount(), 0);
    c.rec.log.clear();
    c.sock.Shutdown(1);
    EXPECT_EQ(MessageOf([&] { c.sock.Send("late", 4); }),
              "Error 10058 in function TryToSend failed\r\nCan't send after socket shutdown");
    EXPECT_EQ(c.sock.LastError(), 10058);
    std::string got;
    int end = -1;
    std::thread reader([&] { end = ReadUntilEnd(c.peer, &got); });
    test::RunUntil([&] { return c.rec.Has("sent 0"); }, 20000);
    reader.join();
    EXPECT_EQ(end, 0);
    EXPECT_TRUE(got == data) << got.size() << " of " << data.size() << " bytes";
    EXPECT_EQ(c.sock.State(), wsConnected);  // the peer may still talk to us
    test::SendAll(c.peer, "reply");
    c.PeerCloses();
    test::RunUntil([&] { return c.sock.State() == wsClosed; });
    EXPECT_EQ(c.rec.log, (Log{"sent 0", "data reply", "closed 0", "state connected->closed"}));
}

// Shutdown(0) and Shutdown(2) end our own side only: no close event, the
// socket stays connected until it is closed.
TEST(ConnectionEndTest, ShutdownOfReadingRaisesNoCloseEvent) {
    Connected c;
    c.rec.log.clear();
    c.sock.Shutdown(0);
    c.sock.SendStr("still here");
    EXPECT_EQ(test::ReadExactly(c.peer, 10), "still here");
    c.sock.Shutdown(2);
    std::string got;
    EXPECT_EQ(ReadUntilEnd(c.peer, &got), 0);
    test::Drain();
    EXPECT_EQ(c.sock.State(), wsConnected);
    c.sock.Close();
    EXPECT_EQ(c.rec.log, (Log{"sent 0", "state connected->closed", "closed 0"}));
}

// Addresses a TCP connect refuses at once: the exception comes with the
// handle already closed, and nothing is raised later.
TEST(ConnectionEndTest, ConnectThatFailsAtOnceLeavesNoHandle) {
    test::EnsureApp();
    {
        // The thread's readiness reactor is made with the first socket and
        // keeps its descriptor: make it before counting.
        test::Connected warm;
    }
    test::Drain();
    for (const char* addr : {"224.0.0.1", "255.255.255.255"}) {
        const int fds = test::OpenFdCount();
        TWSocket sock;
        test::EventRecorder rec;
        rec.Attach(sock);
        sock.SetAddr(addr);
        sock.SetPort("119");
        EXPECT_EQ(MessageOf([&] { sock.Connect(); }),
                  "Error 10051 in function Connect\r\nNetwork is unreachable")
            << addr;
        EXPECT_EQ(sock.State(), wsClosed);
        EXPECT_EQ(sock.Handle(), INVALID_SOCKET);
        EXPECT_EQ(test::OpenFdCount(), fds);
        test::Drain();
        EXPECT_EQ(rec.log, (Log{"state closed->opened", "state opened->closed"})) << addr;
        EXPECT_EQ(sock.LastError(), 10051);
    }
}

TEST(ConnectionEndTest, CallsWithoutAHandleReportNonSocket) {
    test::EnsureApp();
    TWSocket idle;
    char byte;
    EXPECT_EQ(idle.Receive(&byte, 1), -1);
    EXPECT_EQ(idle.LastError(), 10038);
    EXPECT_EQ(MessageOf([&] { idle.ReceiveStr(); }),
              "Error 10038 in function ioctlSocket\r\nSocket operation on non-socket");
}

}  // namespace
}  // namespace sitowiak::net

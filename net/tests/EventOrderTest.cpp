// Orders of events of one connection, and what each failure turns into.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "net/TWSocket.h"
#include "net/tests/ConnectedPair.h"
#include "net/tests/TestLoop.h"

namespace sitowiak::net {
namespace {

using test::EventRecorder;
using Log = std::vector<std::string>;

using test::Connected;
using test::FreePort;
using test::MessageOf;

TEST(EventOrderTest, SuccessfulConnect) {
    Connected c;
    EXPECT_EQ(c.rec.log, (Log{"state closed->opened", "state opened->connecting",
                              "state connecting->connected", "connected 0"}));
}

TEST(EventOrderTest, RefusedConnectReportsTheCodeThenCloses) {
    test::EnsureApp();
    TWSocket sock;
    EventRecorder rec;
    rec.Attach(sock);
    sock.SetAddr("127.0.0.1");
    sock.SetPort(std::to_string(FreePort()));
    sock.Connect();
    test::RunUntil([&] { return rec.Has("closed 0"); });
    EXPECT_EQ(rec.log, (Log{"state closed->opened", "state opened->connecting",
                            "state connecting->connected", "connected 10061",
                            "state connected->closed", "closed 0"}));
}

TEST(EventOrderTest, DataSentComesAfterSendHasReturned) {
    Connected c;
    c.rec.log.clear();
    EXPECT_EQ(c.sock.Send("hello", 5), 5);
    c.rec.log.push_back("send returned");
    EXPECT_EQ(c.sock.Send("", 0), 0);  // a zero-byte Send also ends in OnDataSent
    test::RunUntil([&] { return c.rec.Count("sent 0") == 2; });
    EXPECT_EQ(c.rec.log, (Log{"send returned", "sent 0", "sent 0"}));
    EXPECT_EQ(test::ReadExactly(c.peer, 5), "hello");
    c.sock.Flush();  // returns: nothing waits
}

TEST(EventOrderTest, RemoteCloseDeliversDataFirstAndReportsOnce) {
    Connected c;
    c.rec.log.clear();
    test::SendAll(c.peer, "last words");
    test::CloseFd(c.peer);
    c.peer = -1;
    test::RunUntil([&] { return c.sock.State() == wsClosed; });
    test::Drain();
    EXPECT_EQ(c.rec.received, "last words");
    ASSERT_GE(c.rec.log.size(), 3u);
    EXPECT_EQ(c.rec.log[c.rec.log.size() - 2], "closed 0");
    EXPECT_EQ(c.rec.log.back(), "state connected->closed");
    EXPECT_EQ(c.rec.Count("closed 0"), 1);
}

TEST(EventOrderTest, PeerResetEndsInOneSessionClosedWithTheResetCode) {
    for (bool writeFirst : {false, true}) {
        Connected c;
        test::ResetFd(c.peer);
        c.peer = -1;
        // A failed write and the close notification both see the end; it is
        // reported once.
        if (writeFirst) {
            EXPECT_EQ(c.sock.Send("x", 1), 1);
        }
        test::RunUntil([&] { return c.sock.State() == wsClosed; });
        test::Drain();
        EXPECT_EQ(c.rec.Count("closed 10054"), 1) << "writeFirst " << writeFirst;
        EXPECT_EQ(c.rec.Count("closed 0"), 0);
    }
}

TEST(EventOrderTest, LocalCloseReportsOnceAndResetsTheSettings) {
    Connected c;
    c.rec.log.clear();
    c.sock.Close();
    c.sock.Close();  // closed already: nothing
    EXPECT_EQ(c.rec.log, (Log{"state connected->closed", "closed 0"}));
    EXPECT_EQ(c.sock.LocalPort(), "0");
    EXPECT_EQ(MessageOf([&] { c.sock.Connect(); }), "Connect: No Port Specified");
    c.sock.SetPort(c.sock.Port());  // the same text again assigns it again
    c.sock.SetAddr(c.sock.Addr());
    c.sock.Connect();
    EXPECT_EQ(c.sock.State(), wsConnecting);
}

TEST(EventOrderTest, OperationsThatNeedAnotherState) {
    test::EnsureApp();
    TWSocket idle;
    EXPECT_EQ(MessageOf([&] { idle.Send("x", 1); }),
              "Error 10057 in function Send\r\nSocket is not connected");
    EXPECT_EQ(idle.State(), wsClosed);
    EXPECT_EQ(idle.LastError(), 10057);
    EXPECT_EQ(idle.PeerAddr(), "error");
    EXPECT_EQ(MessageOf([&] { idle.Connect(); }), "Connect: No Port Specified");
    idle.SetPort("119");
    EXPECT_EQ(MessageOf([&] { idle.Connect(); }), "Connect: No IP Address Specified");
    idle.SetAddr("nosuchhost.invalid");
    EXPECT_EQ(MessageOf([&] { idle.Connect(); }),
              "connect: WSocketResolveHost: Cannot convert host address 'nosuchhost.invalid', "
              "Error #11001");
    EXPECT_EQ(MessageOf([&] { idle.SetLocalAddr("x.y"); }), "SetLocalAddr(): Invalid IP address");
    Connected c;
    EXPECT_EQ(MessageOf([&] { c.sock.SetAddr("10.0.0.1"); }), "Cannot change Addr if not closed");
    EXPECT_EQ(MessageOf([&] { c.sock.SetPort("1"); }), "Cannot change Port if not closed");
    EXPECT_EQ(MessageOf([&] { c.sock.Connect(); }), "Connect: Socket already in use");
    EXPECT_EQ(c.sock.PeerAddr(), "127.0.0.1");
}

TEST(EventOrderTest, ExceptionInDataHandlerIsDroppedAndDeliveryGoesOn) {
    Connected c(false);
    int calls = 0;
    std::string got;
    c.sock.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        if (++calls == 1) throw ESocketException("handler failed");
        got += s->ReceiveStr();
    };
    bool bg = false;
    c.sock.OnBgException = [&](TCustomWSocket*, const std::exception&, bool&) { bg = true; };
    test::SendAll(c.peer, "abc");
    test::RunUntil([&] { return got == "abc"; });
    EXPECT_FALSE(bg);
    EXPECT_EQ(c.sock.State(), wsConnected);
}

TEST(EventOrderTest, ExceptionInConnectHandlerAbortsThroughBgException) {
    test::EnsureApp();
    int port = 0;
    const int listener = test::ListenLoopback(&port);
    TWSocket sock;
    EventRecorder rec;
    rec.Attach(sock);
    sock.OnSessionConnected = [](TCustomWSocket*, std::uint16_t) {
        throw ESocketException("refused by handler");
    };
    std::string seen;
    sock.OnBgException = [&](TCustomWSocket*, const std::exception& e, bool& canClose) {
        seen = e.what();
        EXPECT_TRUE(canClose);
    };
    sock.SetAddr("127.0.0.1");
    sock.SetPort(std::to_string(port));
    sock.Connect();
    test::RunUntil([&] { return sock.State() == wsClosed; });
    EXPECT_EQ(seen, "refused by handler");
    EXPECT_EQ(rec.Count("closed 0"), 1);
    test::CloseFd(listener);
}

TEST(EventOrderTest, TestMessageGoesToBgExceptionAndCanCloseFalseKeepsTheSocket) {
    Connected c;
    std::string seen;
    c.sock.OnBgException = [&](TCustomWSocket*, const std::exception& e, bool& canClose) {
        seen = e.what();
        canClose = false;
    };
    c.sock.PostMessage(WM_TRIGGER_EXCEPTION);
    test::RunUntil([&] { return !seen.empty(); });
    EXPECT_EQ(seen, "Test exception in WSocket");
    EXPECT_EQ(c.sock.State(), wsConnected);
}

TEST(EventOrderTest, WithoutDataHandlerIncomingDataIsDiscarded) {
    Connected c(false);
    test::SendAll(c.peer, std::string(5000, 'z'));
    test::CloseFd(c.peer);
    c.peer = -1;
    test::RunUntil([&] { return c.sock.State() == wsClosed; });
    EXPECT_EQ(c.rec.Count("closed 0"), 1);
}

TEST(EventOrderTest, PauseHoldsEventsBackUntilResume) {
    Connected c;
    c.sock.Pause();
    test::SendAll(c.peer, "held");
    test::Drain();
    EXPECT_EQ(c.rec.received, "");
    c.sock.Resume();
    test::RunUntil([&] { return c.rec.received == "held"; });
}

// The handler pauses on the first data without reading it; more data and
// the peer's close come while paused. Resume delivers all of it, then the
// close, in plain and in line mode.
TEST(EventOrderTest, PauseInAHandlerThatHasNotReadThenResumeDeliversAll) {
    for (bool lineMode : {false, true}) {
        Connected c(false);
        c.sock.SetLineMode(lineMode);
        Log got;
        c.sock.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
            if (got.empty() && !s->Paused()) {
                got.push_back("paused");
                s->Pause();
                return;
            }
            const std::string part = s->ReceiveStr();
            if (!part.empty()) got.push_back(part);
        };
        test::SendAll(c.peer, "one\r\n");
        test::RunUntil([&] { return !got.empty(); });
        test::SendAll(c.peer, "two\r\n");
        c.PeerCloses();
        test::Drain();
        EXPECT_EQ(got, (Log{"paused"}));
        EXPECT_EQ(c.sock.State(), wsConnected);
        c.rec.log.clear();
        c.sock.Resume();
        test::RunUntil([&] { return c.sock.State() == wsClosed; });
        const Log expected =
            lineMode ? Log{"paused", "one\r\n", "two\r\n"} : Log{"paused", "one\r\ntwo\r\n"};
        EXPECT_EQ(got, expected) << "lineMode " << lineMode;
        EXPECT_EQ(c.rec.log, (Log{"closed 0", "state connected->closed"}));
    }
}

// A handler that does not read is called once per notification, not in a
// loop that never returns to the event loop; the bytes stay for a later read.
TEST(EventOrderTest, DataHandlerThatDoesNotReadIsNotCalledInALoop) {
    for (bool lineMode : {false, true}) {
        Connected c(false);
        c.sock.SetLineMode(lineMode);
        int calls = 0;
        c.sock.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
            if (++calls == 1000) s->Pause();  // ends a spinning loop: the test fails
        };
        test::SendAll(c.peer, "x\r\n");
        test::RunUntil([&] { return calls > 0; });
        test::Drain();
        EXPECT_EQ(calls, 1) << "lineMode " << lineMode;
        EXPECT_EQ(c.sock.ReceiveStr(), "x\r\n");
    }
}

TEST(EventOrderTest, WaitForCloseDeliversDataUntilThePeerCloses) {
    Connected c;
    std::thread peer([fd = c.peer] {
        test::SendAll(fd, "goodbye");
        test::CloseFd(fd);
    });
    c.peer = -1;
    c.sock.WaitForClose();
    peer.join();
    EXPECT_EQ(c.sock.State(), wsClosed);
    EXPECT_EQ(c.rec.received, "goodbye");
}

// Regression: "socket closes and releases itself from its own close handler".
TEST(EventOrderTest, CloseDelayedAndReleaseFromInsideHandlers) {
    test::EnsureApp();
    const int before = winsock::SocketObjectCount();
    int port = 0;
    const int listener = test::ListenLoopback(&port);
    auto* sock = new TWSocket;
    bool closedSeen = false;
    sock->OnSessionConnected = [](TCustomWSocket* s, std::uint16_t) {
        s->CloseDelayed();
        EXPECT_EQ(s->State(), wsConnected);  // not yet: after this handler
    };
    sock->OnSessionClosed = [&](TCustomWSocket* s, std::uint16_t) {
        closedSeen = true;
        s->Release();
    };
    sock->SetAddr("127.0.0.1");
    sock->SetPort(std::to_string(port));
    sock->Connect();
    test::RunUntil([&] { return closedSeen && winsock::SocketObjectCount() == before; });
    test::CloseFd(listener);
}

}  // namespace
}  // namespace sitowiak::net

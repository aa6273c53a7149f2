// The send queue while the network takes less than is sent: Send never
// blocks or refuses, nothing is lost or reordered, and OnDataSent comes
// once the queue has drained.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <chrono>
#include <future>
#include <thread>

#include "net/TWSocket.h"
#include "net/tests/TestLoop.h"

namespace sitowiak::net {
namespace {

constexpr int kChunk = 64 * 1024;
constexpr int kChunks = 32;  // 2 MiB, far more than the small socket buffers hold

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 7 % 251);
    return s;
}

struct SlowPeer {
    int listener = -1, peer = -1;
    TWSocket sock;
    long long sentReported = 0;
    int dataSent = 0;

    SlowPeer() {
        test::EnsureApp();
        int port = 0;
        listener = test::ListenLoopback(&port);
        sock.SetAddr("127.0.0.1");
        sock.SetPort(std::to_string(port));
        sock.OnSendData = [this](TCustomWSocket*, int n) { sentReported += n; };
        sock.OnDataSent = [this](TCustomWSocket*, std::uint16_t) { ++dataSent; };
        sock.Connect();
        peer = test::AcceptBlocking(listener);
        // Small, but not so small that loopback's 64 KiB segments stall
        // on the zero-window probe timer.
        const int small = 65536;
        ::setsockopt(peer, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        test::RunUntil([&] { return sock.State() == wsConnected; });
        ::setsockopt(sock.Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        test::Drain();
        dataSent = 0;
    }
    ~SlowPeer() {
        test::CloseFd(peer);
        test::CloseFd(listener);
    }
    std::string QueueAll(const std::string& data) {
        for (int i = 0; i < kChunks; ++i)
            EXPECT_EQ(sock.Send(data.data() + i * kChunk, kChunk), kChunk);
        return data;
    }
};

TEST(NetworkFullTest, QueueGrowsWhilePeerDoesNotReadAndDrainsInOrder) {
    SlowPeer p;
    const std::string data = Pattern(std::size_t{kChunk} * kChunks);
    p.QueueAll(data);
    // The peer reads nothing yet: most of it waits in the queue.
    EXPECT_GT(p.sock.BufferedByteCount(), static_cast<std::int64_t>(data.size() / 2));
    EXPECT_FALSE(p.sock.AllSent());
    test::Drain();
    EXPECT_EQ(p.dataSent, 0);

    std::string got;
    std::thread reader([&] { got = test::ReadExactly(p.peer, data.size()); });
    test::RunUntil([&] { return p.dataSent > 0; }, 20000);
    reader.join();
    EXPECT_EQ(got, data);
    EXPECT_EQ(p.sentReported, static_cast<long long>(data.size()));
    EXPECT_EQ(p.sock.BufferedByteCount(), 0);
    test::Drain();
    EXPECT_EQ(p.dataSent, 1);
}

TEST(NetworkFullTest, FlushWaitsUntilTheQueueIsEmpty) {
    SlowPeer p;
    const std::string data = Pattern(std::size_t{kChunk} * kChunks);
    p.QueueAll(data);
    std::string got;
    std::thread reader([&] { got = test::ReadExactly(p.peer, data.size()); });
    p.sock.Flush();
    EXPECT_TRUE(p.sock.AllSent());
    reader.join();
    EXPECT_EQ(got, data);
}

// A peer that reads nothing: Flush returns after FlushTimeout with 10060,
// and what it could not write still reaches the peer afterwards.
TEST(NetworkFullTest, FlushGivesUpAfterFlushTimeoutAndKeepsTheRest) {
    SlowPeer p;
    const std::string data = Pattern(std::size_t{kChunk} * kChunks);
    p.QueueAll(data);
    p.sock.SetFlushTimeout(1);
    // The peer starts reading once Flush has returned; a Flush that waits
    // for ever is ended after 10 s by the peer reading all the same.
    std::promise<void> flushed;
    std::string got;
    std::thread reader([&, returned = flushed.get_future()] {
        returned.wait_for(std::chrono::seconds(10));
        got = test::ReadExactly(p.peer, data.size());
    });
    p.sock.Flush();
    flushed.set_value();
    EXPECT_FALSE(p.sock.AllSent());
    EXPECT_EQ(p.sock.LastError(), 10060);
    test::RunUntil([&] { return p.dataSent > 0; }, 20000);
    reader.join();
    EXPECT_TRUE(got == data);
}

// Regression: "Send called from OnSendData while the first Send's bytes are
// partly written".
TEST(NetworkFullTest, SendFromSendDataHandlerKeepsTheOrder) {
    SlowPeer p;
    const std::string first = Pattern(std::size_t{kChunk} * 8);
    const std::string second(100000, 'S');
    bool once = false;
    p.sock.OnSendData = [&](TCustomWSocket* s, int) {
        if (!once) {
            once = true;
            s->Send(second.data(), static_cast<int>(second.size()));
        }
    };
    p.sock.Send(first.data(), static_cast<int>(first.size()));
    std::string got;
    std::thread reader([&] { got = test::ReadExactly(p.peer, first.size() + second.size()); });
    test::RunUntil([&] { return p.dataSent > 0; }, 20000);
    reader.join();
    EXPECT_TRUE(got == first + second);
}

}  // namespace
}  // namespace sitowiak::net

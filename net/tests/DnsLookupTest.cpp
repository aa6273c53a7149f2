// Asynchronous name lookups: answers, replacement, cancellation, and a
// socket that goes away while its lookup runs.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "net/tests/ConnectedPair.h"

namespace sitowiak::net {
namespace {

struct Lookup {
    TWSocket sock;
    std::vector<int> done;
    Lookup() {
        test::EnsureApp();
        sock.OnDnsLookupDone = [this](TCustomWSocket*, std::uint16_t e) { done.push_back(e); };
    }
};

TEST(DnsLookupTest, DottedAddressIsAnsweredBeforeReturning) {
    Lookup l;
    l.sock.DnsLookup("10.1.2.3");
    EXPECT_EQ(l.done, (std::vector<int>{0}));
    EXPECT_EQ(l.sock.DnsResult(), "10.1.2.3");
    EXPECT_TRUE(l.sock.DnsResultList().empty());
    test::Drain();
    EXPECT_EQ(l.done.size(), 1u);
}

TEST(DnsLookupTest, NamesResolveLaterAndUnknownNamesFail) {
    Lookup l;
    l.sock.DnsLookup("localhost");
    EXPECT_TRUE(l.done.empty());  // never inside the call
    test::RunUntil([&] { return !l.done.empty(); });
    EXPECT_EQ(l.done, (std::vector<int>{0}));
    EXPECT_EQ(l.sock.DnsResult(), "127.0.0.1");
    EXPECT_EQ(l.sock.DnsResultList().front(), "127.0.0.1");

    l.done.clear();
    l.sock.DnsLookup("nosuchhost.invalid");
    test::RunUntil([&] { return !l.done.empty(); });
    EXPECT_EQ(l.done, (std::vector<int>{11001}));
    EXPECT_EQ(l.sock.DnsResult(), "");

    l.done.clear();
    l.sock.ReverseDnsLookup("127.0.0.1");
    test::RunUntil([&] { return !l.done.empty(); });
    EXPECT_EQ(l.done, (std::vector<int>{0}));
    EXPECT_EQ(l.sock.DnsResult(), "localhost");
}

TEST(DnsLookupTest, EmptyNamesRaiseWithoutEvent) {
    Lookup l;
    EXPECT_EQ(test::MessageOf([&] { l.sock.DnsLookup(""); }), "DNS lookup: invalid host name.");
    EXPECT_EQ(test::MessageOf([&] { l.sock.ReverseDnsLookup(""); }),
              "ReverseDnsLookup: Invalid host name.");
    EXPECT_TRUE(l.done.empty());
    // With OnError assigned the lookup ends at once with WSAEINVAL instead.
    int errors = 0;
    l.sock.OnError = [&](TCustomWSocket*) { ++errors; };
    l.sock.DnsLookup("");
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(l.done, (std::vector<int>{10022}));
}

TEST(DnsLookupTest, SecondLookupReplacesThePendingOne) {
    Lookup l;
    l.sock.DnsLookup("nosuchhost.invalid");
    l.sock.DnsLookup("localhost");
    test::RunUntil([&] { return !l.done.empty(); });
    // Give the first worker's reply time to arrive, and be ignored.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    test::Drain();
    EXPECT_EQ(l.done, (std::vector<int>{0}));
    EXPECT_EQ(l.sock.DnsResult(), "127.0.0.1");
}

TEST(DnsLookupTest, CancelReportsInterruptedButDestructionReportsNothing) {
    Lookup l;
    l.sock.DnsLookup("localhost");
    l.sock.CancelDnsLookup();
    EXPECT_EQ(l.done, (std::vector<int>{10004}));
    l.sock.CancelDnsLookup();  // nothing pending: nothing
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    test::Drain();
    EXPECT_EQ(l.done.size(), 1u);

    int late = 0;
    const int before = winsock::SocketObjectCount();
    for (int i = 0; i < 20; ++i) {
        auto gone = std::make_unique<TWSocket>();
        gone->OnDnsLookupDone = [&](TCustomWSocket*, std::uint16_t) { ++late; };
        gone->DnsLookup(i % 2 ? "localhost" : "nosuchhost.invalid");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    test::Drain();
    EXPECT_EQ(late, 0);
    EXPECT_EQ(winsock::SocketObjectCount(), before);
}

}  // namespace
}  // namespace sitowiak::net

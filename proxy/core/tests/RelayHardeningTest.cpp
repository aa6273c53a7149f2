// The relay under pressure: readers past the size limits, a process out of
// descriptors, and listening switched off and on while readers are busy.
// Each case checks that one reader's trouble stays with that reader.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <netinet/in.h>

#include <cstring>

#include "proxy/core/NntpWords.h"
#include "proxy/core/tests/RelayHarness.h"

namespace sitowiak::testing {
namespace {

constexpr const char* kGreeting = "200 news.test ready\r\n";
constexpr const char* kGroupReply = "211 1 1 1 g\r\n";

const std::string kArticleReply =
    "220 1 <a@b> article\r\n"
    "From: a@b\r\nSubject: x\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\n"
    "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1.\r\n"
    ".\r\n";

// Greets, then answers ARTICLE with kArticleReply and anything else with
// the GROUP reply, until the proxy closes.
void ArticleServer(PeerConnection& c) {
    c.Send(kGreeting);
    for (;;) {
        std::string line = c.ReadLine(10000);
        if (!line.ends_with("\r\n")) return;
        c.Send(line.starts_with("ARTICLE") ? kArticleReply : kGroupReply);
    }
}

// Lowers the soft limit of open files so that exactly `room` more descriptors
// can be opened, for the life of the object. Gaps below the highest open
// descriptor are filled first, since a new descriptor takes the lowest free
// number.
class LowFileLimit {
public:
    explicit LowFileLimit(int room) {
        ::getrlimit(RLIMIT_NOFILE, &m_saved);
        int highest = 0;
        for (int fd = 0; fd < 4096; ++fd)
            if (::fcntl(fd, F_GETFD) != -1) highest = fd;
        for (;;) {
            int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0 || fd > highest) {
                if (fd >= 0) ::close(fd);
                break;
            }
            m_fillers.push_back(fd);
        }
        rlimit low = m_saved;
        low.rlim_cur = static_cast<rlim_t>(highest + 1 + room);
        ::setrlimit(RLIMIT_NOFILE, &low);
    }
    ~LowFileLimit() {
        ::setrlimit(RLIMIT_NOFILE, &m_saved);
        for (int fd : m_fillers) ::close(fd);
    }

private:
    rlimit m_saved{};
    std::vector<int> m_fillers;
};

// A reader socket made before the limit is lowered, connected later.
int ConnectedSocket(int fd, int port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin);
}

TEST_F(RelayTest, ACommandLineWithoutEndClosesThatReaderAloneAndNothingElse) {
    ScriptedServer upstream(ArticleServer);
    Listen(upstream);
    auto calm = PeerConnection::ConnectTo(ProxyPort());
    ASSERT_TRUE(PumpUntil([&] { return m_view.panels[1] == "1"; }));

    // A little more than the limit, never a line end: that reader is closed.
    bool closed = false;
    auto got = Reader(
        [&](PeerConnection& c) {
            c.ReadLine();
            c.Send(std::string(proxy::nntp::kMaxCommandLine + 8192, 'x'));
            return c.ReadToClose(&closed, 10000);
        },
        20000);
    EXPECT_TRUE(closed);
    EXPECT_EQ(got, "");

    // The other reader goes on as before; a line just under the limit passes.
    auto answer = std::async(std::launch::async, [&] {
        std::string all = calm->ReadLine();
        calm->Send("GROUP " + std::string(proxy::nntp::kMaxCommandLine / 2, 'g') + "\r\n");
        return all + calm->ReadLine();
    });
    PumpUntil([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
              10000);
    EXPECT_EQ(answer.get(), std::string(kGreeting) + kGroupReply);
    EXPECT_TRUE(m_core->Listening());
}

// A reader that asks for much and reads nothing: the proxy holds back the
// news server instead of queueing every reply. Before, all 48 MiB of
// replies waited in the proxy's memory. Once the reader reads, every byte
// arrives in order.
TEST_F(RelayTest, AReaderThatDoesNotReadHoldsBackTheServerNotTheProxysMemory) {
    const std::string body = "222 1 <a@b> body\r\n" + std::string(1 << 20, 'b') + "\r\n.\r\n";
    ScriptedServer upstream([&](PeerConnection& c) {
        c.Send(kGreeting);
        while (c.ReadLine(10000).ends_with("\r\n")) c.Send(body);
    });
    Listen(upstream);
    constexpr int kReplies = 48;
    auto reader = PeerConnection::ConnectTo(ProxyPort());
    std::string requests;
    for (int i = 0; i < kReplies; ++i) requests += "BODY 1\r\n";
    auto greeted = std::async(std::launch::async, [&] {
        std::string greeting = reader->ReadLine();
        reader->Send(requests);
        return greeting;
    });
    PumpUntil(
        [&] { return greeted.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    EXPECT_EQ(greeted.get(), kGreeting);
    int64_t most = 0;
    PumpUntil(
        [&] {
            auto& server = m_core->WSocketServer();
            if (server.ClientCount() == 1)
                most = std::max(most, server.Clients(0)->BufferedByteCount());
            return false;
        },
        1500);
    // The limit, plus what one read pass takes from the kernel's buffer.
    EXPECT_GT(most, proxy::nntp::kMaxQueuedForReader);
    EXPECT_LT(most, proxy::nntp::kMaxQueuedForReader + (12 << 20));

    auto all = std::async(std::launch::async, [&] {
        std::string got;
        for (int i = 0; i < kReplies; ++i) got += reader->ReadUntil("\r\n.\r\n", 10000);
        return got;
    });
    PumpUntil([&] { return all.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
              30000);
    std::string got = all.get();
    EXPECT_EQ(got.size(), body.size() * kReplies);
    EXPECT_TRUE(got == [&] {
        std::string expected;
        for (int i = 0; i < kReplies; ++i) expected += body;
        return expected;
    }());
}

// The news server sends more than the reader's queue may hold and closes at
// once: what was held back in the socket still reaches the reader.
TEST_F(RelayTest, WhatAHeldBackServerSentBeforeClosingStillReachesASlowReader) {
    const std::string big = "222 1 <a@b> body\r\n" + std::string(24 << 20, 'b') + "\r\n.\r\n";
    ScriptedServer upstream([&](PeerConnection& c) {
        c.Send(kGreeting);
        c.ReadLine();
        c.Send(big);
    });
    Listen(upstream);
    bool closed = false;
    auto got = Reader(
        [&](PeerConnection& c) {
            c.ReadLine();
            c.Send("BODY 1\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            return c.ReadToClose(&closed, 15000);
        },
        20000);
    EXPECT_TRUE(closed);
    EXPECT_EQ(got.size(), big.size());
    EXPECT_TRUE(got == big);
}

// Readers beyond what the descriptors allow: each costs only itself. Before,
// the first failed accept, or a news server socket that could not be made
// while a reader was admitted, aborted the listening socket, which switched
// listening off and closed every reader.
TEST_F(RelayTest, RunningOutOfDescriptorsCostsOnlyTheReadersThatDoNotFit) {
#ifdef SITOWIAK_SANITIZED_BUILD
    // The sanitizer runtime opens a pipe to check an object's type; with no
    // descriptor left it reports every such check as an error.
    GTEST_SKIP() << "needs descriptors the sanitizer runtime would take";
#endif
    ScriptedServer upstream(ArticleServer);
    Listen(upstream);
    const std::string article = RewrittenArticle(kArticleReply);
    auto fetch = [](PeerConnection& c) {
        c.Send("ARTICLE 1\r\n");
        return c.ReadUntil("\r\n.\r\n");
    };
    auto working = PeerConnection::ConnectTo(ProxyPort());
    auto greeting = std::async(std::launch::async, [&] { return working->ReadLine(); });
    PumpUntil(
        [&] { return greeting.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    ASSERT_EQ(greeting.get(), kGreeting);

    // Room 0: no accepted socket fits. Room 1: the accepted socket fits but
    // its news server socket does not.
    for (int room : {0, 1}) {
        SCOPED_TRACE(room);
        constexpr int kReaders = 20;
        std::vector<int> fds;
        for (int i = 0; i < kReaders; ++i)
            fds.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        {
            LowFileLimit limit(room);
            for (int fd : fds) ASSERT_EQ(ConnectedSocket(fd, ProxyPort()), 0);
            // Every reader ends closed without a byte. A connection left
            // waiting in the queue would never see its end. Ended readers
            // stay open until all have ended: closing one would free a
            // descriptor of this process, and the proxy would admit the next.
            int ended = 0;
            std::vector<bool> seen(fds.size());
            PumpUntil(
                [&] {
                    for (size_t i = 0; i < fds.size(); ++i) {
                        char byte;
                        if (!seen[i] && ::recv(fds[i], &byte, 1, MSG_DONTWAIT) == 0) {
                            seen[i] = true;
                            ++ended;
                        }
                    }
                    return ended == kReaders;
                },
                10000);
            EXPECT_EQ(ended, kReaders);
            EXPECT_TRUE(m_core->Listening());
            EXPECT_EQ(m_view.caption, proxy::kCaptionStop);
        }
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
        // The reader that was there all along is still served.
        auto answer = std::async(std::launch::async, [&] { return fetch(*working); });
        PumpUntil(
            [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        EXPECT_EQ(answer.get(), article);
    }
    // With descriptors back, the same listening socket serves a new reader.
    EXPECT_EQ(Reader([&](PeerConnection& c) {
                  std::string first = c.ReadLine();
                  return first + fetch(c);
              }),
              kGreeting + article);
}

// Readers keep connecting and fetching while listening goes off and on.
// Stopping closes every reader; each reply that completes is exactly the
// filter's; afterwards nothing is left over and a new reader is served.
TEST_F(RelayTest, ListeningSwitchedOffAndOnUnderLoadLosesNothingItFinishes) {
    m_core->Settings().Kodowanie = "utf-8";
    ScriptedServer upstream(ArticleServer);
    Listen(upstream);
    m_core->Settings().LocalPort = std::to_string(ProxyPort());  // the same port each time
    const std::string expected = kGreeting + RewrittenArticle(kArticleReply);
    const int port = ProxyPort();
    std::atomic<bool> stop{false};
    std::atomic<int> complete{0}, mismatched{0}, finished{0};
    auto worker = [&] {
        while (!stop) {
            std::unique_ptr<PeerConnection> c;
            try {
                c = PeerConnection::ConnectTo(port);
            } catch (const std::exception&) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;  // listening is off just now
            }
            for (int i = 0; i < 5 && !stop; ++i) {
                std::string got = i == 0 ? c->ReadLine(3000) : std::string(kGreeting);
                c->Send("ARTICLE 1\r\n");
                got += c->ReadUntil("\r\n.\r\n", 3000);
                if (!got.ends_with("\r\n.\r\n")) break;  // closed by stopping
                if (got == expected)
                    ++complete;
                else
                    ++mismatched;
            }
        }
        ++finished;
    };
    std::vector<std::thread> readers;
    for (int i = 0; i < 8; ++i) readers.emplace_back(worker);
    for (int round = 0; round < 5; ++round) {
        Pump(300);
        m_core->SetListening(false);
        EXPECT_TRUE(PumpUntil([&] { return m_core->WSocketServer().ClientCount() == 0; }));
        Pump(100);
        m_core->SetListening(true);
    }
    Pump(300);
    stop = true;
    PumpUntil([&] { return finished == 8; }, 10000);
    for (auto& t : readers) t.join();
    EXPECT_GT(complete.load(), 0);
    EXPECT_EQ(mismatched.load(), 0);
    EXPECT_TRUE(PumpUntil([&] { return m_core->WSocketServer().ClientCount() == 0; }));
    EXPECT_TRUE(m_core->Listening());
    auto got = Reader([](PeerConnection& c) {
        std::string all = c.ReadLine();
        c.Send("ARTICLE 1\r\n");
        return all + c.ReadUntil("\r\n.\r\n");
    });
    EXPECT_EQ(got, expected);
}

}  // namespace
}  // namespace sitowiak::testing

namespace sitowiak::testing {
namespace {

// A reader outside the write list that writes before the news server has
// greeted: its commands wait for the greeting and go on in order, and a
// line holding a NUL, which the news server would read only up to the NUL
// ("POST\0junk" is a POST to INN), never leaves the proxy and gets 501.
TEST_F(RelayTest, CommandsWrittenBeforeTheGreetingWaitAndLinesWithNulNeverLeave) {
    std::mutex seenMutex;
    std::string seen;
    ScriptedServer upstream([&](PeerConnection& c) {
        // Long enough for the reader's bytes to reach the proxy first.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        c.Send(kGreeting);
        for (std::string line; (line = c.ReadLine(10000)).ends_with("\r\n");) {
            {
                std::lock_guard<std::mutex> lock(seenMutex);
                seen += line;
            }
            c.Send(line.starts_with("DATE") ? "111 20261208120000\r\n" : kGroupReply);
        }
    });
    m_core->Settings().WriteAccess = "10.*";
    Listen(upstream);
    using namespace std::string_literals;
    const std::string nul = "501 Polecenie zawiera bajt zerowy\r\n";
    std::string got = Reader(
        [&](PeerConnection& r) {
            r.Send("GROUP g\r\nPOST\0\r\n POST\0\r\npost\0junk\r\nSTARTTLS\0\r\n\0\r\nDATE\r\n"s);
            return r.ReadCount(std::strlen(kGreeting) + std::strlen(kGroupReply) + 5 * nul.size() +
                                   std::strlen("111 20261208120000\r\n"),
                               10000);
        },
        15000);
    EXPECT_EQ(got, "201 news.test ready\r\n"s + kGroupReply + nul + nul + nul + nul + nul +
                       "111 20261208120000\r\n");
    std::lock_guard<std::mutex> lock(seenMutex);
    EXPECT_EQ(seen, "GROUP g\r\nDATE\r\n");
}

}  // namespace
}  // namespace sitowiak::testing

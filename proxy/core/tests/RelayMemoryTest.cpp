// The relay's memory in both directions: readers and servers that stop
// reading, replies too large to hold, allocations that fail, and overviews
// of any length. Each case bounds what the relay holds through its buffers
// and queues while the exchange runs, then checks every byte that arrives.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

#include "filter/TBuforDyn.h"
#include "proxy/core/NntpWords.h"
#include "proxy/core/tests/RelayHarness.h"

namespace sitowiak::testing {
namespace {

constexpr const char* kGreeting = "200 news.test ready\r\n";
constexpr const char* kGroupReply = "211 1 1 1 g\r\n";

// What one relay holds, at its largest over the samples taken.
struct Peaks {
    int64_t toReader = 0;    // the reader's send queue
    int64_t toServer = 0;    // the upstream send queue
    size_t outstanding = 0;  // commands without their reply
    size_t blocks = 0;       // the relay's three buffers
    bool readerHeldBack = false;

    void Sample(proxy::TClientNntp& c) {
        toReader = std::max(toReader, c.BufferedByteCount());
        if (c.RemoteSocket) toServer = std::max(toServer, c.RemoteSocket->BufferedByteCount());
        outstanding = std::max(outstanding, c.Replies.size());
        size_t held = c.HeldReply ? c.HeldReply->BlockSize() : 0;
        blocks =
            std::max(blocks, c.RequestBuffer->BlockSize() + c.ResponseBuffer->BlockSize() + held);
        readerHeldBack = readerHeldBack || c.readerHeldBack;
    }
};

class RelayMemoryTest : public RelayTest {
protected:
    // The relay of the first reader, or none.
    proxy::TClientNntp* FirstRelay() {
        auto& server = m_core->WSocketServer();
        return server.ClientCount() > 0 ? dynamic_cast<proxy::TClientNntp*>(server.Clients(0))
                                        : nullptr;
    }
    // Pumps until `done`, sampling the first relay on every pass.
    bool PumpSampling(Peaks& peaks, const std::function<bool()>& done, int timeoutMs) {
        return PumpUntil(
            [&] {
                if (proxy::TClientNntp* c = FirstRelay()) peaks.Sample(*c);
                return done();
            },
            timeoutMs);
    }
    template <typename T>
    static bool Ready(std::future<T>& f) {
        return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }
    bool Logged(std::string_view title) {
        return std::any_of(m_log.entries.begin(), m_log.entries.end(),
                           [&](const LoggedEntry& e) { return e.title == title; });
    }
};

std::string Repeated(const std::string& piece, size_t times) {
    std::string all;
    all.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) all += piece;
    return all;
}

// A reader that sends commands and never reads: its replies hold back the
// server, the server stops reading commands, and the proxy stops reading the
// reader, which then waits in TCP. Before, every command it sent queued in
// the proxy (gigabytes within a minute). Another reader is served as usual
// meanwhile, and once the first reads, every reply arrives in order.
TEST_F(RelayMemoryTest, AReaderThatSendsCommandsAndNeverReadsWaitsInTcpNotInTheProxy) {
    const std::string reply = "222 1 <a@b> body\r\n" + std::string(200, 'b') + "\r\n.\r\n";

    ScriptedServer upstream([&](PeerConnection& c) {
        c.Send(kGreeting);
        for (std::string line; (line = c.ReadLine(30000)).ends_with("\r\n");)
            c.Send(line.starts_with("GROUP") ? kGroupReply : reply);
    });
    Listen(upstream);
    constexpr size_t kCommands = 200000;
    auto flood = PeerConnection::ConnectTo(ProxyPort());
    auto sent = std::async(std::launch::async, [&] {
        std::string greeting = flood->ReadLine();
        flood->Send(Repeated("BODY 1\r\n", kCommands));
        return greeting;
    });
    Peaks peaks;
    ASSERT_TRUE(PumpSampling(
        peaks, [&] { return peaks.readerHeldBack; }, 30000));
    PumpSampling(
        peaks, [] { return false; }, 500);
    EXPECT_LE(peaks.toServer, proxy::nntp::kMaxQueuedForServer + 2048);
    // One read of 2048 bytes brings at most 256 commands past the bound.
    EXPECT_LE(peaks.outstanding, proxy::nntp::kMaxOutstanding + 256);
    EXPECT_LE(peaks.toReader, proxy::nntp::kMaxQueuedForReader + (1 << 20));
    EXPECT_LT(peaks.blocks, 1u << 20);

    auto other = std::async(std::launch::async, [&] {
        auto c = PeerConnection::ConnectTo(ProxyPort());
        std::string got = c->ReadLine();
        c->Send("GROUP g\r\n");
        return got + c->ReadLine();
    });
    PumpSampling(
        peaks, [&] { return Ready(other); }, 10000);
    EXPECT_EQ(other.get(), std::string(kGreeting) + kGroupReply);

    auto all = std::async(std::launch::async,
                          [&] { return flood->ReadCount(reply.size() * kCommands, 60000); });
    PumpSampling(
        peaks, [&] { return Ready(all) && Ready(sent); }, 90000);
    EXPECT_EQ(sent.get(), kGreeting);
    std::string got = all.get();
    EXPECT_EQ(got.size(), reply.size() * kCommands);
    EXPECT_TRUE(got == Repeated(reply, kCommands));
    // The bounds held all the way through.
    EXPECT_LE(peaks.toServer, proxy::nntp::kMaxQueuedForServer + 2048);
    EXPECT_LE(peaks.outstanding, proxy::nntp::kMaxOutstanding + 256);
}

// A news server that reads nothing for a while: long commands pile up only
// to the bound, then wait in the reader's socket. When the server reads
// again they all go, and a large posted article, which goes upstream whole,
// holds the reader back only until the server has taken it.
TEST_F(RelayMemoryTest, AServerThatDoesNotReadHoldsBackTheReaderAndABigPostStillGoes) {
    const std::string id(1000, 'i');
    const std::string stat = "STAT <" + id + ">\r\n";
    const std::string statReply = "223 1 <" + id + ">\r\n";
    std::atomic<bool> reading{false};
    std::atomic<size_t> articleSize{0};
    ScriptedServer upstream([&](PeerConnection& c) {
        c.Send(kGreeting);
        for (int i = 0; i < 3000 && !reading; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (std::string line; (line = c.ReadLine(30000)).ends_with("\r\n");) {
            if (line.starts_with("POST")) {
                c.Send("340 send it\r\n");
                articleSize = c.ReadUntil("\r\n.\r\n", 120000).size();
                c.Send("240 article posted\r\n");
            } else {
                c.Send(line.starts_with("STAT") ? statReply : kGroupReply);
            }
        }
    });
    Listen(upstream);
    constexpr size_t kCommands = 20000;  // 20 MB of commands
    const std::string article = "From: a@b\r\nNewsgroups: g\r\nSubject: big\r\n\r\n" +
                                Repeated(std::string(78, 'p') + "\r\n", 400000) + ".\r\n";
    auto reader = PeerConnection::ConnectTo(ProxyPort());
    auto talk = std::async(std::launch::async, [&] {
        std::string got = reader->ReadLine();
        // It reads its replies while it sends, as a pipelining reader must:
        // one that does neither until the other is done waits forever once
        // the replies fill what the sockets hold.
        auto send = std::async(std::launch::async, [&] { reader->Send(Repeated(stat, kCommands)); });
        got += reader->ReadCount(statReply.size() * kCommands, 180000);
        send.get();
        reader->Send("POST\r\n");
        got += reader->ReadLine(10000);
        reader->Send(article);
        got += reader->ReadLine(180000);
        reader->Send("GROUP g\r\n");
        return got + reader->ReadLine(10000);
    });
    Peaks peaks;
    ASSERT_TRUE(PumpSampling(
        peaks, [&] { return peaks.readerHeldBack; }, 30000));
    PumpSampling(
        peaks, [] { return false; }, 500);
    EXPECT_GT(peaks.toServer, proxy::nntp::kMaxQueuedForServer / 2);
    EXPECT_LE(peaks.toServer, proxy::nntp::kMaxQueuedForServer + 2048 + stat.size());
    EXPECT_LT(peaks.blocks, 1u << 20);
    reading = true;
    PumpUntil([&] { return Ready(talk); }, 300000);
    ASSERT_TRUE(Ready(talk));
    EXPECT_EQ(talk.get(), kGreeting + Repeated(statReply, kCommands) + "340 send it\r\n" +
                              "240 article posted\r\n" + kGroupReply);
    // The article with the footer the proxy adds.
    EXPECT_GT(articleSize.load(), article.size());
}

// An article reply past the ceiling stops being held: the reader gets every
// byte as the server sent it, unrewritten though a charset is forced, and the
// log says why. The reply after it follows in turn.
TEST_F(RelayMemoryTest, AHeldReplyPastTheCeilingReachesTheReaderWhole) {
    m_core->Settings().Kodowanie = "utf-8";
    m_core->Settings().Logowanie = true;
    const std::string line = std::string(70, 'z') + "\xB1\xE6\r\n";  // 8-bit, iso-8859-2
    const size_t lines = proxy::nntp::kMaxHeldReply / line.size() + 200000;
    const std::string big =
        "220 1 <a@b> article\r\nFrom: a@b\r\nSubject: big\r\n"
        "Content-Type: text/plain; charset=iso-8859-2\r\n\r\n" +
        Repeated(line, lines) + ".\r\n";
    ScriptedServer upstream([&](PeerConnection& c) {
        c.Send(kGreeting);
        for (std::string l; (l = c.ReadLine(30000)).ends_with("\r\n");)
            c.Send(l.starts_with("ARTICLE") ? big : kGroupReply);
    });
    Listen(upstream);
    auto got = std::async(std::launch::async, [&] {
        auto c = PeerConnection::ConnectTo(ProxyPort());
        c->ReadLine();
        c->Send("ARTICLE 1\r\nGROUP g\r\n");
        std::string all = c->ReadCount(big.size(), 120000);
        return all + c->ReadLine(10000);
    });
    Peaks peaks;
    PumpSampling(
        peaks, [&] { return Ready(got); }, 180000);
    ASSERT_TRUE(Ready(got));
    std::string all = got.get();
    EXPECT_EQ(all.size(), big.size() + std::strlen(kGroupReply));
    EXPECT_TRUE(all == big + kGroupReply);
    // The held reply never grew much past the ceiling, and went to the
    // reader from where it was, not copied whole into the send queue.
    EXPECT_LT(peaks.blocks, proxy::nntp::kMaxHeldReply + proxy::nntp::kMaxHeldReply / 4);
    EXPECT_LE(peaks.toReader, proxy::nntp::kMaxQueuedForReader + (1 << 20));
    EXPECT_TRUE(Logged("Odpowiedź bez filtrowania"));
}

// Makes every buffer block larger than `bytes` fail, for the life of the
// object.
struct BlockLimit {
    explicit BlockLimit(size_t bytes) { filter::TBuforDyn::SetBlockLimit(bytes); }
    ~BlockLimit() { filter::TBuforDyn::SetBlockLimit(std::numeric_limits<size_t>::max()); }
};

// A held reply whose growth fails: the reader and its server connection
// are closed and the relay ends. Before, the failure escaped to the
// socket's receive loop, which asked again at once, for ever: no byte
// moved, the server's close went unnoticed, a core ran at 100 %.
TEST_F(RelayMemoryTest, AFailingAllocationClosesTheReaderAndItsServerConnection) {
    m_core->Settings().Logowanie = true;
    const std::string big = "220 1 <a@b> article\r\nFrom: a@b\r\n\r\n" +
                            Repeated(std::string(78, 'x') + "\r\n", 200000) + ".\r\n";
    std::atomic<bool> serverSawClose{false};
    ScriptedServer upstream([&](PeerConnection& c) {
        c.Send(kGreeting);
        c.ReadLine(10000);
        c.Send(big);
        bool closed = false;
        c.ReadToClose(&closed, 10000);
        serverSawClose = closed;
    });
    Listen(upstream);
    BlockLimit limit(4 << 20);
    bool closed = false;
    std::string got = Reader(
        [&](PeerConnection& c) {
            std::string all = c.ReadLine();
            c.Send("ARTICLE 1\r\n");
            return all + c.ReadToClose(&closed, 10000);
        },
        15000);
    EXPECT_TRUE(closed);
    EXPECT_EQ(got, kGreeting);
    EXPECT_TRUE(PumpUntil(
        [&] { return serverSawClose && m_core->WSocketServer().ClientCount() == 0; }, 10000));
    EXPECT_TRUE(Logged("Błąd: brak pamięci"));
}

// A long overview is rewritten line by line as it comes: the relay holds a
// line or so, never the reply, whatever its length, and the reader gets
// exactly what rewriting the whole reply gives, though it reads late.
TEST_F(RelayMemoryTest, ALongOverviewStreamsInBoundedMemoryWithTheWholeReplysBytes) {
    m_core->Settings().Kodowanie = "windows-1250";
    m_core->Settings().IgnorowanieBlednych = true;
    std::mt19937 rng(7);
    std::string reply = "224 overview follows\r\n";
    for (int n = 1; reply.size() < (24u << 20); ++n) {
        std::string line = std::to_string(n);
        switch (rng() % 4) {
            case 0:
                line += "\t=?iso-8859-2?Q?Za=BF=F3=B3=E6_g=EA=B6l=B1?=\ta@b";
                break;
            case 1:
                line += "\tRe: Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87\ta@b";
                break;
            default:
                line += "\tplain subject " + std::string(rng() % 300, 's') + "\ta@b";
                break;
        }
        reply += line + "\t<m" + std::to_string(n) + "@x>\t\t100\t3\r\n";
    }
    reply += ".\r\n";
    const std::string expected = RewrittenOverview(reply);
    ScriptedServer upstream([&](PeerConnection& c) {
        c.Send(kGreeting);
        for (std::string l; (l = c.ReadLine(30000)).ends_with("\r\n");)
            c.Send(l.starts_with("XOVER") ? reply : kGroupReply);
    });
    Listen(upstream);
    auto got = std::async(std::launch::async, [&] {
        auto c = PeerConnection::ConnectTo(ProxyPort());
        c->ReadLine();
        c->Send("XOVER 1-\r\nGROUP g\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        std::string all = c->ReadCount(expected.size(), 60000);
        return all + c->ReadLine(10000);
    });
    Peaks peaks;
    PumpSampling(
        peaks, [&] { return Ready(got); }, 90000);
    ASSERT_TRUE(Ready(got));
    std::string all = got.get();
    EXPECT_EQ(all.size(), expected.size() + std::strlen(kGroupReply));
    EXPECT_TRUE(all == expected + kGroupReply);
    EXPECT_LT(peaks.blocks, 1u << 20);
    EXPECT_LE(peaks.toReader, proxy::nntp::kMaxQueuedForReader + (1 << 20));
}

// A reader outside the write list that sends commands the proxy answers on
// its own (refused POST, IHAVE, CHECK; COMPRESS and STARTTLS) and never
// reads: no news server holds these answers back, so the reader itself is
// no longer read once they fill the same bound as server replies. Before,
// the answers queued without end (about 35 MB a second). Once it reads,
// every answer arrives, in order.
TEST_F(RelayMemoryTest, AnswersTheProxyGivesItselfWaitForAReaderWithinTheBound) {
    ScriptedServer upstream([&](PeerConnection& c) {
        c.Send(kGreeting);
        for (std::string line; (line = c.ReadLine(60000)).ends_with("\r\n");) c.Send(kGroupReply);
    });
    m_core->Settings().WriteAccess = "10.*";
    Listen(upstream);
    const std::string commands =
        "POST\r\nCOMPRESS DEFLATE\r\nSTARTTLS\r\nIHAVE <a@b>\r\nCHECK <c@d>\r\n";
    const std::string answers =
        std::string(proxy::nntp::kPostRefused) + std::string(proxy::nntp::kCompressRefused) +
        std::string(proxy::nntp::kStartTlsRefused) + "435 " +
        std::string(proxy::nntp::kRefusalText) + "\r\n438 <c@d> " +
        std::string(proxy::nntp::kRefusalText) + "\r\n";
    constexpr size_t kRounds = 80000;  // some 22 MB of answers
    auto reader = PeerConnection::ConnectTo(ProxyPort());
    auto sent = std::async(std::launch::async, [&] {
        std::string greeting = reader->ReadLine();
        reader->Send(Repeated(commands, kRounds));
        return greeting;
    });
    Peaks peaks;
    ASSERT_TRUE(PumpSampling(
        peaks, [&] { return peaks.readerHeldBack; }, 30000))
        << "the reader is still read with " << peaks.toReader << " bytes waiting for it";
    PumpSampling(
        peaks, [] { return false; }, 500);
    std::printf("peak bytes waiting for a reader that does not read: %lld\n",
                static_cast<long long>(peaks.toReader));
    // One read of commands brings at most a read's worth of answers past it.
    EXPECT_LE(peaks.toReader, proxy::nntp::kMaxQueuedForReader + (256 << 10));

    auto all = std::async(std::launch::async,
                          [&] { return reader->ReadCount(answers.size() * kRounds, 60000); });
    PumpSampling(
        peaks, [&] { return Ready(all) && Ready(sent); }, 90000);
    ASSERT_TRUE(Ready(all) && Ready(sent));
    EXPECT_EQ(sent.get(), "201 news.test ready\r\n");
    std::string got = all.get();
    EXPECT_EQ(got.size(), answers.size() * kRounds);
    EXPECT_TRUE(got == Repeated(answers, kRounds));
    EXPECT_LE(peaks.toReader, proxy::nntp::kMaxQueuedForReader + (256 << 10));
}

// Held replies of all readers together have one ceiling: the reply that
// takes the total past it stops being held and reaches its reader as the
// server sent it, while the replies held before it are still rewritten.
// Once those have gone, replies are held and rewritten again.
TEST_F(RelayMemoryTest, HeldRepliesOfAllReadersTogetherStopAtOneCeiling) {
    m_core->Settings().Kodowanie = "utf-8";
    m_core->Settings().Logowanie = true;
    m_core->MaxHeldTotal = 1 << 20;
    const std::string head =
        "220 1 <a@b> article\r\nFrom: a@b\r\nSubject: big\r\n"
        "Content-Type: text/plain; charset=iso-8859-2\r\n\r\n";
    const std::string body = Repeated(std::string(70, 'z') + "\xB1\xE6\r\n", 9000);  // 648 KB
    const std::string reply = head + body + ".\r\n";
    std::atomic<int> partial{0};
    std::atomic<bool> finish{false};
    ScriptedServer upstream([&](PeerConnection& c) {
        c.Send(kGreeting);
        for (std::string l; (l = c.ReadLine(30000)).ends_with("\r\n");) {
            if (!l.starts_with("ARTICLE")) {
                c.Send(kGroupReply);
                continue;
            }
            // Everything but the terminating line, which waits for the test.
            c.Send(head + body);
            ++partial;
            while (!finish) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            c.Send(".\r\n");
        }
    });
    Listen(upstream);
    auto ask = [&] {
        return std::async(std::launch::async, [&] {
            auto c = PeerConnection::ConnectTo(ProxyPort());
            std::string got = c->ReadLine();
            c->Send("ARTICLE 1\r\n");
            return got + c->ReadUntil("\r\n.\r\n", 30000);
        });
    };
    auto first = ask();
    ASSERT_TRUE(PumpUntil([&] { return partial == 1; }, 10000));
    Pump(300);  // the first reply is held, short of its end
    auto second = ask();
    ASSERT_TRUE(PumpUntil([&] { return partial == 2; }, 10000));
    Pump(300);
    finish = true;
    ASSERT_TRUE(PumpUntil([&] { return Ready(first) && Ready(second); }, 30000));
    const std::string greeting = kGreeting;
    EXPECT_TRUE(first.get() == greeting + RewrittenArticle(reply)) << "held and rewritten";
    EXPECT_TRUE(second.get() == greeting + reply) << "passed as it came";
    EXPECT_TRUE(std::any_of(m_log.entries.begin(), m_log.entries.end(), [](const LoggedEntry& e) {
        return e.title == "Odpowiedź bez filtrowania" && e.text.find("razem ponad 1 MiB") != std::string::npos;
    }));
    // Both have gone: the next reply is held and rewritten again.
    auto third = ask();
    ASSERT_TRUE(PumpUntil([&] { return Ready(third); }, 30000));
    EXPECT_TRUE(third.get() == greeting + RewrittenArticle(reply));
}

}  // namespace
}  // namespace sitowiak::testing

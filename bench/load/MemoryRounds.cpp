#include "MemoryRounds.h"

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <string_view>
#include <thread>

#include "Corpus.h"

namespace sitowiak::load {
namespace {

// What one flooding reader may cost the proxy: the reply queue held back at
// 4 MiB, the commands held back at 1 MiB, the list of commands in flight,
// and the allocator's rounding.
constexpr long kFloodKbPerReader = 16 * 1024;
// What a held reply may cost at its peak: the ceiling of 256 MiB, the
// buffer's growth and the bytes queued for the reader.
constexpr long kEndlessPeakKb = 256 * 1024 + 128 * 1024;
// How far the memory may stay above the figure before a round once its
// connections have ended.
constexpr long kAfterKb = 20 * 1024;

// Sends commands until `end` and reads nothing; returns the bytes sent.
long Flood(int port, Clock::time_point end) {
    Wire w = Wire::Connect(port);
    if (!w.Valid()) return 0;
    bool complete;
    w.ReadUntil("\r\n", Clock::now() + std::chrono::seconds(10), complete);
    std::string commands;
    for (int i = 0; i < 4096; ++i) commands += "ARTICLE " + std::to_string(1 + i % 5) + "\r\n";
    long sent = 0;
    size_t at = 0;
    while (Clock::now() < end) {
        ssize_t n =
            ::send(w.Fd(), commands.data() + at, commands.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += n;
            at = (at + static_cast<size_t>(n)) % commands.size();
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
        pollfd p{w.Fd(), POLLOUT, 0};
        ::poll(&p, 1, 100);
    }
    w.Close(true);
    return sent;
}

// A fresh reader: greeting, GROUP and its reply within a few seconds.
bool Probe(int port) {
    Wire w = Wire::Connect(port);
    if (!w.Valid()) return false;
    bool complete;
    auto deadline = Clock::now() + std::chrono::seconds(5);
    std::string greeting = w.ReadUntil("\r\n", deadline, complete);
    if (!complete || !w.Send("GROUP pl.test\r\n")) return false;
    std::string reply = w.ReadUntil("\r\n", deadline, complete);
    return complete && reply.starts_with("211 ");
}

// The figures once the round's connections have ended: the descriptor count
// back to what it was before the round (or 45 s gone).
Figures Settled(const ProxyProcess& proxy, int fds) {
    Figures f = proxy.Read();
    for (auto until = Clock::now() + std::chrono::seconds(45);
         f.fds != fds && Clock::now() < until;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        f = proxy.Read();
    }
    return f;
}

}  // namespace

void MemoryRounds::Measure(MemoryRound& round, const std::function<void()>& work) {
    Figures before = m_proxy.Read();
    round.beforeKb = before.rssKb;
    std::atomic<bool> sampling{true};
    long peak = round.beforeKb;
    std::thread sampler([&] {
        while (sampling) {
            peak = std::max(peak, m_proxy.Read().rssKb);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    work();
    sampling = false;
    sampler.join();
    round.peakKb = peak;
    round.afterKb = Settled(m_proxy, before.fds).rssKb;
}

MemoryRound MemoryRounds::CommandFlood(int flooders, int seconds) {
    MemoryRound round;
    round.name = "flood";
    std::atomic<long> sent{0};
    int probes = 0, failed = 0;
    Measure(round, [&] {
        auto end = Clock::now() + std::chrono::seconds(seconds);
        std::vector<std::thread> threads;
        for (int i = 0; i < flooders; ++i)
            threads.emplace_back([&] { sent += Flood(m_proxy.Port(), end); });
        while (Clock::now() < end) {
            ++probes;
            failed += !Probe(m_proxy.Port());
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        for (auto& t : threads) t.join();
    });
    round.what = std::to_string(flooders) + " readers sent " + std::to_string(sent.load() >> 20) +
                 " MB of commands without reading; " + std::to_string(probes - failed) + " of " +
                 std::to_string(probes) + " probe readers served";
    if (failed) round.failures.push_back(std::to_string(failed) + " probe readers not served");
    if (round.peakKb - round.beforeKb > kFloodKbPerReader * flooders)
        round.failures.push_back("memory under the command flood beyond " +
                                 std::to_string(kFloodKbPerReader / 1024) + " MB a reader");
    if (round.afterKb - round.beforeKb > kAfterKb)
        round.failures.push_back("memory not given back after the command flood");
    return round;
}

MemoryRound MemoryRounds::EndlessReply(size_t megabytes) {
    MemoryRound round;
    round.name = "endless";
    const size_t want = megabytes << 20;
    size_t got = 0;
    bool same = false;
    Measure(round, [&] {
        Wire w = Wire::Connect(m_proxy.Port());
        bool complete;
        w.ReadUntil("\r\n", Clock::now() + std::chrono::seconds(10), complete);
        if (!complete || !w.Send("ARTICLE " + std::to_string(kArticleEndless) + "\r\n")) return;
        // The bytes the server sends, unrewritten, compared as they come.
        EndlessArticle expected;
        same = true;
        std::vector<char> buf(1 << 16);
        while (got < want && same) {
            pollfd p{w.Fd(), POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) break;
            ssize_t n = ::recv(w.Fd(), buf.data(), buf.size(), 0);
            if (n <= 0) break;
            auto size = static_cast<size_t>(n);
            same = std::string_view(buf.data(), size) == expected.Next(size);
            got += size;
        }
        w.Close(true);
    });
    round.what = "read " + std::to_string(got >> 20) + " MB of an ARTICLE reply that never ends" +
                 (same ? ", every byte as the server sent it" : ", NOT as the server sent it");
    if (got < want || !same) round.failures.push_back("the endless reply did not pass whole");
    if (round.peakKb - round.beforeKb > kEndlessPeakKb)
        round.failures.push_back("memory under the endless reply beyond the ceiling");
    if (round.afterKb - round.beforeKb > kAfterKb)
        round.failures.push_back("memory not given back after the endless reply");
    return round;
}

}  // namespace sitowiak::load

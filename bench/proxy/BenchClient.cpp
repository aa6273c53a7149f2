// bench_proxy_client MODE ...: the newsreader side of the relay benchmarks.
// Talks to 127.0.0.1:PORT (the upstream itself or a relay in front of it),
// checks every reply byte for byte against what the upstream sends for the
// command (BenchPayload.h), and prints one line:
//   RESULT value unit key=value ...
// Modes:
//   throughput PORT VERB SIZE COUNT   one connection, COUNT requests in turn
//   pipelined PORT VERB SIZE COUNT BATCH
//                                     one connection, COUNT requests sent
//                                     BATCH at a time in one write
//   latency PORT COUNT                STAT round trips on one connection
//   connect PORT COUNT WORKERS        connect, greeting, QUIT, close
//   readers PORT DIRECT_PORT N PER SIZE
//                                     N readers at once, PER ARTICLEs each,
//                                     compared with a direct fetch
//   idle PORT N                       N greeted readers held open until a
//                                     line (or end) on stdin, at most 120 s
//   xover PORT LINES COUNT [filtered] one connection, COUNT overviews of
//                                     LINES lines; "filtered" checks only the
//                                     status, line count and end (the relay
//                                     re-encodes the lines)
//   post PORT SIZE COUNT              one connection, COUNT posts of a SIZE
//                                     byte article, each hash-checked by the
//                                     upstream's reply
//   crowd PORT N COUNT                STAT round trips of one reader alone,
//                                     then with N idle greeted readers open,
//                                     three times (READY N on stdout at the
//                                     first crowd, then waits for a line on
//                                     stdin while the caller measures)
//   memwatch PID MS [FILE]            samples the resident memory of PID and
//                                     its children every MS ms until stdin
//                                     ends; prints "PEAK kb"; FILE gets
//                                     "seconds kb" lines of every sample
// Every wait is bounded; a reply that does not come in time is an error.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchPayload.h"

namespace sitowiak::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWaitMs = 30000;  // longest wait for any one reply

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

// A blocking connection whose reads wait at most kWaitMs.
class Link {
public:
    explicit Link(int port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr = Loopback(port);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) Close();
        int one = 1;
        if (m_fd >= 0) ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~Link() { Close(); }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    bool Ok() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    void Close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }
    bool Send(std::string_view bytes) {
        while (!bytes.empty() && m_fd >= 0) {
            ssize_t sent = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) return false;
            bytes.remove_prefix(static_cast<size_t>(sent));
        }
        return m_fd >= 0;
    }
    // Reads exactly `count` bytes into `out`; false on close, error or time-out.
    bool ReadExactly(std::string& out, size_t count) {
        out.resize(count);
        size_t have = 0;
        while (have < count) {
            if (!WaitReadable()) return false;
            ssize_t got = ::recv(m_fd, out.data() + have, count - have, 0);
            if (got <= 0) return false;
            have += static_cast<size_t>(got);
        }
        return true;
    }
    // Reads and compares the pieces in turn without gathering the reply:
    // a reply of hundreds of MB costs no copy of itself. Counts the bytes.
    bool ExpectPieces(std::initializer_list<std::string_view> pieces, size_t& bytes) {
        std::string chunk(256 * 1024, '\0');
        for (std::string_view want : pieces) {
            while (!want.empty()) {
                if (!WaitReadable()) return false;
                ssize_t got = ::recv(m_fd, chunk.data(), std::min(chunk.size(), want.size()), 0);
                if (got <= 0) return false;
                auto n = static_cast<size_t>(got);
                if (std::memcmp(chunk.data(), want.data(), n) != 0) return false;
                want.remove_prefix(n);
                bytes += n;
            }
        }
        return true;
    }
    // Reads a multi-line reply to its end without checking its bytes;
    // returns the number of lines (status and end line included), or -1.
    long ReadMultiLine(size_t& bytes) {
        std::string chunk(256 * 1024, '\0');
        long lines = 0;
        std::string tail;  // the last bytes seen, for the end line
        for (;;) {
            if (!WaitReadable()) return -1;
            ssize_t got = ::recv(m_fd, chunk.data(), chunk.size(), 0);
            if (got <= 0) return -1;
            auto n = static_cast<size_t>(got);
            bytes += n;
            lines += std::count(chunk.data(), chunk.data() + n, '\n');
            tail.append(chunk.data() + n - std::min<size_t>(n, 5), std::min<size_t>(n, 5));
            if (tail.size() > 5) tail.erase(0, tail.size() - 5);
            // Nothing follows the end line of the only outstanding reply.
            if (tail == "\r\n.\r\n") return lines;
        }
    }
    // True when the peer closes (and sends nothing more) within the wait.
    bool ClosedByPeer() {
        char byte;
        return WaitReadable() && ::recv(m_fd, &byte, 1, 0) == 0;
    }
    // Sends a command and checks its reply against `expected`.
    bool Exchange(std::string_view command, const std::string& expected, std::string& scratch) {
        return Send(command) && ReadExactly(scratch, expected.size()) && scratch == expected;
    }

private:
    bool WaitReadable() {
        pollfd p{m_fd, POLLIN, 0};
        return m_fd >= 0 && ::poll(&p, 1, kWaitMs) == 1;
    }
    int m_fd = -1;
};

// Reads the greeting of a new link; when it does not come, prints the
// failed result line in `unit` and returns false.
bool Greeted(Link& link, const char* unit) {
    std::string scratch;
    if (link.Ok() && link.Exchange("", std::string(kGreeting), scratch)) return true;
    std::printf("RESULT 0 %s errors=1 note=no-greeting\n", unit);
    return false;
}

const std::string& Pattern() {
    static const std::string pattern = MakePattern();
    return pattern;
}

const std::string& Overview() {
    static const std::string overview = MakeOverviewPattern();
    return overview;
}

std::string Line(const std::string& verb, size_t size, size_t seed) {
    return verb + " " + std::to_string(size) + " " + std::to_string(seed) + "\r\n";
}

// One connection, COUNT requests one after the other; the rate counts the
// bytes of the replies from the first request to the last reply byte.
int Throughput(int port, const std::string& verb, size_t size, int count) {
    Link link(port);
    std::string scratch;
    if (!Greeted(link, "MB/s")) return 1;
    std::vector<std::string> lines, expected;
    for (int i = 0; i < count; ++i) {
        lines.push_back(Line(verb, size, static_cast<size_t>(i) % kMaxSeed));
        expected.push_back(
            ExpectedReply(Pattern(), lines.back().substr(0, lines.back().size() - 2)));
    }
    size_t bytes = 0;
    int errors = 0;
    auto start = Clock::now();
    for (int i = 0; i < count && errors == 0; ++i) {
        if (!link.Exchange(lines[static_cast<size_t>(i)], expected[static_cast<size_t>(i)],
                           scratch))
            ++errors;
        bytes += scratch.size();
    }
    double s = Seconds(Clock::now() - start);
    std::printf("RESULT %.1f MB/s errors=%d bytes=%zu seconds=%.3f\n",
                static_cast<double>(bytes) / s / 1e6, errors, bytes, s);
    return errors == 0 ? 0 : 1;
}

// One connection, COUNT requests sent BATCH at a time in one write; the
// replies of a batch are read and checked before the next batch goes. The
// rate counts the bytes of the replies, as in Throughput.
int Pipelined(int port, const std::string& verb, size_t size, int count, int batch) {
    Link link(port);
    std::string scratch;
    std::string greeting(kGreeting);
    if (!link.Ok() || batch <= 0 || !link.Exchange("", greeting, scratch)) {
        std::printf("RESULT 0 MB/s errors=1 note=no-greeting\n");
        return 1;
    }
    std::vector<std::string> writes, expected;
    for (int i = 0; i < count; i += batch) {
        std::string lines, replies;
        for (int j = i; j < std::min(count, i + batch); ++j) {
            std::string line = Line(verb, size, static_cast<size_t>(j) % kMaxSeed);
            replies += ExpectedReply(Pattern(), line.substr(0, line.size() - 2));
            lines += line;
        }
        writes.push_back(std::move(lines));
        expected.push_back(std::move(replies));
    }
    size_t bytes = 0;
    int errors = 0;
    auto start = Clock::now();
    for (size_t i = 0; i < writes.size() && errors == 0; ++i) {
        if (!link.Exchange(writes[i], expected[i], scratch)) ++errors;
        bytes += scratch.size();
    }
    double s = Seconds(Clock::now() - start);
    std::printf("RESULT %.1f MB/s errors=%d bytes=%zu seconds=%.3f\n",
                static_cast<double>(bytes) / s / 1e6, errors, bytes, s);
    return errors == 0 ? 0 : 1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// STAT round trips on one connection, after a warm-up; the median is the
// figure, mean and 99th percentile beside it.
int Latency(int port, int count) {
    Link link(port);
    std::string scratch;
    std::string stat(kStatReply);
    if (!Greeted(link, "us")) return 1;
    int errors = 0;
    for (int i = 0; i < 200 && errors == 0; ++i)
        errors += !link.Exchange("STAT\r\n", stat, scratch);
    std::vector<double> us;
    for (int i = 0; i < count && errors == 0; ++i) {
        auto start = Clock::now();
        errors += !link.Exchange("STAT\r\n", stat, scratch);
        us.push_back(Seconds(Clock::now() - start) * 1e6);
    }
    if (us.empty()) us.push_back(0);
    std::sort(us.begin(), us.end());
    double mean = 0;
    for (double v : us) mean += v / static_cast<double>(us.size());
    std::printf("RESULT %.1f us errors=%d mean=%.1f p99=%.1f\n", us[us.size() / 2], errors, mean,
                us[us.size() * 99 / 100]);
    return errors == 0 ? 0 : 1;
}

// WORKERS threads share COUNT connections. A connection is lost when its
// greeting or its QUIT reply does not arrive intact; one the relay does not
// close after QUIT is counted apart.
int Connect(int port, int count, int workers) {
    std::atomic<int> next{0}, ok{0}, lost{0}, unclosed{0};
    auto work = [&] {
        std::string scratch;
        std::string greeting(kGreeting), bye(kBye);
        while (next.fetch_add(1) < count) {
            Link link(port);
            if (!link.Ok() || !link.Exchange("", greeting, scratch) ||
                !link.Exchange("QUIT\r\n", bye, scratch)) {
                ++lost;
                continue;
            }
            ++ok;
            if (!link.ClosedByPeer()) ++unclosed;
        }
    };
    auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i) threads.emplace_back(work);
    for (auto& t : threads) t.join();
    double s = Seconds(Clock::now() - start);
    std::printf("RESULT %.1f conn/s ok=%d lost=%d unclosed=%d seconds=%.3f\n", count / s, ok.load(),
                lost.load(), unclosed.load(), s);
    return lost == 0 && unclosed == 0 ? 0 : 1;
}

// One reader of the concurrent test, driven by readiness.
struct Reader {
    int fd = -1;
    int index = 0;
    int done = 0;  // articles fetched
    bool quitting = false;
    const std::string* expected = nullptr;
    size_t received = 0;
    bool failed = false;
};

class ReaderRun {
public:
    ReaderRun(int port, int directPort, int readers, int perReader, size_t size)
        : m_port(port), m_readers(static_cast<size_t>(readers)), m_per(perReader), m_size(size) {
        m_greeting = std::string(kGreeting);
        m_bye = std::string(kBye);
        FetchDirect(directPort);
    }
    int Run();

private:
    size_t SeedOf(const Reader& r) const {
        return static_cast<size_t>(r.index * 7 + r.done) % kSeeds;
    }
    void FetchDirect(int directPort);
    void Start(Reader& r);
    void Next(Reader& r);
    void OnReadable(Reader& r);
    void Finish(Reader& r, bool failed);

    static constexpr size_t kSeeds = 97;
    int m_port;
    std::vector<Reader> m_readers;
    int m_per;
    size_t m_size;
    int m_epoll = -1;
    int m_open = 0;
    int m_requests = 0, m_errors = 0, m_mismatched = 0;
    std::string m_greeting, m_bye;
    std::vector<std::string> m_direct;  // each seed's article as fetched directly
    std::vector<std::string> m_lines;
};

// The reference: every article the readers will ask for, fetched from the
// upstream itself on one connection.
void ReaderRun::FetchDirect(int directPort) {
    Link link(directPort);
    std::string scratch;
    link.Exchange("", m_greeting, scratch);
    for (size_t seed = 0; seed < kSeeds; ++seed) {
        m_lines.push_back(Line("ARTICLE", m_size, seed));
        std::string expected =
            ExpectedReply(Pattern(), m_lines.back().substr(0, m_lines.back().size() - 2));
        if (!link.Exchange(m_lines.back(), expected, scratch)) {
            std::fprintf(stderr, "the direct fetch of seed %zu failed\n", seed);
            std::exit(1);
        }
        m_direct.push_back(scratch);
    }
}

int ReaderRun::Run() {
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    auto start = Clock::now();
    for (size_t i = 0; i < m_readers.size(); ++i) {
        m_readers[i].index = static_cast<int>(i);
        Start(m_readers[i]);
    }
    auto deadline = start + std::chrono::seconds(120);
    epoll_event events[256];
    while (m_open > 0 && Clock::now() < deadline) {
        int n = ::epoll_wait(m_epoll, events, 256, 1000);
        for (int i = 0; i < n; ++i) OnReadable(m_readers[events[i].data.u32]);
    }
    double s = Seconds(Clock::now() - start);
    for (Reader& r : m_readers)
        if (r.fd >= 0) Finish(r, true);  // out of time
    std::printf("RESULT %.1f req/s requests=%d errors=%d mismatched=%d seconds=%.3f\n",
                m_requests / s, m_requests, m_errors, m_mismatched, s);
    return m_errors == 0 && m_mismatched == 0 ? 0 : 1;
}

void ReaderRun::Start(Reader& r) {
    r.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(m_port);
    int one = 1;
    ::setsockopt(r.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // A blocking connect: the listen queue takes it, the greeting comes later.
    if (::connect(r.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(r.fd);
        r.fd = -1;
        ++m_errors;
        return;
    }
    ::fcntl(r.fd, F_SETFL, O_NONBLOCK);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u32 = static_cast<uint32_t>(r.index);
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, r.fd, &ev);
    r.expected = &m_greeting;
    ++m_open;
}

// The next request of a reader whose last reply is complete.
void ReaderRun::Next(Reader& r) {
    r.received = 0;
    const std::string* line;
    static const std::string quit = "QUIT\r\n";
    if (r.done < m_per) {
        r.expected = &m_direct[SeedOf(r)];
        line = &m_lines[SeedOf(r)];
    } else {
        r.quitting = true;
        r.expected = &m_bye;
        line = &quit;
    }
    if (::send(r.fd, line->data(), line->size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(line->size()))
        Finish(r, true);
}

void ReaderRun::OnReadable(Reader& r) {
    char chunk[65536];
    ssize_t got = ::recv(r.fd, chunk, sizeof chunk, 0);
    if (got < 0 && errno == EAGAIN) return;
    if (got <= 0) return Finish(r, true);
    auto count = static_cast<size_t>(got);
    const std::string& want = *r.expected;
    if (r.received + count > want.size() ||
        std::memcmp(chunk, want.data() + r.received, count) != 0) {
        ++m_mismatched;
        return Finish(r, true);
    }
    r.received += count;
    if (r.received < want.size()) return;
    if (r.quitting) return Finish(r, false);
    if (r.expected != &m_greeting) {
        ++r.done;
        ++m_requests;
    }
    Next(r);
}

void ReaderRun::Finish(Reader& r, bool failed) {
    if (r.fd < 0) return;
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, r.fd, nullptr);
    ::close(r.fd);
    r.fd = -1;
    --m_open;
    if (failed) ++m_errors;
}

// COUNT overviews of LINES lines in turn on one connection; the rate counts
// the bytes of the replies. Checked byte for byte, or (filtered) by the
// number of lines and the end line.
int Xover(int port, int lines, int count, bool filtered) {
    Link link(port);
    std::string scratch;
    if (!Greeted(link, "MB/s")) return 1;
    if (!filtered) Overview();  // made before the clock starts
    size_t bytes = 0;
    // A first short overview: the upstream makes its lines at the first.
    int errors = !link.Send("XOVER 1 0\r\n") || link.ReadMultiLine(bytes) != 3;
    bytes = 0;
    auto start = Clock::now();
    for (int i = 0; i < count && errors == 0; ++i) {
        std::string line = "XOVER " + std::to_string(lines) + " " + std::to_string(i) + "\r\n";
        if (!link.Send(line)) {
            ++errors;
        } else if (filtered) {
            errors += link.ReadMultiLine(bytes) != lines + 2;
        } else {
            Command c = ParseCommand(line.substr(0, line.size() - 2));
            errors +=
                !link.ExpectPieces({kOverviewHead, OverviewBody(Overview(), c), kTerminator}, bytes);
        }
    }
    double s = Seconds(Clock::now() - start);
    std::printf("RESULT %.1f MB/s errors=%d bytes=%zu seconds=%.3f\n",
                static_cast<double>(bytes) / s / 1e6, errors, bytes, s);
    return errors == 0 ? 0 : 1;
}

// COUNT posts in turn on one connection: POST, the 340, the article, and
// the upstream's 240 with the length and hash of what reached it.
int Post(int port, size_t size, int count) {
    Link link(port);
    std::string scratch;
    std::string go(kSendArticle);
    if (!Greeted(link, "posts/s")) return 1;
    std::vector<std::string> articles, replies;
    for (int i = 0; i < count; ++i) {
        std::string article = "From: bench@example.invalid\r\nNewsgroups: bench.test\r\n"
                              "Subject: post " + std::to_string(i) + "\r\nMessage-ID: <post" +
                              std::to_string(i) + "@bench>\r\n\r\n";
        article += Pattern().substr(static_cast<size_t>(i) % kMaxSeed * kLineBytes,
                                    size / kLineBytes * kLineBytes);
        article += kTerminator;
        replies.push_back(PostedReply(article.size(), Fnv1a(article)));
        articles.push_back(std::move(article));
    }
    int errors = 0;
    size_t bytes = 0;
    auto start = Clock::now();
    for (int i = 0; i < count && errors == 0; ++i) {
        auto at = static_cast<size_t>(i);
        errors += !link.Exchange("POST\r\n", go, scratch) ||
                  !link.Exchange(articles[at], replies[at], scratch);
        bytes += articles[at].size();
    }
    double s = Seconds(Clock::now() - start);
    std::printf("RESULT %.1f posts/s errors=%d bytes=%zu seconds=%.3f last=%s\n", count / s, errors,
                bytes, s, errors ? scratch.substr(0, 40).c_str() : "ok");
    return errors == 0 ? 0 : 1;
}

// Opens COUNT greeted readers; the count that came through.
int OpenReaders(int port, int count, std::vector<std::unique_ptr<Link>>& links) {
    std::string scratch, greeting(kGreeting);
    int ok = 0;
    for (int i = 0; i < count; ++i) {
        links.push_back(std::make_unique<Link>(port));
        ok += links.back()->Ok() && links.back()->Exchange("", greeting, scratch);
    }
    return ok;
}

// The median STAT round trip in us over COUNT trips on `link`, after a
// warm-up; -1 on an error.
double MedianStat(Link& link, int count) {
    std::string scratch, stat(kStatReply);
    for (int i = 0; i < 200; ++i)
        if (!link.Exchange("STAT\r\n", stat, scratch)) return -1;
    std::vector<double> us;
    for (int i = 0; i < count; ++i) {
        auto start = Clock::now();
        if (!link.Exchange("STAT\r\n", stat, scratch)) return -1;
        us.push_back(Seconds(Clock::now() - start) * 1e6);
    }
    return Median(std::move(us));
}

// One active reader alone, then beside N idle ones, then alone again, in
// kCrowdCycles cycles: each cycle's figure is its time beside the crowd
// over the mean of the times alone before and after it, and the result is
// the median cycle, against the drift of the machine's load. The first
// crowd is held open until the caller, told READY, has measured.
constexpr int kCrowdCycles = 3;

int Crowd(int port, int idle, int count) {
    Link active(port);
    std::string scratch, greeting(kGreeting);
    if (!active.Ok() || !active.Exchange("", greeting, scratch) || count <= 0) {
        std::printf("RESULT 0 ratio errors=1 note=no-greeting\n");
        return 1;
    }
    std::vector<double> alone{MedianStat(active, count)}, crowded, ratios;
    int errors = alone.back() < 0, ok = idle, dropped = 0;
    for (int cycle = 0; cycle < kCrowdCycles && errors == 0; ++cycle) {
        std::vector<std::unique_ptr<Link>> links;
        const int opened = OpenReaders(port, idle, links);
        ok = std::min(ok, opened);
        if (cycle == 0) {
            std::printf("READY %d\n", opened);
            std::fflush(stdout);
            pollfd p{0, POLLIN, 0};
            ::poll(&p, 1, 120000);
        }
        crowded.push_back(MedianStat(active, count));
        // Every idle reader must still be there, untouched.
        for (auto& link : links) {
            pollfd q{link->Fd(), POLLIN, 0};
            dropped += !link->Ok() || ::poll(&q, 1, 0) != 0;
        }
        links.clear();
        // The relay closes the crowd's connections before the next figure.
        ::usleep(1000000);
        alone.push_back(MedianStat(active, count));
        errors += (crowded.back() < 0) + (alone.back() < 0);
        const double around = (alone[alone.size() - 2] + alone.back()) / 2;
        if (errors == 0) ratios.push_back(crowded.back() / around);
    }
    errors += (idle - ok) + dropped;
    std::printf(
        "RESULT %.2f ratio errors=%d alone=%.1f with_idle=%.1f idle=%d dropped=%d cycles=%zu\n",
        ratios.empty() ? 0 : Median(ratios), errors, Median(alone),
        crowded.empty() ? 0 : Median(crowded), ok, dropped, ratios.size());
    return errors == 0 ? 0 : 1;
}

// N greeted readers kept open while the caller measures the relay's memory.
int Idle(int port, int count) {
    std::vector<std::unique_ptr<Link>> links;
    int ok = OpenReaders(port, count, links);
    std::printf("READY %d\n", ok);
    std::fflush(stdout);
    pollfd p{0, POLLIN, 0};
    ::poll(&p, 1, 120000);
    std::printf("RESULT %d readers errors=%d\n", ok, count - ok);
    return ok == count ? 0 : 1;
}

// Resident KB of one process (0 once it has gone), read without a child
// process so that sampling every few milliseconds costs next to nothing.
long RssKb(const std::string& pid) {
    FILE* f = std::fopen(("/proc/" + pid + "/statm").c_str(), "r");
    if (f == nullptr) return 0;
    long pages = 0, resident = 0;
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// The process and its children (socat forks one per connection).
long TreeRssKb(const std::string& pid) {
    long total = RssKb(pid);
    FILE* f = std::fopen(("/proc/" + pid + "/task/" + pid + "/children").c_str(), "r");
    if (f == nullptr) return total;
    char child[32];
    while (std::fscanf(f, "%31s", child) == 1) total += RssKb(child);
    std::fclose(f);
    return total;
}

int MemWatch(const std::string& pid, int ms, const char* file) {
    FILE* series = file != nullptr ? std::fopen(file, "w") : nullptr;
    long peak = 0;
    auto start = Clock::now();
    for (;;) {
        long kb = TreeRssKb(pid);
        peak = std::max(peak, kb);
        if (series != nullptr)
            std::fprintf(series, "%.3f %ld\n", Seconds(Clock::now() - start), kb);
        pollfd p{0, POLLIN, 0};
        if (::poll(&p, 1, std::max(ms, 1)) != 0) break;  // stdin ended (or a line)
    }
    if (series != nullptr) std::fclose(series);
    std::printf("PEAK %ld\n", peak);
    return 0;
}

int Usage(const char* name) {
    std::fprintf(stderr,
                 "usage: %s throughput PORT VERB SIZE COUNT | latency PORT COUNT |\n"
                 "       pipelined PORT VERB SIZE COUNT BATCH |\n"
                 "       connect PORT COUNT WORKERS | readers PORT DIRECT_PORT N PER SIZE |\n"
                 "       idle PORT N | xover PORT LINES COUNT [filtered] |\n"
                 "       post PORT SIZE COUNT | crowd PORT N COUNT | memwatch PID MS [FILE]\n",
                 name);
    return 2;
}

}  // namespace
}  // namespace sitowiak::bench

int main(int argc, char** argv) {
    using namespace sitowiak::bench;
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 3) return Usage(argv[0]);
    std::string mode = argv[1];
    int port = std::atoi(argv[2]);
    auto arg = [&](int i) { return i < argc ? std::atoi(argv[i]) : 0; };
    if (mode == "throughput" && argc == 6)
        return Throughput(port, argv[3], static_cast<size_t>(arg(4)), arg(5));
    if (mode == "pipelined" && argc == 7)
        return Pipelined(port, argv[3], static_cast<size_t>(arg(4)), arg(5), arg(6));
    if (mode == "latency" && argc == 4) return Latency(port, arg(3));
    if (mode == "connect" && argc == 5) return Connect(port, arg(3), arg(4));
    if (mode == "readers" && argc == 7)
        return ReaderRun(port, arg(3), arg(4), arg(5), static_cast<size_t>(arg(6))).Run();
    if (mode == "idle" && argc == 4) return Idle(port, arg(3));
    if (mode == "xover" && (argc == 5 || argc == 6))
        return Xover(port, arg(3), arg(4), argc == 6 && std::string(argv[5]) == "filtered");
    if (mode == "post" && argc == 5) return Post(port, static_cast<size_t>(arg(3)), arg(4));
    if (mode == "crowd" && argc == 5) return Crowd(port, arg(3), arg(4));
    if (mode == "memwatch" && (argc == 4 || argc == 5))
        return MemWatch(argv[2], arg(3), argc == 5 ? argv[4] : nullptr);
    return Usage(argv[0]);
}

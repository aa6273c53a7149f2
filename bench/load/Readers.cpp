#include "Readers.h"

#include <random>
#include <thread>

namespace sitowiak::load {
namespace {

constexpr std::string_view kUnreachable = "400 Brak połączenia z serwerem grup ";

constexpr const char* kGreeting = "200 load.test ready\r\n";
constexpr const char* kGroupReply = "211 100 1 100 pl.test\r\n";
constexpr const char* kTerminator = "\r\n.\r\n";
// Replies wait behind whatever the proxy is rewriting (up to the big
// overview), so the deadlines are generous; none is reached by a proxy
// that works.
constexpr auto kReplyWait = std::chrono::seconds(60);
constexpr auto kBigWait = std::chrono::seconds(180);
constexpr auto kSilentWait = std::chrono::milliseconds(1500);
constexpr size_t kSamples = 5;

enum class Op {
    Group,
    Stat,
    Article,
    Body,
    Xover,
    Post,
    Pipelined,
    Reset,
    Drip,
    Nul,
    Silent,
    Big,
    EarlyClose
};

// Weights of the operations, in the order of Op.
const std::vector<double> kWeights = {10, 10, 20, 10, 10, 6, 5, 1, 1, 2, 0.5, 0.5, 3};

class Session {
public:
    Session(const Corpus& corpus, const ReaderSettings& settings, RoundStats& stats,
            std::mt19937& rng, std::atomic<bool>& bigTaken, int reader, long serial)
        : m_corpus(corpus),
          m_settings(settings),
          m_stats(stats),
          m_rng(rng),
          m_bigTaken(bigTaken),
          m_reader(reader),
          m_serial(serial) {}

    void Run();

private:
    bool Step(Op op);
    bool Expect(const std::string& sent, const std::string& expected, const char* marker,
                Clock::duration wait = kReplyWait);
    bool Post();
    bool Reset();
    bool Silent();
    bool Big();
    bool EarlyClose();
    void Mismatch(const std::string& what, const std::string& got, const std::string& expected);
    int Pick(int from, int to) { return std::uniform_int_distribution<int>(from, to)(m_rng); }

    const Corpus& m_corpus;
    const ReaderSettings& m_settings;
    RoundStats& m_stats;
    std::mt19937& m_rng;
    std::atomic<bool>& m_bigTaken;
    int m_reader;
    long m_serial;
    Wire m_wire;
};

void Session::Mismatch(const std::string& what, const std::string& got,
                       const std::string& expected) {
    ++m_stats.mismatches;
    std::lock_guard lock(m_stats.mutex);
    if (m_stats.samples.size() < kSamples)
        m_stats.samples.push_back(what + ": got " + std::to_string(got.size()) + " bytes [" +
                                  got.substr(0, 200) + "], expected " +
                                  std::to_string(expected.size()) + " bytes [" +
                                  expected.substr(0, 200) + "]");
}

// Sends `sent`, reads up to `marker` and compares. A reply that does not
// complete because the connection ended is an interruption (the proxy was
// stopped or the news server went); one that does not come in time is a
// time-out, which a working proxy never gives.
bool Session::Expect(const std::string& sent, const std::string& expected, const char* marker,
                     Clock::duration wait) {
    if (!m_wire.Send(sent)) {
        ++m_stats.interrupted;
        return false;
    }
    bool complete;
    auto deadline = Clock::now() + wait;
    std::string got = m_wire.ReadUntil(marker, deadline, complete);
    if (!complete) {
        ++(Clock::now() >= deadline ? m_stats.timeouts : m_stats.interrupted);
        return false;
    }
    ++m_stats.replies;
    if (got != expected) Mismatch(sent.substr(0, sent.find('\r')), got, expected);
    return true;
}

bool Session::Post() {
    std::string id = std::to_string(m_reader) + "." + std::to_string(m_serial) + "." +
                     std::to_string(Pick(0, 1 << 30)) + "@load.test";
    if (!Expect("POST\r\n", "340 send article\r\n", "\r\n")) return false;
    if (!Expect(WithId(m_corpus.postTemplate, id), "240 article posted\r\n", "\r\n")) return false;
    ++m_stats.posts;
    std::lock_guard lock(m_stats.mutex);
    m_stats.ackedPosts.push_back(id);
    return true;
}

// The server sends half an article and resets: what arrives is a prefix of
// that half, and then the connection ends.
bool Session::Reset() {
    ++m_stats.resets;
    m_wire.Send("ARTICLE " + std::to_string(kArticleReset) + "\r\n");
    bool complete;
    std::string got = m_wire.ReadUntil(kTerminator, Clock::now() + kReplyWait, complete);
    const std::string& wire = m_corpus.reset.wire;
    std::string half = wire.substr(0, wire.size() / 2);
    if (complete || !half.starts_with(got)) Mismatch("ARTICLE 901", got, half);
    return false;
}

// A server that never answers: nothing comes, and the reader gives up.
bool Session::Silent() {
    ++m_stats.silents;
    m_wire.Send(std::string("GROUP ") + kGroupSilent + "\r\n");
    size_t stray = 0;
    bool ended = m_wire.WaitForEnd(Clock::now() + kSilentWait, stray);
    if (stray != 0) Mismatch("GROUP silent", std::to_string(stray) + " bytes", "silence");
    if (ended) ++m_stats.interrupted;  // the proxy was stopped meanwhile
    return false;
}

bool Session::Big() {
    bool expected = false;
    if (!m_bigTaken.compare_exchange_strong(expected, true)) return true;
    if (!m_wire.Send(std::string("XOVER ") + kBigRange + "\r\n")) return false;
    uint64_t length = 0, hash = 0;
    auto deadline = Clock::now() + kBigWait;
    if (!m_wire.HashUntil(kTerminator, deadline, length, hash)) {
        ++(Clock::now() >= deadline ? m_stats.timeouts : m_stats.interrupted);
        return false;
    }
    ++m_stats.bigOverviews;
    ++m_stats.replies;
    if (length != m_corpus.bigExpectedLength || hash != m_corpus.bigExpectedHash)
        Mismatch("XOVER big", "length " + std::to_string(length),
                 "length " + std::to_string(m_corpus.bigExpectedLength));
    return true;
}

// Closes at some point of a command: right after it, a little later, in the
// middle of a posted article, or with a reset.
bool Session::EarlyClose() {
    ++m_stats.earlyCloses;
    switch (Pick(0, 3)) {
        case 0:
            m_wire.Send("ARTICLE 2\r\n");
            break;
        case 1:
            m_wire.Send("XOVER 1-50\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(Pick(0, 5)));
            break;
        case 2: {
            bool complete;
            m_wire.Send("POST\r\n");
            m_wire.ReadUntil("\r\n", Clock::now() + kReplyWait, complete);
            std::string article = WithId(m_corpus.postTemplate, "never@load.test");
            m_wire.Send(article.substr(0, article.size() / 2));
            break;
        }
        default:
            m_wire.Send("BODY 1\r\n");
            m_wire.Close(true);
            return false;
    }
    m_wire.Close();
    return false;
}

bool Session::Step(Op op) {
    int n = Pick(1, static_cast<int>(m_corpus.articles.size()));
    const std::string num = std::to_string(n);
    switch (op) {
        case Op::Group:
            return Expect("GROUP pl.test\r\n", kGroupReply, "\r\n");
        case Op::Stat:
            return Expect("STAT " + num + "\r\n", "223 " + num + " <" + num + "@load.test>\r\n",
                          "\r\n");
        case Op::Article:
            return Expect("ARTICLE " + num + "\r\n",
                          m_corpus.articles[static_cast<size_t>(n - 1)].expected, kTerminator);
        case Op::Body:
            return Expect("BODY " + num + "\r\n", BodyExpected(m_corpus, n), kTerminator);
        case Op::Xover:
            return Expect("XOVER 1-50\r\n", m_corpus.overview.expected, kTerminator);
        case Op::Post:
            return Post();
        case Op::Pipelined:
            return Expect("GROUP pl.test\r\nSTAT " + num + "\r\n",
                          kGroupReply + ("223 " + num + " <" + num + "@load.test>\r\n"),
                          "@load.test>\r\n");
        case Op::Reset:
            return Reset();
        case Op::Drip:
            ++m_stats.drips;
            return Expect("ARTICLE 902\r\n", m_corpus.drip.expected, kTerminator);
        case Op::Nul:
            ++m_stats.nuls;
            return Expect("ARTICLE 903\r\n", m_corpus.nul.expected, kTerminator);
        case Op::Silent:
            return Silent();
        case Op::Big:
            return !m_settings.bigOverview || Big();
        case Op::EarlyClose:
            return EarlyClose();
    }
    return false;
}

void Session::Run() {
    m_wire = Wire::Connect(m_settings.proxyPort);
    if (!m_wire.Valid()) {
        ++m_stats.refusedConnects;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return;
    }
    ++m_stats.sessions;
    bool complete;
    std::string greeting = m_wire.ReadUntil("\r\n", Clock::now() + kReplyWait, complete);
    // The proxy's own 400 line, then the close, when the news server cannot
    // be reached: counted as a session without the server's greeting.
    const bool unreachable = complete && greeting.starts_with(kUnreachable);
    if (!complete || unreachable) {
        ++(greeting.empty() || unreachable ? m_stats.closedBeforeGreeting : m_stats.timeouts);
        // The news server refuses just now: try again a little later.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return;
    }
    if (greeting != kGreeting) Mismatch("greeting", greeting, kGreeting);
    std::discrete_distribution<int> pick(kWeights.begin(), kWeights.end());
    for (int i = Pick(3, 12); i > 0; --i)
        if (!Step(static_cast<Op>(pick(m_rng)))) return;
}

}  // namespace

void RunReaders(const Corpus& corpus, const ReaderSettings& settings, Clock::time_point end,
                const std::atomic<bool>& stop, RoundStats& stats, unsigned seed) {
    std::atomic<bool> bigTaken{!settings.bigOverview};
    std::vector<std::thread> threads;
    for (int r = 0; r < settings.readers; ++r)
        threads.emplace_back([&, r] {
            std::mt19937 rng(seed * 7919u + static_cast<unsigned>(r));
            for (long serial = 0; Clock::now() < end && !stop; ++serial) {
                Session session(corpus, settings, stats, rng, bigTaken, r, serial);
                session.Run();
            }
        });
    for (auto& t : threads) t.join();
}

}  // namespace sitowiak::load

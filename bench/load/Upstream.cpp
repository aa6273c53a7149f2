#include "Upstream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "Wire.h"

namespace sitowiak::load {
namespace {

constexpr const char* kGreeting = "200 load.test ready\r\n";
// How long a connection may stay idle; the proxy closes it long before.
constexpr auto kIdle = std::chrono::seconds(60);
constexpr int kDripPauseUs = 300;

int Number(const std::string& line, size_t from) {
    return std::atoi(line.c_str() + from);
}

}  // namespace

Upstream::Upstream(const Corpus& corpus) : m_corpus(corpus) {
    Open();
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

Upstream::~Upstream() {
    m_stop = true;
    m_acceptThread.join();
    if (m_listenFd >= 0) ::close(m_listenFd);
    // Connections end when the proxy closes them or when they idle out.
    for (auto until = Clock::now() + kIdle; m_live > 0 && Clock::now() < until;)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void Upstream::Open() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sin.sin_port = htons(static_cast<uint16_t>(m_port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || ::listen(fd, 512) != 0)
        throw std::runtime_error("the scripted news server cannot listen");
    socklen_t len = sizeof sin;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &len);
    m_port = ntohs(sin.sin_port);
    m_listenFd = fd;
}

void Upstream::SetRefusing(bool refusing) {
    if (refusing) {
        int fd = m_listenFd.exchange(-1);
        if (fd >= 0) ::close(fd);
    } else if (m_listenFd < 0) {
        Open();
    }
}

std::map<std::string, int> Upstream::PostCounts() {
    std::lock_guard lock(m_mutex);
    return m_posts;
}

void Upstream::AcceptLoop() {
    while (!m_stop) {
        int listenFd = m_listenFd;
        if (listenFd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        pollfd p{listenFd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++m_connections;
        ++m_live;
        std::thread([this, fd] {
            Serve(fd);
            --m_live;
        }).detach();
    }
}

// One connection: greeting, then one reply per command line.
void Upstream::Serve(int fd) {
    Wire w(fd);
    if (!w.Send(kGreeting)) return;
    for (;;) {
        bool complete;
        std::string line = w.ReadUntil("\r\n", Clock::now() + kIdle, complete);
        if (!complete || m_stop) return;
        bool sent = true;
        if (line.starts_with("GROUP ") && line.substr(6, 6) == kGroupSilent) {
            size_t stray;
            w.WaitForEnd(Clock::now() + kIdle, stray);  // never answers again
            return;
        } else if (line.starts_with("GROUP ")) {
            sent = w.Send("211 100 1 100 pl.test\r\n");
        } else if (line.starts_with("STAT ")) {
            int n = Number(line, 5);
            sent =
                w.Send("223 " + std::to_string(n) + " <" + std::to_string(n) + "@load.test>\r\n");
        } else if (line.starts_with("ARTICLE ")) {
            int n = Number(line, 8);
            if (n == kArticleReset) {
                w.Send(m_corpus.reset.wire.substr(0, m_corpus.reset.wire.size() / 2));
                w.Close(true);
                return;
            }
            if (n == kArticleEndless) {
                // Until the proxy closes the connection (or 4 GiB have gone).
                EndlessArticle endless;
                for (int i = 0; i < 4096 && w.Send(endless.Next(1 << 20)); ++i) {
                }
                return;
            }
            if (n == kArticleDrip)
                sent = w.Drip(m_corpus.drip.wire, kDripPauseUs);
            else if (n == kArticleNul)
                sent = w.Send(m_corpus.nul.wire);
            else
                sent = w.Send(
                    m_corpus.articles[static_cast<size_t>(n - 1) % m_corpus.articles.size()].wire);
        } else if (line.starts_with("BODY ")) {
            sent = w.Send(BodyReply(m_corpus, Number(line, 5)));
        } else if (line.starts_with("XOVER ")) {
            bool big = line.substr(6, std::string_view(kBigRange).size()) == kBigRange;
            sent = w.Send(big ? m_corpus.bigOverview : m_corpus.overview.wire);
        } else if (line == "POST\r\n") {
            if (!w.Send("340 send article\r\n")) return;
            ReceivePost(w);
            sent = w.Send("240 article posted\r\n");
        } else {
            sent = w.Send("500 what?\r\n");
        }
        if (!sent) return;
    }
}

// Reads one posted article, counts its Message-ID and checks its bytes.
void Upstream::ReceivePost(Wire& w) {
    bool complete;
    std::string article = w.ReadUntil("\r\n.\r\n", Clock::now() + kIdle, complete);
    if (!complete) return;
    size_t at = article.find("Message-ID: <");
    std::string id = at == std::string::npos
                         ? std::string("?")
                         : article.substr(at + 13, article.find('>', at) - at - 13);
    if (article != WithId(m_corpus.postExpected, id)) ++m_postMismatches;
    std::lock_guard lock(m_mutex);
    ++m_posts[id];
}

}  // namespace sitowiak::load

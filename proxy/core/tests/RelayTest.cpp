#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "proxy/core/NntpWords.h"
#include "proxy/core/tests/RelayHarness.h"

namespace sitowiak::testing {
namespace {

constexpr const char* kGreeting = "200 news.test ready\r\n";

// A news server that greets, then answers each command line with the reply
// `answer` gives for it (empty: no answer), recording the lines it saw.
struct CommandServer {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::function<std::string(const std::string&)> answer;
    ScriptedServer server{[this](PeerConnection& c) {
        c.Send(kGreeting);
        for (;;) {
            std::string line = c.ReadLine(3000);
            if (line.empty() || !line.ends_with("\r\n")) return;
            {
                std::lock_guard lock(mutex);
                lines.push_back(line);
            }
            std::string reply = answer(line);
            if (reply == "<close>") return;
            c.SendInChunks(reply, 700);
        }
    }};
    std::vector<std::string> Lines() {
        std::lock_guard lock(mutex);
        return lines;
    }
};

const std::string kArticleReply =
    "220 1 <a@b> article\r\n"
    "From: a@b\r\nSubject: x\r\nContent-Type: text/plain; charset=iso-8859-2\r\n\r\n"
    "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1.\r\n"
    "..dot\r\n"
    ".\r\n";

TEST_F(RelayTest, GreetingAndPlainRepliesPassThroughUnchanged) {
    CommandServer upstream;
    upstream.answer = [](const std::string& line) -> std::string {
        if (line.starts_with("GROUP")) return "211 3 1 3 pl.test\r\n";
        if (line.starts_with("article 9")) return "430 no such article\r\n";
        return "500 what?\r\n";
    };
    Listen(upstream.server);
    auto got = Reader([](PeerConnection& c) {
        std::string all = c.ReadLine();
        c.Send("GROUP pl.test\r\n");
        all += c.ReadLine();
        // An error reply to ARTICLE is passed on at once and holds nothing.
        c.Send("article 9\r\n");
        all += c.ReadLine();
        c.Send("GROUP pl.test\r\n");
        all += c.ReadLine();
        return all;
    });
    EXPECT_EQ(got, std::string(kGreeting) + "211 3 1 3 pl.test\r\n430 no such article\r\n" +
                       "211 3 1 3 pl.test\r\n");
}

TEST_F(RelayTest, ARequestLineGoesUpstreamOnlyWhenComplete) {
    std::promise<std::string> firstRead;
    // The server listens for 300 ms after the first part has gone; the
    // rest follows only then.
    std::promise<void> firstPartSent, silenceChecked;
    auto firstPartSentF = firstPartSent.get_future();
    auto silenceCheckedF = silenceChecked.get_future();
    ScriptedServer upstream([&](PeerConnection& c) {
        c.Send(kGreeting);
        firstPartSentF.wait_for(std::chrono::seconds(10));
        bool silent = c.Silent(300);
        silenceChecked.set_value();
        std::string line = c.ReadLine();
        firstRead.set_value(silent ? line : "bytes came before the line end");
        c.Send("211 0 0 0 x\r\n");
    });
    Listen(upstream);
    Reader([&](PeerConnection& c) {
        c.ReadLine();
        c.Send("GROUP pl.");
        firstPartSent.set_value();
        silenceCheckedF.wait_for(std::chrono::seconds(10));
        c.Send("test\r\n");
        return c.ReadLine();
    });
    EXPECT_EQ(firstRead.get_future().get(), "GROUP pl.test\r\n");
}

TEST_F(RelayTest, HeldArticleIsRewrittenAndSentAsTheFilterGivesIt) {
    m_core->Settings().Kodowanie = "utf-8";
    CommandServer upstream;
    upstream.answer = [](const std::string& line) -> std::string {
        return line.starts_with("ARTICLE") ? kArticleReply : "211 1 1 1 g\r\n";
    };
    Listen(upstream.server);
    auto got = Reader([](PeerConnection& c) {
        c.ReadLine();
        c.Send("ARTICLE 1\r\nGROUP g\r\n");
        std::string article = c.ReadUntil("\r\n.\r\n");
        return article + "|" + c.ReadLine();
    });
    std::string expected = RewrittenArticle(kArticleReply);
    EXPECT_NE(expected, kArticleReply);
    EXPECT_EQ(got, expected + "|211 1 1 1 g\r\n");
}

TEST_F(RelayTest, HeldOverviewIsRewrittenAndA412PassesAtOnce) {
    m_core->Settings().Kodowanie = "windows-1250";
    const std::string overview =
        "224 overview\r\n"
        "1\t=?iso-8859-2?Q?Za=BF=F3=B3=E6?=\ta@b\tdate\t<1@b>\t\t10\t1\r\n"
        "2\traw \xC5\xBC\ta@b\tdate\t<2@b>\t\t10\t1\r\n"
        ".\r\n";
    CommandServer upstream;
    upstream.answer = [&](const std::string& line) -> std::string {
        if (line.starts_with("XOVER 9")) return "412 no group\r\n";
        return overview;
    };
    Listen(upstream.server);
    auto got = Reader([](PeerConnection& c) {
        c.ReadLine();
        c.Send("XOVER 9\r\n");
        std::string first = c.ReadLine();
        c.Send("xover 1-2\r\n");
        return first + "|" + c.ReadUntil("\r\n.\r\n");
    });
    EXPECT_EQ(got, "412 no group\r\n|" + RewrittenOverview(overview));
}

TEST_F(RelayTest, OverviewLinesLeftOutAreCountedAndTheUndeclaredCharsetReadsThem) {
    // A raw UTF-8 subject is re-encoded and kept; a raw iso-8859-2 one is
    // left out and the log says so, until KodowanieNieoznaczonych reads it.
    m_core->Settings().Kodowanie = "windows-1250";
    m_core->Settings().Logowanie = true;
    const std::string overview =
        "224 overview\r\n"
        "1\tRe: \xC5\xBC\ta@b\tdate\t<1@b>\t\t10\t1\r\n"
        "2\tRe: \xBF\ta@b\tdate\t<2@b>\t\t10\t1\r\n"
        ".\r\n";
    CommandServer upstream;
    upstream.answer = [&](const std::string&) { return overview; };
    Listen(upstream.server);
    auto xover = [&] {
        return Reader([](PeerConnection& c) {
            c.ReadLine();
            c.Send("XOVER 1-2\r\n");
            return c.ReadUntil("\r\n.\r\n");
        });
    };
    EXPECT_EQ(xover(), "224 overview\r\n1\tRe: \xBF\ta@b\tdate\t<1@b>\t\t10\t1\r\n.\r\n");
    auto leftOut = [&] {
        size_t n = 0;
        for (const auto& e : m_log.entries)
            if (e.title == "Pominięte wiersze" && e.text.ends_with("(Ignorowanie nagłówków Utf-8): 1")) ++n;
        return n;
    };
    EXPECT_EQ(leftOut(), 1u);
    m_core->Settings().KodowanieNieoznaczonych = "iso-8859-2";
    const std::string both = xover();
    EXPECT_EQ(both, RewrittenOverview(overview));
    EXPECT_NE(both.find("2\tRe: \xBF\t"), std::string::npos);
    EXPECT_EQ(leftOut(), 1u);
}

TEST_F(RelayTest, APostFromOutsideTheWriteListNeverReachesTheServer) {
    m_core->Settings().WriteAccess = "10.*;localhost";
    CommandServer upstream;
    upstream.answer = [](const std::string& line) -> std::string {
        if (line.starts_with("MODE")) return "200 reader\r\n";
        if (line.starts_with("POST")) return "340 send it\r\n";
        return "211 1 1 1 g\r\n";
    };
    Listen(upstream.server);
    auto got = Reader([](PeerConnection& c) {
        c.ReadLine();
        // Another command and the POST in one packet: the POST is still caught.
        c.Send("MODE READER\r\nPOST\r\nGROUP g\r\n");
        std::string all = c.ReadLine();
        all += c.ReadLine();
        all += c.ReadLine();
        return all;
    });
    // In the order of the commands; MODE READER says 201 to a reader that
    // may not post.
    EXPECT_EQ(got,
              "201 reader\r\n441 Twoje uprawnienia wykluczają wysyłanie artykułów\r\n"
              "211 1 1 1 g\r\n");
    for (const std::string& line : upstream.Lines()) EXPECT_FALSE(line.starts_with("POST"));
    EXPECT_EQ(upstream.Lines().size(), 2u);
}

// Every way of handing the server an article, spelled as the server reads
// commands, is refused to a reader outside the write list in the order of
// its commands; COMPRESS and STARTTLS are answered by the proxy and left
// out of the capabilities. None of it reaches the server.
TEST_F(RelayTest, NoWayAroundTheWriteListAndNoStreamThatHidesCommands) {
    m_core->Settings().WriteAccess = "10.*";
    CommandServer upstream;
    upstream.answer = [](const std::string& line) -> std::string {
        if (line == "CAPABILITIES\r\n")
            return "101 Capability list:\r\nVERSION 2\r\nCOMPRESS DEFLATE\r\nIHAVE\r\n"
                   "OVER\r\nPOST\r\nstarttls\r\n.\r\n";
        if (line == "DATE\r\n") return "111 20261207120000\r\n";
        return "500 what?\r\n";
    };
    Listen(upstream.server);
    const std::string refusal = "Twoje uprawnienia wykluczają wysyłanie artykułów\r\n";
    const std::string capabilities = "101 Capability list:\r\nVERSION 2\r\nOVER\r\n.\r\n";
    auto got = Reader([&](PeerConnection& c) {
        std::string all = c.ReadLine();
        c.Send(
            " POST\r\n\tpost\r\nIHAVE <i@d>\r\nPOST\nCHECK <c@d>\r\n"
            "TAKETHIS <t@d>\r\nFrom: x\r\n\r\nPOST\r\n.\r\nXBATCH 10\r\n"
            "COMPRESS DEFLATE\r\nstarttls\r\nCAPABILITIES\r\nDATE\r\n");
        all += c.ReadUntil("111 20261207120000\r\n");
        return all;
    });
    EXPECT_EQ(got, "201 news.test ready\r\n441 " + refusal + "441 " + refusal + "435 " + refusal +
                       "441 " + refusal + "438 <c@d> " + refusal + "439 <t@d> " + refusal + "502 " +
                       refusal + std::string(proxy::nntp::kCompressRefused) +
                       std::string(proxy::nntp::kStartTlsRefused) + capabilities +
                       "111 20261207120000\r\n");
    EXPECT_EQ(upstream.Lines(), (std::vector<std::string>{"CAPABILITIES\r\n", "DATE\r\n"}));

    // A reader that may post sees posting offered, but still no COMPRESS.
    m_core->Settings().WriteAccess = "127.0.0.1";
    got = Reader([&](PeerConnection& c) {
        std::string all = c.ReadLine();
        c.Send("CAPABILITIES\r\nCOMPRESS DEFLATE\r\n");
        all += c.ReadUntil("\r\n.\r\n");
        return all + c.ReadLine();
    });
    EXPECT_EQ(got,
              "200 news.test ready\r\n101 Capability list:\r\nVERSION 2\r\nIHAVE\r\n"
              "OVER\r\nPOST\r\n.\r\n" +
                  std::string(proxy::nntp::kCompressRefused));
}

TEST_F(RelayTest, APermittedPostIsCollectedAndSentWithTheFooter) {
    std::promise<std::string> received;
    // The server listens for 300 ms after the first part has gone, and the
    // rest follows only then: no timing of either thread can decide it.
    std::promise<void> firstPartSent, silenceChecked;
    auto firstPartSentF = firstPartSent.get_future();
    auto silenceCheckedF = silenceChecked.get_future();
    ScriptedServer upstream([&](PeerConnection& c) {
        c.Send(kGreeting);
        if (c.ReadLine() != "POST\r\n") return received.set_value("no POST");
        c.Send("340 send article\r\n");
        firstPartSentF.wait_for(std::chrono::seconds(10));
        bool silentWhileIncomplete = c.Silent(300);
        silenceChecked.set_value();
        std::string article = c.ReadUntil("\r\n.\r\n");
        received.set_value(silentWhileIncomplete ? article : "article came in parts");
        c.Send("240 posted\r\n");
    });
    Listen(upstream);
    std::string article =
        "From: a@b\r\nNewsgroups: pl.test\r\nSubject: s\r\n"
        "Content-Type: text/plain; charset=utf-8\r\n\r\nbody\r\n.\r\n";
    auto got = Reader([&](PeerConnection& c) {
        c.ReadLine();
        c.Send("POST\r\n");
        std::string go = c.ReadLine();
        c.Send(article.substr(0, 20));
        firstPartSent.set_value();
        silenceCheckedF.wait_for(std::chrono::seconds(10));
        c.Send(article.substr(20));
        return go + c.ReadLine();
    });
    EXPECT_EQ(got, "340 send article\r\n240 posted\r\n");
    std::string sent = received.get_future().get();
    EXPECT_NE(sent.find("\r\n-- \r\nPrzefiltrowane przez Sitowiak 5.00.00.48\r\n"
                        "https://sitowiak.plaskun.example/\r\n.\r\n"),
              std::string::npos)
        << sent;
}

TEST_F(RelayTest, APostTheServerRefusesEndsPostingSoLaterCommandsFlow) {
    CommandServer upstream;
    upstream.answer = [](const std::string& line) -> std::string {
        return line.starts_with("POST") ? "440 posting not allowed\r\n" : "211 1 1 1 g\r\n";
    };
    Listen(upstream.server);
    auto got = Reader([](PeerConnection& c) {
        c.ReadLine();
        c.Send("POST\r\n");
        std::string all = c.ReadLine();
        c.Send("GROUP g\r\n");
        return all + c.ReadLine();
    });
    EXPECT_EQ(got, "440 posting not allowed\r\n211 1 1 1 g\r\n");
}

TEST_F(RelayTest, EverythingTheServerSentReachesASlowReaderBeforeItIsClosed) {
    std::string big(3 << 20, 'x');
    big += "\r\n";
    ScriptedServer upstream([&](PeerConnection& c) {
        c.Send(kGreeting);
        c.Send(big);
        // Closing at once, while most of the reply still waits in the proxy.
    });
    Listen(upstream);
    bool closed = false;
    auto got = Reader([&](PeerConnection& c) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return c.ReadToClose(&closed, 10000);
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(got.size(), std::string(kGreeting).size() + big.size());
}

TEST_F(RelayTest, AnUnfinishedHeldReplyStillReachesTheReaderWhenTheServerCloses) {
    ScriptedServer upstream([](PeerConnection& c) {
        c.Send(kGreeting);
        c.ReadLine();
        c.Send("220 1 <a@b>\r\nSubject: cut\r\n\r\nhalf a bo");
    });
    Listen(upstream);
    bool closed = false;
    auto got = Reader([&](PeerConnection& c) {
        c.ReadLine();
        c.Send("ARTICLE 1\r\n");
        return c.ReadToClose(&closed);
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(got, "220 1 <a@b>\r\nSubject: cut\r\n\r\nhalf a bo");
}

// A news server that cannot be reached leaves the reader one 400 line that
// names the server and the reason, then the close; the log says the same.
TEST_F(RelayTest, AnUnreachableNewsServerLeavesTheReaderOneLineThatSaysWhy) {
    m_core->Settings().Logowanie = true;
    int closedPort;
    {
        ScriptedServer gone([](PeerConnection&) {});
        closedPort = gone.Port();
    }
    Listen(closedPort);
    const std::string prefix = "400 Brak połączenia z serwerem grup ";
    bool closed = false;
    auto got = Reader([&](PeerConnection& c) { return c.ReadToClose(&closed); });
    EXPECT_TRUE(closed);
    const std::string refused =
        prefix + "127.0.0.1:" + std::to_string(closedPort) + ": serwer odmówił połączenia\r\n";
    EXPECT_EQ(got, refused);
    auto logged = std::find_if(m_log.entries.begin(), m_log.entries.end(), [](const auto& e) {
        return e.title == "Błąd połączenia z serwerem";
    });
    ASSERT_NE(logged, m_log.entries.end());
    EXPECT_EQ(logged->text, refused);

    // A server that resets the connection before its greeting.
    ScriptedServer resetting([](PeerConnection& c) { c.Reset(); });
    m_core->Settings().RemotePort = std::to_string(resetting.Port());
    got = Reader([&](PeerConnection& c) { return c.ReadToClose(&closed); });
    EXPECT_TRUE(closed);
    EXPECT_EQ(got, prefix + "127.0.0.1:" + std::to_string(resetting.Port()) +
                       ": serwer zerwał połączenie przed powitaniem\r\n");

    // A name that does not resolve (or no name service at all on this machine).
    m_core->Settings().Address = "no-such-host.invalid";
    got = Reader([&](PeerConnection& c) { return c.ReadToClose(&closed, 15000); }, 20000);
    EXPECT_TRUE(closed);
    const std::string named = prefix + "no-such-host.invalid:" + std::to_string(resetting.Port());
    EXPECT_TRUE(got == named + ": nieznana nazwa serwera\r\n" ||
                got == named + ": serwer nazw nie odpowiada\r\n")
        << got;
}

TEST_F(RelayTest, TheReadListAdmitsAndTheStatusBarCounts) {
    CommandServer upstream;
    upstream.answer = [](const std::string&) { return std::string("211 1 1 1 g\r\n"); };
    m_core->Settings().ReadAccess = "10.0.0.1;;192.168.*";
    Listen(upstream.server);
    bool closed = false;
    auto got = Reader([&](PeerConnection& c) { return c.ReadToClose(&closed); });
    EXPECT_TRUE(closed);
    EXPECT_EQ(got, "");
    EXPECT_EQ(upstream.server.Connections(), 0);
    EXPECT_TRUE(PumpUntil([&] { return m_view.panels[1] == "0"; }));

    m_core->Settings().ReadAccess = "x;127.0.0.*";
    Reader([&](PeerConnection& c) {
        c.ReadLine();
        return 0;
    });
    EXPECT_TRUE(PumpUntil([&] { return m_view.panels[1] == "0" && m_view.panels[3].empty(); }));
}

TEST_F(RelayTest, LogEntriesCarryTheConnectionColoursOnlyWhenLogging) {
    CommandServer upstream;
    upstream.answer = [](const std::string&) { return std::string("211 1 1 1 g\r\n"); };
    Listen(upstream.server);
    m_core->Settings().Logowanie = false;
    Reader([](PeerConnection& c) { return c.ReadLine(); });
    Pump(100);
    EXPECT_TRUE(m_log.entries.empty());

    m_core->Settings().Logowanie = true;
    auto first = PeerConnection::ConnectTo(ProxyPort());
    PumpUntil([&] { return m_log.entries.size() >= 2; });
    auto second = PeerConnection::ConnectTo(ProxyPort());
    PumpUntil([&] { return m_log.entries.size() >= 4; });
    ASSERT_GE(m_log.entries.size(), 4u);
    EXPECT_EQ(m_log.entries[0].title, "Nawiązanie połączenia");
    EXPECT_EQ(m_log.entries[0].color, 0x000000u);
    EXPECT_EQ(m_log.entries[1].title, "Odpowiedzi");
    EXPECT_EQ(m_log.entries[1].text, kGreeting);
    EXPECT_EQ(m_log.entries[2].color, 0x800000u);
    first->Close();
    PumpUntil([&] { return m_log.entries.back().title == "Zamknięcie połączenia"; });
    EXPECT_EQ(m_log.entries.back().color, m_core->WindowColor);
}

TEST_F(RelayTest, StoppingClosesEveryReaderAndAPortInUseFailsCleanly) {
    CommandServer upstream;
    upstream.answer = [](const std::string&) { return std::string("211 1 1 1 g\r\n"); };
    Listen(upstream.server);
    std::vector<std::unique_ptr<PeerConnection>> readers;
    for (int i = 0; i < 3; ++i) readers.push_back(PeerConnection::ConnectTo(ProxyPort()));
    EXPECT_TRUE(PumpUntil([&] { return m_view.panels[1] == "3"; }));
    m_core->SetListening(false);
    EXPECT_FALSE(m_core->Listening());
    EXPECT_EQ(m_view.caption, "Nasłuchuj");
    EXPECT_TRUE(m_view.editsEnabled);
    EXPECT_TRUE(PumpUntil([&] { return m_view.panels[1] == "0" && m_view.panels[3].empty(); }));
    for (auto& r : readers) {
        bool closed = false;
        r->ReadToClose(&closed, 2000);
        EXPECT_TRUE(closed);
    }

    // Another listener on the same port: the error names the function and
    // the reason, and nothing changes.
    RelayTest::Listen(upstream.server);
    FakeView otherView;
    proxy::ProxyCore other(otherView, m_identity);
    other.Settings().LocalPort = std::to_string(ProxyPort());
    try {
        other.SetListening(true);
        FAIL() << "listening on a port in use succeeded";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("Error 10048"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(other.Listening());
}

// The option of one of this process's TCP sockets, found by its local port
// and (when not 0) its peer's port; -1 when there is no such socket.
int SocketOptionOf(int localPort, int peerPort, int name) {
    for (int fd = 3; fd < 1024; ++fd) {
        sockaddr_in local{}, peer{};
        socklen_t len = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) continue;
        len = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) continue;
        if (localPort != 0 && ntohs(local.sin_port) != localPort) continue;
        if (peerPort != 0 && ntohs(peer.sin_port) != peerPort) continue;
        int value = -1;
        len = sizeof value;
        if (::getsockopt(fd, IPPROTO_TCP, name, &value, &len) == 0) return value;
    }
    return -1;
}

// A reply that takes many reads is passed on corked, in whole segments; the
// cork must come off once the server has nothing more waiting, or the
// reply's last bytes would wait for the kernel's cork timer. Both
// connections send without Nagle's delay.
TEST_F(RelayTest, ALongReplyLeavesTheReaderUncorkedAndBothSidesWithoutNagle) {
    std::string body;
    for (int i = 0; body.size() < 300000; ++i) body += "line " + std::to_string(i) + "\r\n";
    const std::string reply = "215 list follows\r\n" + body + ".\r\n";
    ScriptedServer upstream([&](PeerConnection& c) {
        c.Send(kGreeting);
        if (c.ReadLine().starts_with("LIST")) c.Send(reply);
        c.ReadLine();
    });
    Listen(upstream);
    int proxyPort = ProxyPort(), upstreamPort = upstream.Port();
    auto got = Reader([&](PeerConnection& c) {
        c.ReadLine();
        c.Send("LIST\r\n");
        std::string all = c.ReadUntil("\r\n.\r\n");
        // The relay is idle now: read its sockets' options before leaving.
        all += " cork=" + std::to_string(SocketOptionOf(proxyPort, 0, TCP_CORK));
        all += " reader-nodelay=" + std::to_string(SocketOptionOf(proxyPort, 0, TCP_NODELAY));
        all += " upstream-nodelay=" + std::to_string(SocketOptionOf(0, upstreamPort, TCP_NODELAY));
        return all;
    });
    ASSERT_GE(got.size(), reply.size());
    EXPECT_TRUE(got.starts_with(reply));
    EXPECT_EQ(got.substr(reply.size()), " cork=0 reader-nodelay=1 upstream-nodelay=1");
}

}  // namespace
}  // namespace sitowiak::testing

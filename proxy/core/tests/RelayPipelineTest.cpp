// Pipelined commands: every pair and triple of the commands readers use,
// sent in one write, must get exactly the bytes each command gets when sent
// alone, whatever the order and however the server's replies are cut into
// pieces. What each command gets alone is checked against the filter too.
#include <atomic>
#include <map>

#include "proxy/core/NntpWords.h"

#include "proxy/core/tests/RelayHarness.h"

namespace sitowiak::testing {
namespace {

const std::string kArticleReply =
    "220 1 <a@b>\r\n"
    "From: =?iso-8859-2?Q?Pi=B3a?= <a@b>\r\nSubject: =?iso-8859-2?Q?Za=BF=F3=B3=E6?=\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=iso-8859-2\r\n\r\n"
    "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1.\r\n"
    "..article and post at the start of a line\r\n"
    "post\r\n"
    ".\r\n";
const std::string kOverviewReply =
    "224 overview\r\n"
    "1\t=?iso-8859-2?Q?Za=BF=F3=B3=E6?=\ta@b\tdate\t<1@b>\t\t10\t1\r\n"
    "2\traw \xC5\xBC\ta@b\tdate\t<2@b>\t\t10\t1\r\n"
    ".\r\n";
const std::string kXhdrReply =
    "221 subject fields follow\r\n"
    "1 =?iso-8859-2?Q?Za=BF=F3=B3=E6?=\r\n"
    "2 raw \xC5\xBC\r\n"
    ".\r\n";
const std::string kPostedArticle =
    "From: a@b\r\nNewsgroups: pl.test\r\nSubject: s\r\n\r\nbody\r\nDATE\r\n.\r\n";

// A news server that answers each command, cutting every reply into pieces
// of a size that changes from reply to reply: byte by byte at both ends for
// the small sizes, evenly for the others.
void AnsweringServer(PeerConnection& c, std::atomic<int>& postsSeen) {
    static constexpr size_t kPieces[] = {1, 2, 3, 4, 5, 7, 13, 64, 700, 1 << 20};
    size_t turn = 0;
    c.Send("200 news.test ready\r\n");
    for (;;) {
        std::string line = c.ReadLine(20000);
        if (!line.ends_with("\r\n")) return;
        std::string_view word = line;
        while (!word.empty() && (word[0] == ' ' || word[0] == '\t')) word.remove_prefix(1);
        std::string verb(word.substr(0, word.find_first_of(" \r")));
        for (char& ch : verb) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        word = verb;
        std::string reply;
        const size_t blank = kArticleReply.find("\r\n\r\n");
        if (word == "ARTICLE")
            reply = kArticleReply;
        else if (word == "HEAD")
            reply = "221" + kArticleReply.substr(3, blank + 2 - 3) + ".\r\n";
        else if (word == "BODY")
            reply = "222 1 <a@b>\r\n" + kArticleReply.substr(blank + 4);
        else if (word == "XOVER" || word == "OVER")
            reply = kOverviewReply;
        else if (word == "XHDR")
            reply = kXhdrReply;
        else if (word == "GROUP")
            reply = "211 3 1 3 pl.test\r\n";
        else if (word == "STAT")
            reply = "223 1 <a@b>\r\n";
        else if (word == "DATE")
            reply = "111 20261207120000\r\n";
        else if (word == "CAPABILITIES")
            reply =
                "101 Capability list:\r\nVERSION 2\r\nCOMPRESS DEFLATE\r\nOVER\r\n"
                "POST\r\nstarttls\r\nHDR\r\n.\r\n";
        else if (word == "POST") {
            ++postsSeen;
            c.Send("340 send it\r\n");
            if (!c.ReadUntil("\r\n.\r\n", 20000).ends_with("\r\n.\r\n")) return;
            reply = "240 posted\r\n";
        } else
            reply = "500 what?\r\n";
        size_t piece = kPieces[turn++ % std::size(kPieces)];
        if (piece < 64 && reply.size() > 2 * piece) {
            // Small pieces at both ends cut the status line and the
            // terminating line; the middle goes whole.
            const auto pause = std::chrono::microseconds(200);
            c.SendInChunks(reply.substr(0, piece), 1, pause);
            std::this_thread::sleep_for(pause);
            c.Send(reply.substr(piece, reply.size() - 2 * piece));
            std::this_thread::sleep_for(pause);
            c.SendInChunks(reply.substr(reply.size() - piece), 1, pause);
        } else {
            c.SendInChunks(reply, piece, std::chrono::microseconds(200));
        }
    }
}

struct Command {
    std::string name, sent;
};

TEST_F(RelayTest, PipelinedCommandsGetExactlyTheRepliesEachGetsAlone) {
    std::atomic<int> postsSeen{0};
    ScriptedServer upstream([&](PeerConnection& c) { AnsweringServer(c, postsSeen); });
    Listen(upstream);
    struct Settings {
        const char *charset, *content;
        bool style, ignoreRaw, mayPost;
    };
    const Settings kSettings[] = {{"", "", false, false, true},
                                  {"utf-8", "text/plain", true, true, false},
                                  {"windows-1250", "text/html", true, false, true},
                                  {"us-ascii", "", false, true, false}};
    for (const Settings& s : kSettings) {
        proxy::ProxySettings& v = m_core->Settings();
        v.Kodowanie = s.charset;
        v.Zawartosc = s.content;
        v.Style = s.style;
        v.IgnorowanieBlednych = s.ignoreRaw;
        v.WriteAccess = s.mayPost ? "127.0.0.1" : "10.*";
        SCOPED_TRACE(std::string("charset ") + s.charset + (s.mayPost ? ", may post" : ""));
        // Spelled as readers do: any case, leading white space, bare LF.
        const std::vector<Command> commands = {
            {"ARTICLE", "article 1\r\n"},
            {"BODY", "\tBODY 1\r\n"},
            {"HEAD", " head 1\n"},
            {"XOVER", "XOVER 1-2\r\n"},
            {"OVER", "over 1-2\n"},
            {"XHDR", "XHDR subject 1-2\r\n"},
            {"GROUP", "GROUP pl.test\r\n"},
            {"STAT", "stat 1\r\n"},
            {"DATE", "  \r\nDATE\r\n"},  // a blank line gets no reply
            {"POST", s.mayPost ? "POST\r\n" + kPostedArticle : "post\r\n"},
        };

        // What each command must get alone, from the filter's own output.
        const std::string article = RewrittenArticle(kArticleReply);
        const size_t headerEnd = article.find("\r\n\r\n") + 2;
        const size_t statusEnd = article.find("\r\n") + 2;
        std::map<std::string, std::string> expected = {
            {"ARTICLE", article},
            {"HEAD", "221" + article.substr(3, headerEnd - 3) + ".\r\n"},
            {"BODY", "222" + article.substr(3, statusEnd - 3) + article.substr(headerEnd + 2)},
            {"XOVER", RewrittenOverview(kOverviewReply)},
            {"OVER", RewrittenOverview(kOverviewReply)},
            {"XHDR", RewrittenOverview(kXhdrReply)},
            {"GROUP", "211 3 1 3 pl.test\r\n"},
            {"STAT", "223 1 <a@b>\r\n"},
            {"DATE", "111 20261207120000\r\n"},
            {"POST",
             s.mayPost ? "340 send it\r\n240 posted\r\n" : std::string(proxy::nntp::kPostRefused)},
        };
        int postsBefore = postsSeen;
        std::vector<std::string> failures = Reader(
            [&](PeerConnection& c) {
                std::vector<std::string> failed;
                std::string greeting = c.ReadLine();
                if (greeting != (s.mayPost ? "200 news.test ready\r\n" : "201 news.test ready\r\n"))
                    failed.push_back("greeting " + greeting);
                std::map<std::string, std::string> alone;
                for (const Command& command : commands) {
                    c.Send(command.sent);
                    std::string& got = alone[command.name];
                    got = c.ReadCount(expected[command.name].size(), 10000);
                    if (got != expected[command.name])
                        failed.push_back(command.name + " alone: " + got);
                }
                auto run = [&](const std::vector<const Command*>& sequence) {
                    std::string sent, want, names;
                    for (const Command* command : sequence) {
                        sent += command->sent;
                        want += alone[command->name];
                        names += command->name + " ";
                    }
                    c.Send(sent);
                    std::string got = c.ReadCount(want.size(), 10000);
                    if (got != want) failed.push_back(names + "got: " + got);
                };
                for (const Command& a : commands)
                    for (const Command& b : commands) {
                        run({&a, &b});
                        for (const Command& third : commands) run({&a, &b, &third});
                        if (failed.size() > 5) return failed;
                    }
                // Nothing beyond the replies counted.
                if (!c.Silent(50)) failed.push_back("bytes after the last reply");
                return failed;
            },
            600000);
        for (const std::string& f : failures) ADD_FAILURE() << f;
        if (!s.mayPost) {
            EXPECT_EQ(postsSeen, postsBefore) << "a refused POST reached the server";
        }
    }
}

}  // namespace
}  // namespace sitowiak::testing

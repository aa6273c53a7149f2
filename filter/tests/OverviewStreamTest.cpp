// The overview as a stream: OverviewLineRewriter::RewriteLines fed the
// reply in every way it can be cut must give exactly the bytes that
// RewriteOverview gives for the whole reply, stop at the terminating line,
// and pass lines that no option touches without a copy.
#include <gtest/gtest.h>

#include <random>

#include "ArticleTestSupport.h"
#include "filter/OverviewLineRewriter.h"

namespace sitowiak::filter {
namespace {

const std::string kStatus = "224 Overview information follows\r\n";
// What the server sends after the overview: the next reply.
const std::string kNextReply = "211 1 1 1 g\r\n";

// One random overview field: plain words, encoded words in several
// charsets, raw UTF-8 or Latin-2 bytes, and the odd CR or LF alone.
std::string Field(std::mt19937& rng) {
    static const char* const kPieces[] = {
        "Hello",
        "Re: plain text",
        "=?iso-8859-2?Q?Za=BF=F3=B3=E6_g=EA=B6l=B1?=",
        "=?utf-8?B?WmHFvMOzxYLEhw==?=",
        "=?windows-1250?Q?=9Cwi=EAto?=",
        "=?unknown-x?Q?abc?=",
        "=?utf-8?Q?broken",
        "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87",
        "g\xEA\xB6l\xB1",
        "a\rb",
        "c\nd",
        "<m@x>",
        "..",
        ".",
        "=?",
    };
    std::string field;
    int count = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < count; ++i) {
        if (i > 0) field += ' ';
        field += kPieces[rng() % std::size(kPieces)];
    }
    return field;
}

// An overview reply of `lines` random lines, its terminating line and the
// next reply behind it. Lines may begin with "." (dot-stuffed ".." too) but
// never are "." alone before the end.
std::string RandomOverview(std::mt19937& rng, int lines) {
    std::string reply = kStatus;
    for (int n = 0; n < lines; ++n) {
        std::string line = rng() % 8 == 0 ? ".." : std::to_string(n + 1);
        int fields = static_cast<int>(rng() % 8);
        for (int f = 0; f < fields; ++f) line += '\t' + Field(rng);
        reply += line + "\r\n";
    }
    return reply + ".\r\n" + kNextReply;
}

std::string Whole(const std::string& reply, const std::string& forced, bool ignoreRaw) {
    TBuforArt buffer;
    testing::Load(buffer, reply);
    buffer.RewriteOverview(kStatus.size(), forced, ignoreRaw);
    return std::string(buffer.Data(), static_cast<size_t>(buffer.Length()));
}

struct Streamed {
    std::string out;       // the status line, then everything emitted
    std::string leftOver;  // what was not used: the bytes after the overview
    bool ended = false;
    bool copied = false;  // a piece emitted that does not lie in the input
};

// Feeds the lines of `reply` (status line and the next reply excluded from
// the rewriting, as the relay does) in pieces cut at `cuts`, keeping the
// unused bytes in front of the next piece as the relay's buffer does.
Streamed Stream(const std::string& reply, const std::vector<size_t>& cuts,
                const std::string& forced, bool ignoreRaw) {
    OverviewLineRewriter rewriter(forced, ignoreRaw);
    Streamed s;
    s.out = kStatus;
    std::string pending;
    size_t scanned = 0, at = kStatus.size();
    for (size_t i = 0; i <= cuts.size() && !s.ended; ++i) {
        size_t to = i < cuts.size() ? std::clamp(cuts[i], at, reply.size()) : reply.size();
        pending.append(reply, at, to - at);
        at = to;
        size_t used = rewriter.RewriteLines(pending, scanned, s.ended, [&](std::string_view piece) {
            const char* base = pending.data();
            if (piece.data() < base || piece.data() + piece.size() > base + pending.size())
                s.copied = true;
            s.out.append(piece);
        });
        pending.erase(0, used);
    }
    s.leftOver = pending + reply.substr(at);
    return s;
}

struct Options {
    std::string forced;
    bool ignoreRaw;
};
const Options kOptions[] = {{"", false},
                            {"", true},
                            {"windows-1250", false},
                            {"windows-1250", true},
                            {"utf-8", true},
                            {"iso-8859-2", false},
                            {"unknown-x", true}};

TEST(OverviewStream, EveryCutGivesTheBytesOfTheWholeReplyRewriting) {
    std::mt19937 rng(20261207);
    for (int reply = 0; reply < 12; ++reply) {
        const std::string wire = RandomOverview(rng, 4 + reply * 3);
        for (const Options& o : kOptions) {
            SCOPED_TRACE("reply " + std::to_string(reply) + ", charset \"" + o.forced +
                         "\", ignore raw " + std::to_string(o.ignoreRaw));
            const std::string expected =
                Whole(wire.substr(0, wire.size() - kNextReply.size()), o.forced, o.ignoreRaw);
            // Pieces of every size from 1 byte, then random cut points.
            std::vector<std::vector<size_t>> schedules;
            for (size_t size = 1; size <= 40; ++size) {
                std::vector<size_t> cuts;
                for (size_t p = kStatus.size() + size; p < wire.size(); p += size)
                    cuts.push_back(p);
                schedules.push_back(cuts);
            }
            for (int r = 0; r < 20; ++r) {
                std::vector<size_t> cuts;
                for (size_t p = kStatus.size(); p < wire.size();) cuts.push_back(p += rng() % 97);
                schedules.push_back(cuts);
            }
            for (const auto& cuts : schedules) {
                Streamed s = Stream(wire, cuts, o.forced, o.ignoreRaw);
                ASSERT_TRUE(s.ended);
                ASSERT_EQ(s.out, expected);
                ASSERT_EQ(s.leftOver, kNextReply);
                // With no option set no line is touched, and none is copied.
                if (o.forced.empty() && !o.ignoreRaw) {
                    ASSERT_FALSE(s.copied);
                }
            }
        }
    }
}

TEST(OverviewStream, APartialLineWaitsAndAnEmptyOverviewEndsAtOnce) {
    OverviewLineRewriter rewriter("windows-1250", false);
    std::string got;
    auto emit = [&](std::string_view piece) { got.append(piece); };
    size_t scanned = 0;
    bool ended = true;
    // No line end yet: nothing used, nothing emitted, the bytes searched.
    EXPECT_EQ(rewriter.RewriteLines("1\t=?utf-8?Q?=C5=BC?=\r", scanned, ended, emit), 0u);
    EXPECT_FALSE(ended);
    EXPECT_EQ(got, "");
    EXPECT_EQ(scanned, 21u);
    // The CR at the end of the part searched is found with the LF after it.
    EXPECT_EQ(rewriter.RewriteLines("1\t=?utf-8?Q?=C5=BC?=\r\n.\r\n", scanned, ended, emit), 25u);
    EXPECT_TRUE(ended);
    EXPECT_EQ(got, "1\t\xBF\r\n.\r\n");
    scanned = 0;
    got.clear();
    EXPECT_EQ(rewriter.RewriteLines(".\r\n211 1 1 1 g\r\n", scanned, ended, emit), 3u);
    EXPECT_TRUE(ended);
    EXPECT_EQ(got, ".\r\n");
}

}  // namespace
}  // namespace sitowiak::filter

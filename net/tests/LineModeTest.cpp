// Line mode: splitting into lines, partial reads, limits, editing, and
// switching the mode while bytes wait.
#include <gtest/gtest.h>

#include "net/tests/ConnectedPair.h"

namespace sitowiak::net {
namespace {

using Lines = std::vector<std::string>;

struct LinePair : test::Connected {
    Lines lines;
    explicit LinePair(bool collect = true) : Connected(false) {
        sock.SetLineMode(true);
        if (collect)
            sock.OnDataAvailable = [this](TCustomWSocket* s, std::uint16_t) {
                lines.push_back(s->ReceiveStr());
            };
    }
    // Sends one piece and waits until the socket has read it, so the next
    // piece arrives in a separate read.
    void Piece(const std::string& text) {
        const int before = sock.ReadCount();
        test::SendAll(peer, text);
        test::RunUntil([&] { return sock.ReadCount() >= before + static_cast<int>(text.size()); });
    }
};

TEST(LineModeTest, LinesAreSplitAcrossAndWithinReads) {
    LinePair p;
    p.Piece("A\r\nB");
    EXPECT_EQ(p.lines, (Lines{"A\r\n"}));  // the B waits for its line end
    p.Piece("C\r");
    p.Piece("\nx\r\ny\r\nz\r\n");  // marker split across reads, then three lines
    EXPECT_EQ(p.lines, (Lines{"A\r\n", "BC\r\n", "x\r\n", "y\r\n", "z\r\n"}));
}

TEST(LineModeTest, ALineIsOfferedUntilAllOfItIsTaken) {
    LinePair p(false);
    Lines reads;
    p.sock.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        char buf[8];
        const int n = s->Receive(buf, reads.empty() ? 2 : 1);
        reads.emplace_back(buf, static_cast<std::size_t>(n));
    };
    p.Piece("A\r\n");
    EXPECT_EQ(reads, (Lines{"A\r", "\n"}));
}

TEST(LineModeTest, WithoutHandlerCompleteLinesAreDropped) {
    LinePair p(false);
    p.Piece("dropped\r\npart");
    p.sock.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        p.lines.push_back(s->ReceiveStr());
    };
    p.Piece("ial\r\n");
    EXPECT_EQ(p.lines, (Lines{"partial\r\n"}));
}

TEST(LineModeTest, LineLimitCountsBytesWithoutLineEnd) {
    LinePair p;
    std::vector<int> exceeded;
    p.sock.OnLineLimitExceeded = [&](TCustomWSocket*, int count, bool& clear) {
        exceeded.push_back(count);
        EXPECT_TRUE(clear);
    };
    p.Piece(std::string(65536, 'a'));
    EXPECT_TRUE(exceeded.empty());  // exactly the limit is allowed
    p.Piece("b");
    EXPECT_EQ(exceeded, (std::vector<int>{65537}));
    p.Piece("c\r\n");  // the cleared bytes are gone
    EXPECT_EQ(p.lines, (Lines{"c\r\n"}));
}

TEST(LineModeTest, UnfinishedLineIsDeliveredBeforeTheClose) {
    LinePair p;
    p.sock.OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) { p.lines.push_back("closed"); };
    test::SendAll(p.peer, "one\r\ntwo");
    p.PeerCloses();
    test::RunUntil([&] { return p.sock.State() == wsClosed; });
    EXPECT_EQ(p.lines, (Lines{"one\r\n", "two", "closed"}));
}

TEST(LineModeTest, LineEditAppliesBackspaceAndTabAndEchoes) {
    LinePair p;
    p.sock.SetLineEdit(true);
    p.sock.SetLineEcho(true);
    p.Piece("ab\bc\r\n");
    p.Piece("ab\tx\r\n");
    EXPECT_EQ(p.lines, (Lines{"ac\r\n", "ab      x\r\n"}));
    const std::string echo = "ab\b \bc\r\nab      x\r\n";
    EXPECT_EQ(test::ReadExactly(p.peer, echo.size()), echo);
}

TEST(LineModeTest, SwitchingLineModeOffMidLineKeepsTheRestInOrder) {
    LinePair p(false);
    std::string got;
    p.sock.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        if (s->ReadCount() > 0 && got.empty()) {  // first line: take one byte, then stop
            char c;
            s->Receive(&c, 1);
            got.push_back(c);
            static_cast<TWSocket*>(s)->SetLineMode(false);
            return;
        }
        got += s->ReceiveStr();
    };
    p.Piece("AB\r\nCD\r\nEF");
    EXPECT_TRUE(test::RunUntil([&] { return got == "AB\r\nCD\r\nEF"; }));
}

// A line left untaken waits for the next read; when its handler then
// switches line mode off, the bytes behind it and those just arrived
// still come once each, in order.
TEST(LineModeTest, SwitchingLineModeOffOnAWaitingLineKeepsTheNewBytesInOrder) {
    LinePair p(false);
    int offers = 0;
    std::string got;
    p.sock.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        if (++offers == 1) return;  // the first line is left waiting
        got += s->ReceiveStr();
        if (offers == 2) static_cast<TWSocket*>(s)->SetLineMode(false);
    };
    p.Piece("A\r\nrest");
    test::SendAll(p.peer, "XY");
    EXPECT_TRUE(test::RunUntil([&] { return got.size() >= 9; }));
    test::Drain();
    EXPECT_EQ(got, "A\r\nrestXY");
}

TEST(LineModeTest, RedeliveryAfterModeChangesEndsWhenNothingIsTaken) {
    LinePair p;
    p.Piece("partial");
    auto handler = p.sock.OnDataAvailable;
    p.sock.OnDataAvailable = nullptr;
    p.sock.SetLineMode(false);  // no handler: the pass takes nothing
    test::Drain();
    p.sock.SetLineMode(true);  // no complete line: the pass takes nothing
    test::Drain();
    p.sock.OnDataAvailable = handler;
    p.Piece("\r\n");
    EXPECT_EQ(p.lines, (Lines{"partial\r\n"}));
}

}  // namespace
}  // namespace sitowiak::net

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/core/StandardErrorLines.h"

namespace sitowiak::platform {
namespace {

class Pipe {
public:
    Pipe() { EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0); }
    ~Pipe() {
        for (int fd : fds)
            if (fd >= 0) ::close(fd);
    }
    // Everything waiting in the pipe, without blocking.
    std::string ReadAll() {
        std::string all;
        char buf[4096];
        pollfd p{fds[0], POLLIN, 0};
        while (::poll(&p, 1, 0) == 1 && (p.revents & POLLIN)) {
            ssize_t n = ::read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            all.append(buf, static_cast<size_t>(n));
        }
        return all;
    }
    int fds[2] = {-1, -1};
};

TEST(StandardErrorLinesTest, LinesCarryTheirPriorityAndStayOneLine) {
    Pipe pipe;
    StandardErrorLines lines(pipe.fds[1]);
    lines.Add(LinePriority::kInfo, "Nasłuchuję na porcie 888.");
    lines.Add(LinePriority::kError, "Error 10048 in function Bind\n\nPort zajęty.");
    lines.Add(LinePriority::kWarning, "");
    EXPECT_EQ(pipe.ReadAll(),
              "<6>Nasłuchuję na porcie 888.\n"
              "<3>Error 10048 in function Bind  Port zajęty.\n"
              "<4>\n");
    EXPECT_EQ(lines.Waiting(), 0u);
}

// Nobody reads the pipe: adding lines never waits, the buffer stays within
// its bound, and once the reader drains the pipe the lines that were kept
// come out whole and in order, followed by one count of those dropped.
TEST(StandardErrorLinesTest, AFullPipeNeverBlocksAndDroppedLinesAreCountedOnce) {
    Pipe pipe;
    ASSERT_GE(::fcntl(pipe.fds[1], F_SETPIPE_SZ, 4096), 4096);
    const int pipeSize = ::fcntl(pipe.fds[1], F_GETPIPE_SZ);
    const size_t capacity = 1000;
    StandardErrorLines lines(pipe.fds[1], capacity);
    int waitingCalls = 0;
    lines.OnWaiting = [&] { ++waitingCalls; };
    const std::string text(90, 'x');  // 94 bytes framed
    const auto start = std::chrono::steady_clock::now();
    int added = 0;
    for (; added < 2000; ++added) lines.Add(LinePriority::kInfo, text + std::to_string(added));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_LE(lines.Waiting(), capacity);
    EXPECT_GT(lines.Dropped(), 0u);
    EXPECT_GT(waitingCalls, 0);
    // The descriptor given stays blocking for everyone else.
    EXPECT_FALSE(::fcntl(pipe.fds[1], F_GETFL) & O_NONBLOCK);

    std::string out = pipe.ReadAll();
    for (int round = 0; round < 10 && !lines.Flush(); ++round) out += pipe.ReadAll();
    EXPECT_TRUE(lines.Flush());
    out += pipe.ReadAll();
    EXPECT_EQ(lines.Dropped(), 0u);

    // Whole lines in order, then the report.
    size_t pos = 0;
    int next = 0;
    int kept = 0;
    while (out.compare(pos, 3, "<6>") == 0) {
        size_t end = out.find('\n', pos);
        ASSERT_NE(end, std::string::npos);
        EXPECT_EQ(out.substr(pos + 3, end - pos - 3), text + std::to_string(next));
        ++next;
        ++kept;
        pos = end + 1;
    }
    EXPECT_GE(kept * 94, pipeSize);
    const std::string report = out.substr(pos);
    EXPECT_EQ(report, "<4>Pominięto wiersze komunikatów (" + std::to_string(added - kept) +
                          "): standardowe wyjście błędów nie nadążało.\n");
    // Later lines follow normally.
    lines.Add(LinePriority::kWarning, "dalej");
    EXPECT_EQ(pipe.ReadAll(), "<4>dalej\n");
}

// A reader that has gone away ends neither the program (SIGPIPE) nor the
// writing: lines are thrown away and nothing waits for a retry.
TEST(StandardErrorLinesTest, AReaderThatIsGoneCostsNothing) {
    Pipe pipe;
    StandardErrorLines lines(pipe.fds[1]);
    ::close(pipe.fds[0]);
    pipe.fds[0] = -1;
    int waitingCalls = 0;
    lines.OnWaiting = [&] { ++waitingCalls; };
    lines.Add(LinePriority::kError, "nikt nie czyta");
    lines.Add(LinePriority::kInfo, "dalej");
    EXPECT_EQ(lines.Waiting(), 0u);
    EXPECT_TRUE(lines.Flush());
    EXPECT_EQ(waitingCalls, 0);
}

TEST(StandardErrorLinesTest, TheProgramWideLinesKeepTheirPriorityLimit) {
    Pipe pipe;
    StandardErrorLines lines(pipe.fds[1]);
    SetStandardErrorLines(&lines, LinePriority::kError);
    WriteLine(LinePriority::kInfo, "czytelnik");
    WriteLine(LinePriority::kError, "błąd");
    EXPECT_EQ(pipe.ReadAll(), "<3>błąd\n");
    SetStandardErrorLines(&lines, LinePriority::kInfo);
    WriteLine(LinePriority::kInfo, "czytelnik");
    EXPECT_EQ(pipe.ReadAll(), "<6>czytelnik\n");
    SetStandardErrorLines(nullptr, LinePriority::kError);
}

}  // namespace
}  // namespace sitowiak::platform

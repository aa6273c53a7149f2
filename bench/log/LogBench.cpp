// Feeds a burst of 100 MB to the log as the relay does (one entry per read
// of 64 KiB, each read driven by the event loop and passed through a socket
// pair like the relay's receive and send), once into a sink that drops the
// entries and once into the log window, alternating rounds. Prints the
// throughput of each, their ratio, and the longest delay of a zero-length
// posted event meanwhile: how long a new reader would wait for its turn,
// and when the window showed the last entry.
//
//   bench_log [MB [ROUNDS [hex]]]    (hex: with "&Debugstring" checked)
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "log/TLog.h"

namespace {

using namespace sitowiak;
using Clock = std::chrono::steady_clock;

constexpr size_t kChunk = 64 * 1024;

class NullSink : public log::LogSink {
public:
    void SetEntryStyle(log::Rgb, const std::string&) override {}
    void SetEntryTitle(const std::string&) override {}
    void AddEntry(const std::string&) override {}
    bool LineModeChecked() const override { return false; }
};

// A body of 80-character lines of text, as a BODY reply carries.
std::string Body(size_t size) {
    std::string line = "Zażółć gęślą jaźń, the quick brown fox jumps over the lazy dog 0123456789";
    line.resize(78, '.');
    line += "\r\n";
    std::string body;
    body.reserve(size);
    while (body.size() < size) body += line;
    body.resize(size);
    return body;
}

struct Round {
    double seconds = 0;   // from the first read until the last entry was added
    double drained = 0;   // until the log shows everything
    double maxDelay = 0;  // longest wait of a posted event, seconds
};

// One burst: each read is an event that passes a chunk through a socket pair
// and logs it, then posts the next read. A probe posts a zero-length event
// every millisecond and records how long it waited.

Round Burst(log::LogSink& sink, log::TLog* window, const std::string& body, size_t total) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) std::abort();
    int size = 4 * 1024 * 1024;
    setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    setsockopt(pair[1], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    std::string buffer(kChunk, '\0');
    Round round;
    size_t sent = 0;
    bool done = false;
    QObject context;
    auto start = Clock::now();
    std::function<void()> nextRead = [&] {
        size_t n = std::min(kChunk, total - sent);
        const char* from = body.data() + (sent % (body.size() - kChunk));
        if (write(pair[0], from, n) != static_cast<ssize_t>(n)) std::abort();
        size_t got = 0;
        while (got < n) got += static_cast<size_t>(::read(pair[1], buffer.data() + got, n - got));
        sink.SetEntryStyle(0x8000FF, "Odpowiedzi");
        sink.AddEntry(std::string(buffer.data(), n));
        sent += n;
        if (sent < total)
            QMetaObject::invokeMethod(&context, nextRead, Qt::QueuedConnection);
        else
            done = true;
    };
    std::function<void()> probe = [&] {
        auto posted = Clock::now();
        QMetaObject::invokeMethod(
            &context,
            [&, posted] {
                std::chrono::duration<double> waited = Clock::now() - posted;
                round.maxDelay = std::max(round.maxDelay, waited.count());
                if (!done) QTimer::singleShot(1, &context, probe);
            },
            Qt::QueuedConnection);
    };
    QMetaObject::invokeMethod(&context, nextRead, Qt::QueuedConnection);
    probe();
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents);
    round.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // The window catches up on its own timer.
    while (window && window->QueuedCount() > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    round.drained = std::chrono::duration<double>(Clock::now() - start).count();
    close(pair[0]);
    close(pair[1]);
    return round;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    bool hex = argc > 3 && std::strcmp(argv[3], "hex") == 0;
    const size_t total = megabytes * 1000 * 1000;
    const std::string body = Body(4 * 1024 * 1024);
    std::printf("%zu MB in entries of %zu bytes, %d alternating rounds%s\n", megabytes, kChunk,
                rounds, hex ? ", shown as hex dumps" : "");
    std::printf("%5s %12s %12s %8s %14s %14s %12s\n", "round", "null MB/s", "log MB/s", "ratio",
                "null delay ms", "log delay ms", "drained s");
    std::vector<double> ratios, delays;
    for (int r = 1; r <= rounds; ++r) {
        NullSink null;
        Round off = Burst(null, nullptr, body, total);
        log::TLog window;
        window.show();
        if (hex) window.Debugstring1->trigger();
        Round on = Burst(window, &window, body, total);
        double mb = static_cast<double>(total) / 1e6;
        std::printf("%5d %12.1f %12.1f %8.2f %14.2f %14.2f %12.2f\n", r, mb / off.seconds,
                    mb / on.seconds, on.seconds / off.seconds, off.maxDelay * 1e3,
                    on.maxDelay * 1e3, on.drained);
        std::fflush(stdout);
        ratios.push_back(on.seconds / off.seconds);
        delays.push_back(on.maxDelay * 1e3);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("median ratio %.2f, longest delay with the log %.2f ms\n",
                ratios[ratios.size() / 2], *std::max_element(delays.begin(), delays.end()));
    return 0;
}

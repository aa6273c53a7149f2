// The readers of the load run: threads that open sessions through the proxy
// one after another until the round ends, each a random mix of commands,
// faults and early closes, and check every reply that completes against the
// corpus.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "Corpus.h"
#include "Wire.h"

namespace sitowiak::load {

struct RoundStats {
    std::atomic<long> sessions{0}, replies{0}, mismatches{0}, timeouts{0};
    std::atomic<long> refusedConnects{0}, closedBeforeGreeting{0}, interrupted{0};
    std::atomic<long> posts{0}, earlyCloses{0}, resets{0}, drips{0}, nuls{0}, silents{0};
    std::atomic<long> bigOverviews{0};
    std::mutex mutex;
    std::vector<std::string> ackedPosts;  // Message-IDs the server confirmed
    std::vector<std::string> samples;     // the first mismatches, for the report
};

struct ReaderSettings {
    int proxyPort = 0;
    int readers = 200;
    bool bigOverview = true;  // one reader per round fetches the big overview
};

// Runs `settings.readers` threads until `end`, or until `stop` is set.
void RunReaders(const Corpus& corpus, const ReaderSettings& settings, Clock::time_point end,
                const std::atomic<bool>& stop, RoundStats& stats, unsigned seed);

}  // namespace sitowiak::load

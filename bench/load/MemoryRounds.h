// The two rounds of the load run that go for the proxy's memory: a command
// flood (readers that send commands without ever reading a reply, while a
// probe reader checks that others are still served) and an endless held
// reply (an ARTICLE reply that never ends, read far past the proxy's
// ceiling for held replies). Each samples the proxy's resident memory while
// it runs and after its connections have ended, and checks both against the
// figure taken just before.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ProxyProcess.h"
#include "Wire.h"

namespace sitowiak::load {

struct MemoryRound {
    std::string name;
    long beforeKb = 0, peakKb = 0, afterKb = 0;
    std::string what;                   // what the round did, for its line
    std::vector<std::string> failures;  // why it did not pass
};

class MemoryRounds {
public:
    explicit MemoryRounds(const ProxyProcess& proxy) : m_proxy(proxy) {}

    // `flooders` readers send commands for `seconds` without reading.
    MemoryRound CommandFlood(int flooders, int seconds);
    // One reader reads `megabytes` of an ARTICLE reply that never ends.
    MemoryRound EndlessReply(size_t megabytes);

private:
    // Runs `work` while sampling the peak; fills the three figures.
    void Measure(MemoryRound& round, const std::function<void()>& work);

    const ProxyProcess& m_proxy;
};

}  // namespace sitowiak::load

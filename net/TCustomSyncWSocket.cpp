#include "net/TCustomSyncWSocket.h"

#include <chrono>
#include <thread>

namespace sitowiak::net {

int TCustomSyncWSocket::WaitUntilReady(const bool& DoneFlag, int TimeoutMs) {
    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::milliseconds(TimeoutMs);
    while (!DoneFlag) {
        if (TimeoutMs > 0 && std::chrono::steady_clock::now() - start >= limit)
            return kWaitTimedOut;
        if (Terminated()) return kWaitTimedOut;
        ProcessPendingEvents();
        if (DoneFlag) break;
        std::this_thread::yield();
    }
    return 0;
}

int TCustomSyncWSocket::Synchronize(const std::function<void()>& Proc, bool& DoneFlag,
                                    int TimeoutMs) {
    DoneFlag = false;
    if (Proc) Proc();
    return WaitUntilReady(DoneFlag, TimeoutMs);
}

}  // namespace sitowiak::net

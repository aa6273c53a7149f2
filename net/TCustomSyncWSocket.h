// Waiting helpers over the line socket: pump events until a flag is set.
// Nothing in the program waits this way; they are here for tools and tests.
#pragma once

#include <functional>

#include "net/TCustomLineWSocket.h"

namespace sitowiak::net {

class TCustomSyncWSocket : public TCustomLineWSocket {
public:
    // Returned when the wait ends without the flag.
    static constexpr int kWaitTimedOut = 12001;

    using TCustomLineWSocket::TCustomLineWSocket;

    // Pumps events until DoneFlag is true (returns 0), or until TimeoutMs
    // has passed (0: no limit), the application is ending or the terminate
    // flag is set (returns kWaitTimedOut).
    int WaitUntilReady(const bool& DoneFlag, int TimeoutMs);
    // Clears DoneFlag, runs Proc, then waits as WaitUntilReady.
    int Synchronize(const std::function<void()>& Proc, bool& DoneFlag, int TimeoutMs);
};

}  // namespace sitowiak::net

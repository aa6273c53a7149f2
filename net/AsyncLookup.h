// One name lookup on a worker thread. The worker resolves (IPv4 and IPv6
// addresses, in the resolver's order, as their texts), stores the
// result here and posts (message, handle, error code in the high 16 bits of
// LParam) to the socket's channel; the socket then takes the result on the
// GUI thread. A lookup whose socket went away posts nothing (the mailbox is
// dead) and frees itself when the worker ends; no thread is left behind.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/events/SocketChannel.h"

namespace sitowiak::net {

class AsyncLookup {
public:
    // Starts a forward (host name -> dotted addresses) lookup. Returns
    // nullptr when no worker could be started (last error set).
    static std::shared_ptr<AsyncLookup> StartForward(platform::ChannelMailbox mailbox,
                                                     std::uint32_t msg, std::string host);
    // Starts a reverse (address -> host name) lookup.
    static std::shared_ptr<AsyncLookup> StartReverse(platform::ChannelMailbox mailbox,
                                                     std::uint32_t msg, sockaddr_storage addr);

    std::uintptr_t Handle() const { return m_handle; }
    // The results; valid once the reply message has arrived.
    std::vector<std::string> Results() const;

private:
    AsyncLookup(platform::ChannelMailbox mailbox, std::uint32_t msg);
    static std::shared_ptr<AsyncLookup> Start(std::shared_ptr<AsyncLookup> lookup, std::string host,
                                              const sockaddr_storage& addr, bool reverse);
    void Run(const std::string& host, const sockaddr_storage& addr, bool reverse);

    platform::ChannelMailbox m_mailbox;
    std::uint32_t m_msg;
    std::uintptr_t m_handle;
    mutable std::mutex m_lock;
    std::vector<std::string> m_results;
};

}  // namespace sitowiak::net

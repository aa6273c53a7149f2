#include "net/AsyncLookup.h"

#include <atomic>
#include <system_error>
#include <thread>

#include "net/WSocketBinding.h"

namespace sitowiak::net {

namespace {
std::atomic<std::uintptr_t> g_nextHandle{1};
}

AsyncLookup::AsyncLookup(platform::ChannelMailbox mailbox, std::uint32_t msg)
    : m_mailbox(std::move(mailbox)), m_msg(msg), m_handle(g_nextHandle++) {}

std::shared_ptr<AsyncLookup> AsyncLookup::StartForward(platform::ChannelMailbox mailbox,
                                                       std::uint32_t msg, std::string host) {
    std::shared_ptr<AsyncLookup> lookup(new AsyncLookup(std::move(mailbox), msg));
    return Start(std::move(lookup), std::move(host), sockaddr_storage{}, false);
}

std::shared_ptr<AsyncLookup> AsyncLookup::StartReverse(platform::ChannelMailbox mailbox,
                                                       std::uint32_t msg, sockaddr_storage addr) {
    std::shared_ptr<AsyncLookup> lookup(new AsyncLookup(std::move(mailbox), msg));
    return Start(std::move(lookup), std::string(), addr, true);
}

std::shared_ptr<AsyncLookup> AsyncLookup::Start(std::shared_ptr<AsyncLookup> lookup,
                                                std::string host, const sockaddr_storage& addr,
                                                bool reverse) {
    try {
        // The worker holds the lookup until it ends, whatever the socket does.
        std::thread([lookup, host = std::move(host), addr, reverse] {
            lookup->Run(host, addr, reverse);
        }).detach();
    } catch (const std::system_error&) {
        winsock::WSASetLastError(10055);  // no buffer space: out of threads
        return nullptr;
    }
    return lookup;
}

void AsyncLookup::Run(const std::string& host, const sockaddr_storage& addr, bool reverse) {
    std::vector<std::string> results;
    int error = 0;
    if (reverse) {
        std::string name;
        error = winsock::GetHostName(addr, &name);
        if (error == 0) results.push_back(name);
    } else {
        std::vector<sockaddr_storage> addrs;
        error = winsock::GetHostAddresses(host, AF_UNSPEC, &addrs);
        for (const sockaddr_storage& a : addrs) results.push_back(winsock::AddressText(a));
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_results = std::move(results);
    }
    m_mailbox.Post({m_msg, m_handle, static_cast<std::intptr_t>(error) << 16});
}

std::vector<std::string> AsyncLookup::Results() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_results;
}

}  // namespace sitowiak::net

#include "RelayHarness.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <cstring>

namespace sitowiak::testing {

void RelayTest::Listen(int upstreamPort) {
    m_core->Settings().RemotePort = std::to_string(upstreamPort);
    m_core->SetListening(true);
    sockaddr_in sin{};
    socklen_t len = sizeof sin;
    ::getsockname(m_core->WSocketServer().Handle(), reinterpret_cast<sockaddr*>(&sin), &len);
    m_proxyPort = ntohs(sin.sin_port);
}

bool RelayTest::PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

std::string RelayTest::RewrittenArticle(const std::string& reply) {
    filter::TBuforArt buffer;
    buffer.Grow(static_cast<int>(reply.size()));
    std::memcpy(buffer.Data(), reply.data(), reply.size());
    int start = static_cast<int>(reply.find("\r\n") + 2);
    buffer.RewriteArticle(start, m_identity.ProductName, m_identity.ProductUrl,
                          m_identity.ProductVersion, m_core->Settings().KodowanieNieoznaczonych,
                          m_core->Settings().Kodowanie,
                          m_core->Settings().Zawartosc, false, m_core->Settings().Style);
    return std::string(buffer.Data(), static_cast<size_t>(buffer.Length()));
}

std::string RelayTest::RewrittenOverview(const std::string& reply) {
    filter::TBuforArt buffer;
    buffer.Grow(static_cast<int>(reply.size()));
    std::memcpy(buffer.Data(), reply.data(), reply.size());
    int start = static_cast<int>(reply.find("\r\n") + 2);
    buffer.RewriteOverview(start, m_core->Settings().Kodowanie,
                           m_core->Settings().IgnorowanieBlednych,
                           m_core->Settings().KodowanieNieoznaczonych);
    return std::string(buffer.Data(), static_cast<size_t>(buffer.Length()));
}

}  // namespace sitowiak::testing

// The news-server setting ("Serwer grup" with "Port") as a user may type it,
// and the address literals the socket library reads from it. Input: the
// setting's text. Looks for crashes and checks that what is found can be
// written back and read again to the same host, port and address text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/WSocketBinding.h"
#include "proxy/core/ServerAddress.h"

using namespace sitowiak;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool Plain(const std::string& s) {
    return !s.empty() && s.find_first_of("[] \t") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const proxy::ServerAddress a = proxy::ParseServerAddress(text, "nntp");
    Check(text.find(a.Host) != std::string::npos);
    Check(!a.Port.empty());
    // A port that holds a colon or brackets cannot be written back unchanged
    // (it is no port either: its lookup fails later).
    if (Plain(a.Host) && a.Port.find_first_of("[]: \t") == std::string::npos) {
        const proxy::ServerAddress again = proxy::ParseServerAddress(a.Text(), "other");
        Check(again.Host == a.Host && again.Port == a.Port);
    }
    sockaddr_storage addr{};
    if (net::winsock::ParseAddress(a.Host, &addr)) {
        const std::string canonical = net::winsock::AddressText(addr);
        sockaddr_storage back{};
        Check(net::winsock::ParseAddress(canonical, &back));
        Check(net::winsock::AddressText(back) == canonical);
    }
    return 0;
}

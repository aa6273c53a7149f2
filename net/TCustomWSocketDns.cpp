// TCustomWSocket: asynchronous name lookups. A worker thread resolves and
// posts its reply to this socket's channel; the reply is handled here on
// the GUI thread. Only the reply of the pending lookup counts: a lookup
// replaced by another or cancelled is forgotten, and its reply is ignored.
#include "net/AsyncLookup.h"
#include "net/TCustomWSocket.h"

namespace sitowiak::net {

namespace {
// Longest address text ReverseDnsLookup accepts.
constexpr std::size_t kMaxReverseText = 256;
}  // namespace

void TCustomWSocket::DnsLookup(const std::string& HostName) {
    if (HostName.empty()) {
        ReportBadArgument("DNS lookup: invalid host name.");
        return;
    }
    m_lookup.reset();
    m_dnsResult.clear();
    m_dnsResultList.clear();
    sockaddr_storage addr{};
    if (winsock::ParseAddress(HostName, &addr)) {
        // An address (IPv4 dotted, IPv6 in brackets or not) needs no
        // lookup: answered before returning, in its canonical text.
        m_dnsResult = winsock::AddressText(addr);
        TriggerDnsLookupDone(0);
        return;
    }
    StartLookup(HostName, false);
}

void TCustomWSocket::ReverseDnsLookup(const std::string& HostAddr) {
    if (HostAddr.empty() || HostAddr.size() > kMaxReverseText) {
        ReportBadArgument("ReverseDnsLookup: Invalid host name.");
        return;
    }
    m_lookup.reset();
    m_dnsResult.clear();
    m_dnsResultList.clear();
    StartLookup(HostAddr, true);
}

// Reported through RaiseException; when that returns (OnError assigned),
// the lookup ends at once with WSAEINVAL.
void TCustomWSocket::ReportBadArgument(const std::string& Msg) {
    RaiseException(Msg);
    TriggerDnsLookupDone(WSAEINVAL);
}

// A reverse lookup of a text that is no address asks for 255.255.255.255,
// what inet_addr makes of it.
void TCustomWSocket::StartLookup(const std::string& Text, bool Reverse) {
    sockaddr_storage addr = winsock::AnyAddress(AF_INET);
    if (Reverse && !winsock::ParseAddress(Text, &addr))
        reinterpret_cast<sockaddr_in&>(addr).sin_addr.s_addr = kInAddrNone;
    m_lookup = Reverse
                   ? AsyncLookup::StartReverse(m_channel.Mailbox(), WM_ASYNCGETHOSTBYADDR, addr)
                   : AsyncLookup::StartForward(m_channel.Mailbox(), WM_ASYNCGETHOSTBYNAME, Text);
    if (!m_lookup)
        RaiseException(Text + ": can't start DNS lookup, error #" +
                       std::to_string(winsock::WSAGetLastError()));
}

// Forward and reverse replies alike: the results in the resolver's order,
// the first of them is DnsResult.
void TCustomWSocket::HandleLookupReply(const platform::ChannelMessage& Msg) {
    if (!m_lookup || m_lookup->Handle() != Msg.WParam) return;
    const std::shared_ptr<AsyncLookup> done = std::move(m_lookup);
    m_lookup.reset();
    const int error = static_cast<int>((Msg.LParam >> 16) & 0xFFFF);
    if (error == 0) {
        m_dnsResultList = done->Results();
        if (!m_dnsResultList.empty()) m_dnsResult = m_dnsResultList.front();
    }
    TriggerDnsLookupDone(error);
}

void TCustomWSocket::CancelDnsLookup() {
    if (!m_lookup) return;
    m_lookup.reset();
    if (!m_destroying) TriggerDnsLookupDone(WSAEINTR);
}

}  // namespace sitowiak::net

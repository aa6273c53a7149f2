// SOCKS 4, 4A and 5 (RFC 1928, with RFC 1929 user/password) for outgoing
// TCP connections, between the plain socket and the line mode. With
// SocksServer empty every call passes straight through to TCustomWSocket.
// With a server set, Connect goes to the SOCKS server, this layer conducts
// the negotiation on its own, and OnSessionConnected comes only when the
// path to Addr:Port is open (or with the failure code).
//
// Failure codes and texts (OnSocksError, OnSessionConnected, OnSessionClosed):
// 20001 to 20013, 20015 to 20017 as named in SocksErrorText; 20014 and
// 20018 are ours: 20014 a name, user code or password too long for the
// 128-byte request area, or a reply too long for the 127-byte reply area;
// 20018 an IPv6 destination asked of a SOCKS 4 or 4A server, whose requests
// have room for an IPv4 address or a name only.
#pragma once

#include <cstdint>
#include <string>

#include "net/TCustomWSocket.h"

namespace sitowiak::net {

class TCustomSocksWSocket : public TCustomWSocket {
public:
    static constexpr int kSocksRequestTooLong = 20014;
    static constexpr int kSocks4NoIPv6 = 20018;

    explicit TCustomSocksWSocket(TCustomWSocket* AOwner = nullptr);

    void Connect() override;
    void Listen() override;

    const std::string& SocksLevel() const { return m_socksLevel; }
    void SetSocksLevel(const std::string& Value);
    const std::string& SocksServer() const { return m_socksServer; }
    virtual void SetSocksServer(const std::string& Value);
    const std::string& SocksPort() const { return m_socksPort; }
    virtual void SetSocksPort(const std::string& Value);
    const std::string& SocksUsercode() const { return m_socksUsercode; }
    void SetSocksUsercode(const std::string& Value) { m_socksUsercode = Value; }
    const std::string& SocksPassword() const { return m_socksPassword; }
    void SetSocksPassword(const std::string& Value) { m_socksPassword = Value; }
    TSocksAuthentication SocksAuthentication() const { return m_socksAuthentication; }
    void SetSocksAuthentication(TSocksAuthentication Value) { m_socksAuthentication = Value; }
    // What a SOCKS 5 server reported as the bound address and port.
    const std::string& BoundAddr() const { return m_boundAddr; }
    const std::string& BoundPort() const { return m_boundPort; }

    TSessionConnected OnSocksConnected;
    TSocksErrorEvent OnSocksError;
    TSocksAuthStateEvent OnSocksAuthState;

protected:
    void ResetDefaults() override;
    int GetRcvdCount() override;
    int RawRead(void* Buffer, int BufferSize, int Flags) override;
    bool TriggerDataAvailable(int Error) override;
    void TriggerSessionConnected(int Error) override;
    void TriggerSessionClosed(int Error) override;
    virtual void TriggerSocksConnected(int Error);
    virtual void TriggerSocksError(int Error, const std::string& Msg);
    // True while this layer talks to the SOCKS server; the line mode stays
    // out of the way then.
    bool SocksNegotiating() const { return m_socksState != kNone; }

private:
    enum NegotiationState : std::uint8_t { kNone, kMethodReply, kAuthReply, kConnectReply };
    // The request and reply areas.
    static constexpr int kAreaSize = 128;

    bool IsSocks4() const { return m_socksLevel[0] == '4'; }
    void SocksDoConnect();
    void SocksDoAuthenticate();
    void SendRequest(const std::uint8_t* Data, int Len);
    void SocksFail(int Code, const std::string& Msg);
    bool ReadReply();
    bool MethodReply();
    bool AuthReply();
    bool Socks4ConnectReply();
    bool Socks5ConnectReply();
    bool Connected(int ReplyLen);

    NegotiationState m_socksState = kNone;
    std::string m_socksServer;
    std::string m_socksLevel = "5";
    std::string m_socksPort;
    bool m_socksPortAssigned = false;
    bool m_socksServerAssigned = false;
    std::string m_socksUsercode;
    std::string m_socksPassword;
    TSocksAuthentication m_socksAuthentication = socksNoAuthentication;
    std::uint8_t m_authMethodOffered = 0;
    int m_destPort = 0;
    std::string m_boundAddr;
    std::string m_boundPort;
    std::uint8_t m_reply[kAreaSize] = {};
    int m_replyCount = 0;
    int m_surplusCount = 0;
    int m_surplusAt = 0;  // index of the first surplus byte in m_reply
};

}  // namespace sitowiak::net

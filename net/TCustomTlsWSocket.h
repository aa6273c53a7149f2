// TLS for outgoing TCP connections (OpenSSL), between the SOCKS layer and
// the line mode. Without TLS every call passes straight through.
//
// Two ways in: with TlsImplicit set, the handshake starts as soon as the
// connection (through SOCKS, if set) stands, and OnSessionConnected comes
// only when it has ended; StartTls begins it on a connection already in use
// (STARTTLS). Either way OnTlsDone reports the end of the handshake (0 or
// the failure code). The handshake runs on the same readiness events as
// everything else, through memory buffers: ciphertext goes out through the
// plain send queue and comes in through the plain reads, and the layers
// above see only plain bytes. Bytes sent during the handshake wait for its
// end. OnSendData and BufferedByteCount count ciphertext.
//
// Verification: the system trust store (or TlsCaFile), the host name
// (TlsHostName, else Addr) against the certificate, sent as SNI, TLS 1.2 at
// least. With TlsFingerprint set (SHA-256 of the certificate, hex, colons
// allowed) exactly that certificate is accepted and the chain is not
// checked.
//
// Closing an established session sends close_notify first. The next
// connection to the same server (host, port, trust source, fingerprint)
// resumes the last session it gave.
//
// Failure codes (OnTlsDone, OnSessionConnected for implicit TLS,
// OnSessionClosed); the texts are SocketErrorText's. The settings stay
// across closes; the session does not.
#pragma once

#include <cstdint>
#include <string>

#include "net/TCustomSocksWSocket.h"

struct ssl_st;
struct bio_st;

namespace sitowiak::net {

class TCustomTlsWSocket : public TCustomSocksWSocket {
public:
    static constexpr int kTlsHandshakeFailed = 20101;  // protocol, version, alert
    static constexpr int kTlsUnknownIssuer = 20102;    // chain does not lead to a trusted CA
    static constexpr int kTlsNameMismatch = 20103;     // certificate is for another name
    static constexpr int kTlsExpired = 20104;          // certificate expired
    static constexpr int kTlsNotYetValid = 20105;      // certificate not yet valid
    static constexpr int kTlsCertRejected = 20106;     // any other verification failure
    static constexpr int kTlsFingerprintMismatch = 20107;
    static constexpr int kTlsClosedInHandshake = 20108;  // the peer ended the connection
    static constexpr int kTlsHandshakeTimeout = 20109;
    static constexpr int kTlsSetupFailed = 20110;    // no context, CA file unreadable
    static constexpr int kTlsReceiveFailed = 20111;  // a bad record after the handshake
    static constexpr int kTlsPlainPeer = 20112;      // the peer answered in cleartext

    explicit TCustomTlsWSocket(TCustomWSocket* AOwner = nullptr);
    ~TCustomTlsWSocket() override;

    int Send(const void* Data, int Len) override;
    void Resume() override;
    // Starts the handshake on a connected socket; OnTlsDone follows.
    void StartTls();
    // Starts a time limit of TlsTimeoutMs for the cleartext exchange that
    // must come before StartTls (a greeting, STARTTLS and its answer): when
    // it runs out first, the socket ends as a handshake that timed out.
    // StartTls then starts the handshake's own limit.
    void ArmTlsDeadline();
    // Ends that limit when the exchange ends without TLS (a server that
    // refuses readers in its greeting is passed on as it is).
    void DisarmTlsDeadline() { m_deadlineBeforeTls = false; }

    bool TlsImplicit() const { return m_tlsImplicit; }
    void SetTlsImplicit(bool Value);
    const std::string& TlsHostName() const { return m_tlsHostName; }
    void SetTlsHostName(const std::string& Value) { m_tlsHostName = Value; }
    const std::string& TlsCaFile() const { return m_tlsCaFile; }
    void SetTlsCaFile(const std::string& Value) { m_tlsCaFile = Value; }
    // SHA-256 of the accepted certificate in hex; empty: verify normally.
    const std::string& TlsFingerprint() const { return m_tlsFingerprint; }
    void SetTlsFingerprint(const std::string& Value);
    int TlsTimeoutMs() const { return m_tlsTimeoutMs; }
    void SetTlsTimeoutMs(int Value) { m_tlsTimeoutMs = Value; }

    bool TlsHandshaking() const { return m_tlsState == kHandshake; }
    bool TlsActive() const { return m_tlsState == kEstablished; }
    // OpenSSL's own words on the last failure, for the log.
    const std::string& TlsErrorDetail() const { return m_tlsErrorDetail; }
    // The SHA-256 of the peer's certificate (lower-case hex), once known;
    // also after its verification has failed.
    const std::string& PeerFingerprint() const { return m_peerFingerprint; }

    TSessionConnected OnTlsDone;

protected:
    void HandleMessage(const platform::ChannelMessage& Msg) override;
    void ResetDefaults() override;
    void DoClose(bool Shut, int Error) override;
    int GetRcvdCount() override;
    int RawRead(void* Buffer, int BufferSize, int Flags) override;
    bool TriggerDataAvailable(int Error) override;
    void TriggerSessionConnected(int Error) override;
    void TriggerSessionClosed(int Error) override;

private:
    enum TlsState : std::uint8_t { kNone, kHandshake, kEstablished };

    void BeginHandshake(bool Implicit);
    void DriveHandshake();
    void HandshakeDone();
    void TlsFail(int Code, const std::string& Detail);
    int PullCipher();
    void FlushCipher();
    bool WritePlain(const void* Data, int Len);
    bool PlainWaiting();
    void FreeSession();

    TlsState m_tlsState = kNone;
    bool m_tlsImplicit = false;
    bool m_startedImplicit = false;
    bool m_pendingPosted = false;
    std::string m_tlsHostName;
    std::string m_tlsCaFile;
    std::string m_tlsFingerprint;
    int m_tlsTimeoutMs = 30000;
    std::uintptr_t m_handshakeNo = 0;  // tells a stale timer from the current one
    bool m_deadlineBeforeTls = false;  // ArmTlsDeadline's limit runs
    int m_firstPeerByte = -1;          // of the handshake, -1 before any
    std::string m_tlsErrorDetail;
    std::string m_peerFingerprint;
    std::string m_sessionKey;    // whose session this connection resumes and keeps
    std::string m_plainWaiting;  // sent during the handshake
    ssl_st* m_ssl = nullptr;
    bio_st* m_netIn = nullptr;   // ciphertext from the peer, read by OpenSSL
    bio_st* m_netOut = nullptr;  // ciphertext from OpenSSL, for the peer
};

}  // namespace sitowiak::net

#include "net/TCustomTlsWSocket.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <map>
#include <memory>
#include <mutex>

#include "net/WSocketResolve.h"

namespace sitowiak::net {

namespace {

// Ciphertext taken from the network per read: several full records.
constexpr int kCipherChunk = 64 * 1024;

// What a posted WM_TLS_PENDING asks for besides another receive pass.
constexpr std::intptr_t kPendingBadRecord = 1;   // close with kTlsReceiveFailed
constexpr std::intptr_t kPendingPeerClosed = 2;  // the peer's close_notify came

struct CtxFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SessionFree {
    void operator()(SSL_SESSION* s) const { SSL_SESSION_free(s); }
};

// The last session each server gave, by server, trust source and
// fingerprint, so that the next connection to it resumes: an abbreviated
// handshake without the certificate chain and its verification. A server
// that no longer takes the session simply does a full handshake.
class SessionCache {
public:
    static SessionCache& Instance() {
        static SessionCache cache;
        return cache;
    }
    // A new reference to the session for `key`, or null.
    SSL_SESSION* Get(const std::string& key) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_sessions.find(key);
        if (it == m_sessions.end()) return nullptr;
        SSL_SESSION_up_ref(it->second.get());
        return it->second.get();
    }
    // Takes over the reference.
    void Put(const std::string& key, SSL_SESSION* session) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_sessions[key].reset(session);
    }
    void Forget(const std::string& key) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_sessions.erase(key);
    }

private:
    std::mutex m_mutex;
    std::map<std::string, std::unique_ptr<SSL_SESSION, SessionFree>> m_sessions;
};

// OpenSSL hands over each session the server issues (in TLS 1.3 after the
// handshake, with the first records); the SSL's app data names its key.
int KeepSession(SSL* ssl, SSL_SESSION* session) {
    const auto* key = static_cast<const std::string*>(SSL_get_app_data(ssl));
    if (key == nullptr || key->empty()) return 0;
    SessionCache::Instance().Put(*key, session);
    return 1;  // the cache holds the reference now
}

// One client context per trust source (the system store for ""), shared by
// every socket: loading the store costs far more than a handshake step.
SSL_CTX* ContextFor(const std::string& caFile, std::string* detail) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<SSL_CTX, CtxFree>> contexts;
    const std::lock_guard<std::mutex> lock(mutex);
    auto it = contexts.find(caFile);
    if (it != contexts.end()) return it->second.get();
    std::unique_ptr<SSL_CTX, CtxFree> ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx) {
        *detail = "cannot create a TLS context";
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    SSL_CTX_set_session_cache_mode(ctx.get(),
                                   SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx.get(), KeepSession);
    const int loaded = caFile.empty()
                           ? SSL_CTX_set_default_verify_paths(ctx.get())
                           : SSL_CTX_load_verify_locations(ctx.get(), caFile.c_str(), nullptr);
    if (loaded != 1) {
        *detail = "cannot load trusted certificates from " +
                  (caFile.empty() ? std::string("the system store") : caFile);
        ERR_clear_error();
        return nullptr;
    }
    return contexts.emplace(caFile, std::move(ctx)).first->second.get();
}

// With a fingerprint the chain is not judged: the certificate itself is
// compared once the handshake is over.
int AcceptAnyChain(int, X509_STORE_CTX*) {
    return 1;
}

bool IsAddressLiteral(const std::string& host) {
    unsigned char buf[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

int CodeForVerifyResult(long result) {
    switch (result) {
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
            return TCustomTlsWSocket::kTlsUnknownIssuer;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return TCustomTlsWSocket::kTlsNameMismatch;
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return TCustomTlsWSocket::kTlsExpired;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return TCustomTlsWSocket::kTlsNotYetValid;
        default:
            return TCustomTlsWSocket::kTlsCertRejected;
    }
}

std::string OpenSslErrorText() {
    const unsigned long e = ERR_peek_last_error();
    std::string text;
    if (e != 0) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        text = buf;
    }
    ERR_clear_error();
    return text;
}

std::string Hex(const unsigned char* data, unsigned len) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (unsigned i = 0; i < len; ++i) {
        s += kDigits[data[i] >> 4];
        s += kDigits[data[i] & 15];
    }
    return s;
}

std::string Fingerprint(const X509* cert) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    if (X509_digest(cert, EVP_sha256(), md, &len) != 1) return {};
    return Hex(md, len);
}

}  // namespace

TCustomTlsWSocket::TCustomTlsWSocket(TCustomWSocket* AOwner) : TCustomSocksWSocket(AOwner) {}

TCustomTlsWSocket::~TCustomTlsWSocket() {
    BeginDestroy();
    try {
        if (State() != wsClosed) Close();
    } catch (const std::exception&) {
    }
    FreeSession();
}

void TCustomTlsWSocket::ResetDefaults() {
    TCustomSocksWSocket::ResetDefaults();
    FreeSession();
}

void TCustomTlsWSocket::FreeSession() {
    if (m_ssl != nullptr) SSL_free(m_ssl);  // frees both memory buffers too
    m_ssl = nullptr;
    m_netIn = m_netOut = nullptr;
    m_tlsState = kNone;
    m_plainWaiting.clear();
    ++m_handshakeNo;
}

void TCustomTlsWSocket::SetTlsImplicit(bool Value) {
    if (State() != wsClosed) {
        RaiseException("Can't change TLS mode if not closed");
        return;
    }
    m_tlsImplicit = Value;
}

void TCustomTlsWSocket::SetTlsFingerprint(const std::string& Value) {
    std::string hex;
    for (char c : Value) {
        if (c == ':' || c == ' ') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            hex = "bad";
            break;
        }
        hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (!hex.empty() && hex.size() != 64) {
        RaiseException("Invalid certificate fingerprint. Must be 64 hex digits (SHA-256).");
        return;
    }
    m_tlsFingerprint = hex;
}

void TCustomTlsWSocket::StartTls() {
    if (State() != wsConnected) {
        RaiseException("Can't start TLS if not connected");
        return;
    }
    if (m_tlsState != kNone) {
        RaiseException("TLS already started");
        return;
    }
    BeginHandshake(false);
}

void TCustomTlsWSocket::BeginHandshake(bool Implicit) {
    m_startedImplicit = Implicit;
    m_tlsErrorDetail.clear();
    m_peerFingerprint.clear();
    m_firstPeerByte = -1;
    std::string detail;
    SSL_CTX* ctx = ContextFor(m_tlsCaFile, &detail);
    m_ssl = ctx != nullptr ? SSL_new(ctx) : nullptr;
    if (m_ssl == nullptr) {
        m_tlsState = kHandshake;
        TlsFail(kTlsSetupFailed, detail.empty() ? OpenSslErrorText() : detail);
        return;
    }
    m_netIn = BIO_new(BIO_s_mem());
    m_netOut = BIO_new(BIO_s_mem());
    SSL_set_bio(m_ssl, m_netIn, m_netOut);
    SSL_set_connect_state(m_ssl);
    const std::string host = m_tlsHostName.empty() ? Addr() : m_tlsHostName;
    const bool literal = IsAddressLiteral(host);
    if (!literal && !host.empty()) SSL_set_tlsext_host_name(m_ssl, host.c_str());
    m_sessionKey = m_tlsCaFile + '\n' + host + '\n' + Port() + '\n' + m_tlsFingerprint;
    SSL_set_app_data(m_ssl, &m_sessionKey);
    if (SSL_SESSION* session = SessionCache::Instance().Get(m_sessionKey)) {
        SSL_set_session(m_ssl, session);
        SSL_SESSION_free(session);  // the SSL holds its own reference
    }
    if (m_tlsFingerprint.empty()) {
        SSL_set_verify(m_ssl, SSL_VERIFY_PEER, nullptr);
        if (literal)
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), host.c_str());
        else
            SSL_set1_host(m_ssl, host.c_str());
    } else {
        SSL_set_verify(m_ssl, SSL_VERIFY_PEER, AcceptAnyChain);
    }
    m_tlsState = kHandshake;
    m_deadlineBeforeTls = false;
    ++m_handshakeNo;
    if (m_tlsTimeoutMs > 0) PostMessageDelayed(m_tlsTimeoutMs, WM_TLS_TIMEOUT, m_handshakeNo);
    DriveHandshake();
}

void TCustomTlsWSocket::ArmTlsDeadline() {
    if (m_tlsState != kNone || m_tlsTimeoutMs <= 0) return;
    m_deadlineBeforeTls = true;
    ++m_handshakeNo;
    PostMessageDelayed(m_tlsTimeoutMs, WM_TLS_TIMEOUT, m_handshakeNo);
}

void TCustomTlsWSocket::DriveHandshake() {
    const int r = SSL_do_handshake(m_ssl);
    const int err = SSL_get_error(m_ssl, r);
    FlushCipher();  // the next flight, or the alert of a failure
    if (m_ssl == nullptr || m_tlsState != kHandshake) return;  // closed meanwhile
    if (r == 1) {
        HandshakeDone();
        return;
    }
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) return;
    const long verify = SSL_get_verify_result(m_ssl);
    if (verify != X509_V_OK && m_tlsFingerprint.empty()) {
        ERR_clear_error();
        // The certificate that failed, for a user who decides to trust it.
        // OpenSSL keeps a refused certificate only in the chain.
        const STACK_OF(X509)* chain = SSL_get_peer_cert_chain(m_ssl);
        if (chain != nullptr && sk_X509_num(chain) > 0)
            m_peerFingerprint = Fingerprint(sk_X509_value(chain, 0));
        TlsFail(CodeForVerifyResult(verify), X509_verify_cert_error_string(verify));
        return;
    }
    // A TLS record starts with a byte from 0x14 to 0x18; a digit is the
    // start of a server's cleartext greeting ("200 ..."): a port that does
    // not speak TLS from the first byte.
    if (m_firstPeerByte >= '0' && m_firstPeerByte <= '9') {
        TlsFail(kTlsPlainPeer, "the server answered in cleartext: " + OpenSslErrorText());
        return;
    }
    TlsFail(kTlsHandshakeFailed, OpenSslErrorText());
}

void TCustomTlsWSocket::HandshakeDone() {
    if (X509* cert = SSL_get0_peer_certificate(m_ssl)) m_peerFingerprint = Fingerprint(cert);
    if (!m_tlsFingerprint.empty() && m_peerFingerprint != m_tlsFingerprint) {
        TlsFail(kTlsFingerprintMismatch, "certificate fingerprint is " + m_peerFingerprint);
        return;
    }
    m_tlsState = kEstablished;
    ++m_handshakeNo;  // the timer is now stale
    if (!m_plainWaiting.empty()) {
        const std::string waiting = std::move(m_plainWaiting);
        m_plainWaiting.clear();
        try {
            WritePlain(waiting.data(), static_cast<int>(waiting.size()));
        } catch (const std::exception&) {
            // A failed send shows as the connection's end.
        }
        if (m_tlsState != kEstablished) return;
    }
    const std::uintptr_t no = m_handshakeNo;
    if (OnTlsDone) OnTlsDone(this, 0);
    if (no != m_handshakeNo) return;  // closed by the handler
    if (m_startedImplicit) TCustomSocksWSocket::TriggerSessionConnected(0);
    if (no == m_handshakeNo && PlainWaiting() && !m_pendingPosted) {
        m_pendingPosted = true;
        PostMessage(WM_TLS_PENDING);
    }
}

// The handshake has failed: OnTlsDone, OnSessionConnected (implicit TLS),
// the change to wsClosed, OnSessionClosed, all with Code.
void TCustomTlsWSocket::TlsFail(int Code, const std::string& Detail) {
    m_tlsErrorDetail = Detail;
    SessionCache::Instance().Forget(m_sessionKey);
    m_tlsState = kNone;
    ++m_handshakeNo;
    m_lastError = Code;
    const std::uintptr_t no = m_handshakeNo;
    if (OnTlsDone) OnTlsDone(this, static_cast<std::uint16_t>(Code));
    if (no != m_handshakeNo) return;
    if (m_startedImplicit) TCustomSocksWSocket::TriggerSessionConnected(Code);
    DoClose(true, Code);
}

// A session that we end gets our close_notify first, so that the peer can
// tell the end of our data from a cut connection.
void TCustomTlsWSocket::DoClose(bool Shut, int Error) {
    m_deadlineBeforeTls = false;
    if (Shut && m_tlsState == kEstablished && State() == wsConnected) {
        try {
            if (SSL_shutdown(m_ssl) >= 0) FlushCipher();
        } catch (const std::exception&) {
            // The peer has gone already: nothing to tell it.
        }
        ERR_clear_error();
    }
    TCustomSocksWSocket::DoClose(Shut, Error);
}

int TCustomTlsWSocket::PullCipher() {
    char buf[kCipherChunk];
    const int n = TCustomSocksWSocket::RawRead(buf, sizeof buf, 0);
    if (n > 0) {
        if (m_firstPeerByte < 0) m_firstPeerByte = static_cast<unsigned char>(buf[0]);
        BIO_write(m_netIn, buf, n);
    }
    return n;
}

// Hands what OpenSSL has produced to the plain send queue.
void TCustomTlsWSocket::FlushCipher() {
    char* data = nullptr;
    const long len = BIO_get_mem_data(m_netOut, &data);
    if (len <= 0) return;
    BIO* out = m_netOut;
    try {
        TCustomWSocket::Send(data, static_cast<int>(len));
    } catch (...) {
        if (m_netOut == out) (void)BIO_reset(out);
        throw;
    }
    if (m_netOut == out) (void)BIO_reset(out);
}

bool TCustomTlsWSocket::WritePlain(const void* Data, int Len) {
    if (Len <= 0) return true;
    if (SSL_write(m_ssl, Data, Len) <= 0) {
        m_tlsErrorDetail = OpenSslErrorText();
        return false;
    }
    FlushCipher();
    return true;
}

bool TCustomTlsWSocket::PlainWaiting() {
    return m_ssl != nullptr && (SSL_pending(m_ssl) > 0 || BIO_ctrl_pending(m_netIn) > 0);
}

int TCustomTlsWSocket::Send(const void* Data, int Len) {
    if (m_tlsState == kNone || State() != wsConnected) return TCustomSocksWSocket::Send(Data, Len);
    if (Len < 0) Len = 0;
    if (m_tlsState == kHandshake) {
        m_plainWaiting.append(static_cast<const char*>(Data), static_cast<std::size_t>(Len));
        return Len;
    }
    if (!WritePlain(Data, Len)) {
        winsock::WSASetLastError(kTlsHandshakeFailed);
        RaiseSocketError("Send");
        return -1;
    }
    return Len;
}

int TCustomTlsWSocket::GetRcvdCount() {
    if (m_tlsState != kEstablished) return TCustomSocksWSocket::GetRcvdCount();
    const int pending = SSL_pending(m_ssl);
    return pending > 0 ? pending : TCustomSocksWSocket::GetRcvdCount();
}

// Plain bytes: what OpenSSL holds first, then network reads, record after
// record until the room given is full or the network has nothing more, so
// that a reader of large blocks gets large blocks and not one 16 KB record
// per call. A close or a failure behind bytes already read shows at the
// next call.
int TCustomTlsWSocket::RawRead(void* Buffer, int BufferSize, int Flags) {
    if (m_tlsState != kEstablished || BufferSize <= 0)
        return TCustomSocksWSocket::RawRead(Buffer, BufferSize, Flags);
    char* out = static_cast<char*>(Buffer);
    int total = 0;
    bool endBehind = false;  // a close or failure waits behind what is returned
    while (total < BufferSize) {
        const int n = SSL_read(m_ssl, out + total, BufferSize - total);
        if (n > 0) {
            total += n;
            continue;
        }
        const int err = SSL_get_error(m_ssl, n);
        if (err == SSL_ERROR_WANT_READ) {
            const int got = PullCipher();
            if (got > 0) continue;
            if (total > 0) break;
            return got;  // 0 at the end, -1 with the last error set
        }
        if (total > 0) {
            endBehind = true;
            break;
        }
        if (err == SSL_ERROR_ZERO_RETURN) {
            // The peer's close_notify ends the connection, as its FIN does
            // without TLS: a peer that waits for our close_notify before it
            // closes would otherwise keep the connection open forever.
            if (!m_pendingPosted) {
                m_pendingPosted = true;
                PostMessage(WM_TLS_PENDING, 0, kPendingPeerClosed);
            }
            return 0;
        }
        m_tlsErrorDetail = OpenSslErrorText();
        if (!m_pendingPosted) {
            m_pendingPosted = true;
            PostMessage(WM_TLS_PENDING, 0, kPendingBadRecord);
        }
        winsock::WSASetLastError(kTlsReceiveFailed);
        return -1;
    }
    // A handler that read less than there is, or an end OpenSSL has already
    // taken in, would otherwise wait for a network event that may never come.
    if ((endBehind || PlainWaiting()) && !m_pendingPosted) {
        m_pendingPosted = true;
        PostMessage(WM_TLS_PENDING);
    }
    return total;
}

bool TCustomTlsWSocket::TriggerDataAvailable(int Error) {
    if (m_tlsState != kHandshake) return TCustomSocksWSocket::TriggerDataAvailable(Error);
    if (Error != 0) {
        TlsFail(Error, "receive error during the handshake");
        return true;
    }
    for (;;) {
        const int n = PullCipher();
        DriveHandshake();
        if (m_tlsState != kHandshake || n <= 0) break;
    }
    return true;
}

void TCustomTlsWSocket::TriggerSessionConnected(int Error) {
    if (m_tlsImplicit && Error == 0 && m_tlsState == kNone && !SocksNegotiating()) {
        BeginHandshake(true);
        return;
    }
    TCustomSocksWSocket::TriggerSessionConnected(Error);
}

void TCustomTlsWSocket::TriggerSessionClosed(int Error) {
    if (m_tlsState == kHandshake) {
        m_tlsErrorDetail = "connection closed during the handshake";
        m_tlsState = kNone;
        ++m_handshakeNo;
        if (OnTlsDone) OnTlsDone(this, kTlsClosedInHandshake);
        if (m_startedImplicit) TCustomSocksWSocket::TriggerSessionConnected(kTlsClosedInHandshake);
        if (Error == 0) Error = kTlsClosedInHandshake;
    }
    TCustomSocksWSocket::TriggerSessionClosed(Error);
}

void TCustomTlsWSocket::Resume() {
    TCustomSocksWSocket::Resume();
    if (m_tlsState == kEstablished && PlainWaiting() && !m_pendingPosted) {
        m_pendingPosted = true;
        PostMessage(WM_TLS_PENDING);
    }
}

void TCustomTlsWSocket::HandleMessage(const platform::ChannelMessage& Msg) {
    switch (Msg.Msg) {
        case WM_TLS_PENDING:
            CallGuarded([&] {
                m_pendingPosted = false;
                if (m_tlsState != kEstablished) return;
                if (Msg.LParam == kPendingBadRecord) {
                    DoClose(true, kTlsReceiveFailed);
                    return;
                }
                if (Msg.LParam == kPendingPeerClosed) {
                    DoClose(true, 0);
                    return;
                }
                if (!Paused() && Handle() != INVALID_SOCKET) ReceiveLoop(0, ComponentOptions());
            });
            break;
        case WM_TLS_TIMEOUT:
            CallGuarded([&] {
                const bool running =
                    m_tlsState == kHandshake || (m_tlsState == kNone && m_deadlineBeforeTls);
                if (running && Msg.WParam == m_handshakeNo)
                    TlsFail(kTlsHandshakeTimeout, m_tlsState == kHandshake
                                                      ? "handshake timed out"
                                                      : "no answer before the handshake");
            });
            break;
        default:
            TCustomSocksWSocket::HandleMessage(Msg);
    }
}

}  // namespace sitowiak::net

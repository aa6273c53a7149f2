// The set-up of one relay's connection to the news server, before the relay
// takes it over: TLS from the first byte, or STARTTLS after the greeting.
//
// TLS from the first byte is the socket's own: the connector only sets it
// up, and the socket reports the connection once the handshake has ended.
// With STARTTLS the connector reads the greeting itself, asks for TLS,
// expects 382, and when the handshake has ended hands the greeting it kept
// to the relay, so that the reader sees the server's own first line as it
// would without TLS. A server that greets with anything but 200 or 201, or
// refuses STARTTLS, is refused in turn: nothing goes on in the clear.
//
// Through a SOCKS server (SocksRoute) the connector sets the socket's SOCKS
// fields and puts the SOCKS exchange under the same time limit as the TLS
// set-up; TLS then runs through the opened path and checks the news
// server's name as it would directly.
//
// Failures end as a close of the socket; the relay then asks FailureText
// for the reason it tells the reader.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/TWSocket.h"
#include "proxy/core/ProxySettings.h"
#include "proxy/core/SocksRoute.h"

namespace sitowiak::proxy {

class UpstreamConnector {
public:
    // Failures of the set-up itself, beside the socket's own codes.
    static constexpr int kStartTlsRefused = 20190;    // no 382 to STARTTLS
    static constexpr int kUnknownEncryption = 20191;  // "Szyfrowanie" names no way
    static constexpr int kBadFingerprint = 20192;     // "OdciskSerwera" is no SHA-256
    static constexpr int kPlainAfter382 = 20193;      // cleartext after the 382
    static constexpr int kGreetingRefused = 20194;    // a greeting other than 200 or 201

    // The greeting, once the connection is ready for the relay.
    std::function<void(const std::string& greeting)> OnHandover;
    // A failure: the connection is closed after the current event.
    std::function<void(int code)> OnFailure;

    // Takes over the socket's data event for the STARTTLS exchange; the
    // relay's handler is restored at the handover.
    // host: the news server's name (or address) as the certificate must
    // name it, without a port or brackets.
    UpstreamConnector(net::TWSocket& socket, const ProxySettings& settings, std::string host);
    ~UpstreamConnector();
    UpstreamConnector(const UpstreamConnector&) = delete;
    UpstreamConnector& operator=(const UpstreamConnector&) = delete;

    // Sets the socket up before it connects. Returns 0, or the failure code
    // when the settings cannot be used (nothing is to connect then).
    int Prepare();
    // Whether the news server's name goes to a SOCKS server unresolved:
    // then ConnectByName takes the place of the lookup and the connect.
    bool ConnectsByName() const { return m_socks.Used() && m_socks.NameGoesThrough(); }
    // Connects through the SOCKS server to the host by its name. Returns 0,
    // or the failure code when the connection could not even start.
    int ConnectByName();
    // After the local lookup of the host, before the connect: the log's
    // note on it when the SOCKS server cannot take names (else empty).
    std::string TakeLookup();
    // The connection stands: for STARTTLS the time limit of the exchange
    // before the handshake starts, so a silent server cannot keep the
    // reader waiting.
    void Connected();
    // Whether the STARTTLS exchange still runs (the relay passes nothing on).
    bool Busy() const { return m_stage != Stage::Done; }
    // The Polish reason for a failure code of the set-up or of TLS, with the
    // certificate's fingerprint when verification failed; empty for codes
    // that are neither.
    std::string FailureText(int code) const;
    // What the log adds to that: OpenSSL's own words, the STARTTLS answer.
    std::string FailureDetail() const;
    // The fingerprint of a certificate that failed only for want of trust
    // (unknown issuer, another name, out of its dates, refused by the chain)
    // while "OdciskSerwera" is empty: one the user may decide to trust.
    // Empty for any other failure, also for a certificate other than the
    // one "OdciskSerwera" names.
    std::string UntrustedFingerprint(int code) const;

private:
    enum class Stage : uint8_t { Greeting, Reply, Handshake, Done };

    void DataAvailable();
    void TlsDone(uint16_t Error);
    // The first line of what has been read, without its CR LF, once whole.
    bool TakeLine(std::string& line);
    void Fail(int code);
    void Handover();

    net::TWSocket& m_socket;
    SocksRoute m_socks;
    bool m_pathOpen = false;   // the SOCKS server has opened the way (or none is used)
    std::string m_socksError;  // the socket library's words on a SOCKS failure
    Encryption m_mode;
    std::string m_host;
    std::string m_fingerprint;
    Stage m_stage = Stage::Done;
    std::string m_read;      // cleartext from the server, not yet a whole line
    std::string m_greeting;  // the greeting, with its CR LF
    std::string m_answer;    // the server's answer to STARTTLS
    net::TDataAvailable m_relayDataAvailable;
};

}  // namespace sitowiak::proxy

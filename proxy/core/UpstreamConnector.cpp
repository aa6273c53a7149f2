#include "UpstreamConnector.h"

#include <exception>
#include <utility>

#include "proxy/core/NntpWords.h"

namespace sitowiak::proxy {
namespace {

using Tls = net::TCustomTlsWSocket;

constexpr std::string_view kStartTlsCommand = "STARTTLS\r\n";
constexpr int kTlsGoAhead = 382;

// A line of the server's that goes into the reader's 400 line: printable
// ASCII only, and short.
std::string Printable(std::string_view line) {
    std::string out;
    for (char c : line.substr(0, 120)) out += c >= ' ' && c <= '~' ? c : '?';
    return out;
}

int Code(std::string_view line) {
    if (line.size() < 3) return -1;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        if (line[static_cast<size_t>(i)] < '0' || line[static_cast<size_t>(i)] > '9') return -1;
        code = code * 10 + (line[static_cast<size_t>(i)] - '0');
    }
    return code;
}

}  // namespace

UpstreamConnector::UpstreamConnector(net::TWSocket& socket, const ProxySettings& settings,
                                     std::string host)
    : m_socket(socket),
      m_socks(settings),
      m_mode(EncryptionOf(settings.Szyfrowanie)),
      m_host(std::move(host)),
      m_fingerprint(settings.OdciskSerwera) {}

UpstreamConnector::~UpstreamConnector() {
    m_socket.OnTlsDone = nullptr;
    m_socket.OnSocksError = nullptr;
    if (Busy() && m_relayDataAvailable) m_socket.OnDataAvailable = std::move(m_relayDataAvailable);
}

int UpstreamConnector::Prepare() {
    if (m_mode == Encryption::Unknown) return kUnknownEncryption;
    if (m_socks.Used()) {
        if (int error = m_socks.Apply(m_socket)) return error;
        m_socket.OnSocksError = [this](net::TCustomWSocket*, int, const std::string& msg) {
            m_socksError = msg;
        };
        // A SOCKS server that takes the connection and says nothing would
        // keep the reader waiting: the set-up's time limit starts here.
        m_socket.ArmTlsDeadline();
    } else {
        m_pathOpen = true;
    }
    if (m_mode == Encryption::None) return 0;
    try {
        m_socket.SetTlsFingerprint(m_fingerprint);
    } catch (const std::exception&) {
        return kBadFingerprint;
    }
    m_socket.SetTlsHostName(m_host);
    if (m_mode == Encryption::Tls) {
        m_socket.SetTlsImplicit(true);
        return 0;
    }
    m_stage = Stage::Greeting;
    m_relayDataAvailable = std::move(m_socket.OnDataAvailable);
    m_socket.OnDataAvailable = [this](net::TCustomWSocket*, uint16_t e) {
        if (e == 0) DataAvailable();
    };
    m_socket.OnTlsDone = [this](net::TCustomWSocket*, uint16_t e) { TlsDone(e); };
    return 0;
}

// The greeting, then the answer to STARTTLS, each one line in the clear.
void UpstreamConnector::DataAvailable() {
    char chunk[512];
    int count = m_socket.Receive(chunk, sizeof chunk);
    if (count <= 0) return;
    m_read.append(chunk, static_cast<size_t>(count));
    std::string line;
    if (m_stage == Stage::Greeting && TakeLine(line)) {
        m_greeting = line + std::string(nntp::kLineEnd);
        int code = Code(line);
        // Only a server ready for readers goes on to TLS. Anything else,
        // a refusal included, ends here: handing it on would give the
        // reader a session in the clear, which anyone on the way can fake
        // by answering for the server.
        if (code != 200 && code != 201) {
            Fail(kGreetingRefused);
            return;
        }
        m_stage = Stage::Reply;
        m_socket.Send(kStartTlsCommand.data(), static_cast<int>(kStartTlsCommand.size()));
    }
    if (m_stage == Stage::Reply && TakeLine(line)) {
        m_answer = line;
        if (Code(line) != kTlsGoAhead) {
            Fail(kStartTlsRefused);
            return;
        }
        // Bytes behind the 382 would be taken as the server's once TLS
        // stands, though anyone on the way could have put them there.
        if (!m_read.empty()) {
            Fail(kPlainAfter382);
            return;
        }
        m_stage = Stage::Handshake;
        m_socket.StartTls();
        return;
    }
    if (m_read.size() > nntp::kMaxStatusLine) Fail(kStartTlsRefused);
}

int UpstreamConnector::ConnectByName() {
    try {
        m_socket.SetAddr(m_host);
        m_socket.Connect();
    } catch (const std::exception& e) {
        m_socksError = e.what();
        return SocksRoute::kConnectFailed;
    }
    return 0;
}

std::string UpstreamConnector::TakeLookup() {
    if (!m_socks.Used() || m_socks.NameGoesThrough()) return {};
    return m_socks.TakeLookup(m_socket, m_host);
}

void UpstreamConnector::Connected() {
    m_pathOpen = true;
    if (m_stage == Stage::Greeting)
        m_socket.ArmTlsDeadline();
    else if (m_mode == Encryption::None)
        m_socket.DisarmTlsDeadline();
}

bool UpstreamConnector::TakeLine(std::string& line) {
    size_t end = m_read.find('\n');
    if (end == std::string::npos) return false;
    line = m_read.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    m_read.erase(0, end + 1);
    return true;
}

// A failed handshake closes the socket with its code by itself.
void UpstreamConnector::TlsDone(uint16_t Error) {
    if (Error == 0 && m_stage == Stage::Handshake) Handover();
}

void UpstreamConnector::Fail(int code) {
    m_stage = Stage::Handshake;  // nothing more is read in the clear
    if (OnFailure) OnFailure(code);
    m_socket.CloseDelayed();
}

// Only after the handshake: what the server sent in the clear before it
// (the greeting and the 382) never reaches the relay but the greeting.
void UpstreamConnector::Handover() {
    m_stage = Stage::Done;
    m_socket.DisarmTlsDeadline();
    m_socket.OnDataAvailable = std::move(m_relayDataAvailable);
    m_relayDataAvailable = nullptr;
    m_read.clear();
    if (OnHandover) OnHandover(m_greeting);
}

std::string UpstreamConnector::FailureText(int code) const {
    if (m_socks.Used()) {
        // With TLS from the first byte the relay hears of the connection
        // only after the handshake: a time-out before the handshake began
        // is still the SOCKS server's.
        const bool before =
            !m_pathOpen && !(code == Tls::kTlsHandshakeTimeout && m_socket.TlsErrorDetail() ==
                                                                      "handshake timed out");
        if (std::string text = m_socks.FailureText(code, before); !text.empty()) return text;
    }
    std::string text;
    switch (code) {
        case Tls::kTlsHandshakeFailed:
            return "uzgadnianie TLS nie powiodło się";
        case Tls::kTlsUnknownIssuer:
            text = "certyfikat serwera wystawił nieznany wystawca";
            break;
        case Tls::kTlsNameMismatch:
            text = "certyfikat serwera jest wystawiony na inną nazwę niż " + Printable(m_host);
            break;
        case Tls::kTlsExpired:
            text = "certyfikat serwera wygasł";
            break;
        case Tls::kTlsNotYetValid:
            text = "certyfikat serwera nie jest jeszcze ważny";
            break;
        case Tls::kTlsCertRejected:
            text = "certyfikat serwera został odrzucony";
            break;
        case Tls::kTlsFingerprintMismatch:
            text = "certyfikat serwera ma inny odcisk niż OdciskSerwera";
            break;
        case Tls::kTlsClosedInHandshake:
            return "serwer zamknął połączenie podczas uzgadniania TLS";
        case Tls::kTlsHandshakeTimeout:
            // Silent before STARTTLS: often a port that wants TLS from the
            // first byte, which waits for our handshake instead.
            if (m_stage == Stage::Greeting)
                return "serwer nie przysłał powitania przed STARTTLS (port 563 wymaga "
                       "szyfrowania TLS (563))";
            if (m_stage == Stage::Reply) return "serwer nie odpowiedział na STARTTLS";
            return "uzgadnianie TLS trwało zbyt długo";
        case Tls::kTlsSetupFailed:
            return "nie można przygotować TLS (zaufane certyfikaty niedostępne)";
        case Tls::kTlsReceiveFailed:
            return "błąd odbioru TLS";
        case Tls::kTlsPlainPeer:
            // After STARTTLS's 382 the server itself asked for TLS: cleartext
            // there is data slipped in, not a port of the other kind.
            if (m_mode == Encryption::StartTls)
                return "serwer wysłał niezaszyfrowane dane po odpowiedzi 382";
            return "serwer odpowiedział bez szyfrowania (ten port wymaga szyfrowania STARTTLS "
                   "albo <brak>)";
        case kStartTlsRefused:
            return m_answer.empty() ? "serwer nie przyjął STARTTLS"
                                    : "serwer nie przyjął STARTTLS (" + Printable(m_answer) + ")";
        case kUnknownEncryption:
            return "nieznany sposób szyfrowania w ustawieniu Szyfrowanie";
        case kBadFingerprint:
            return "OdciskSerwera nie jest odciskiem SHA-256 (64 cyfry szesnastkowe)";
        case kPlainAfter382:
            return "serwer wysłał niezaszyfrowane dane po odpowiedzi 382";
        case kGreetingRefused: {
            const std::string_view greeting =
                std::string_view(m_greeting).substr(0, m_greeting.size() - nntp::kLineEnd.size());
            const int said = Code(greeting);
            if (said == 400 || said == 502)
                return "serwer nie przyjmuje czytelników (" + Printable(greeting) + ")";
            return "nieoczekiwane powitanie serwera przed STARTTLS (" + Printable(greeting) + ")";
        }
        default:
            return {};
    }
    // A certificate the user may decide to trust: its fingerprint is what
    // "OdciskSerwera" takes, and the command sets it for a proxy without a
    // window, whose user reads this in the log.
    const std::string& seen = m_socket.PeerFingerprint();
    if (!seen.empty())
        text += "; odcisk SHA-256 certyfikatu: " + seen +
                "; aby mu zaufać: sitowiak --set OdciskSerwera=" + seen;
    return text;
}

std::string UpstreamConnector::UntrustedFingerprint(int code) const {
    switch (code) {
        case Tls::kTlsUnknownIssuer:
        case Tls::kTlsNameMismatch:
        case Tls::kTlsExpired:
        case Tls::kTlsNotYetValid:
        case Tls::kTlsCertRejected:
            return m_socket.TlsFingerprint().empty() ? m_socket.PeerFingerprint() : std::string();
        default:
            return {};
    }
}

std::string UpstreamConnector::FailureDetail() const {
    std::string detail =
        m_socksError.empty() ? m_socket.TlsErrorDetail() : "SOCKS: " + m_socksError;
    if (!m_answer.empty())
        detail += (detail.empty() ? "" : "; ") + std::string("STARTTLS: ") + m_answer;
    return detail;
}

}  // namespace sitowiak::proxy

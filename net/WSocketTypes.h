// Types shared by the socket classes: states and options, the socket
// layer's exception, the message numbers of the notification channel and
// the readiness event bits, and the event signatures (declared here once).
// An event is a std::function member; an empty one is simply not raised.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

namespace sitowiak::net {

class TCustomWSocket;
class TWSocketClient;
class TCustomWSocketServer;

enum TSocketState {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed
};

enum TSocketSendFlags { wsSendNormal, wsSendUrgent };

enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };

enum TWSocketOption { wsoNoReceiveLoop };

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };

enum TSocksAuthState { authStarted, authSucceeded, authFailed, authNotRequired };

// A set of TWSocketOption.
class TWSocketOptions {
public:
    TWSocketOptions() = default;
    TWSocketOptions(std::initializer_list<TWSocketOption> options) {
        for (auto o : options) Include(o);
    }
    bool Contains(TWSocketOption o) const { return (m_bits & Bit(o)) != 0; }
    void Include(TWSocketOption o) { m_bits |= Bit(o); }
    void Exclude(TWSocketOption o) { m_bits &= ~Bit(o); }

private:
    static unsigned Bit(TWSocketOption o) { return 1u << static_cast<unsigned>(o); }
    unsigned m_bits = 0;
};

// The socket layer's exception; its text is the whole report, e.g.
// "Error 10057 in function Send\r\nSocket is not connected".
class ESocketException : public std::runtime_error {
public:
    explicit ESocketException(const std::string& message) : std::runtime_error(message) {}
};

// Message numbers of a socket's notification channel.
inline constexpr std::uint32_t WM_ASYNCSELECT = 0x401;
inline constexpr std::uint32_t WM_ASYNCGETHOSTBYNAME = 0x402;
inline constexpr std::uint32_t WM_ASYNCGETHOSTBYADDR = 0x403;
inline constexpr std::uint32_t WM_CLOSE_DELAYED = 0x404;
inline constexpr std::uint32_t WM_WSOCKET_RELEASE = 0x405;
inline constexpr std::uint32_t WM_TRIGGER_EXCEPTION = 0x406;
inline constexpr std::uint32_t WM_TRIGGER_DATA_AVAILABLE = 0x414;
inline constexpr std::uint32_t WM_CLIENT_CLOSED = 0x41E;
inline constexpr std::uint32_t WM_TLS_PENDING = 0x420;
inline constexpr std::uint32_t WM_TLS_TIMEOUT = 0x421;

// Readiness events of WM_ASYNCSELECT: the event in the low 16 bits of
// LParam, the error code in the high 16 bits.
inline constexpr int FD_READ = 1;
inline constexpr int FD_WRITE = 2;
inline constexpr int FD_ACCEPT = 8;
inline constexpr int FD_CONNECT = 16;
inline constexpr int FD_CLOSE = 32;

using TDataAvailable = std::function<void(TCustomWSocket* Sender, std::uint16_t Error)>;
using TDataSent = std::function<void(TCustomWSocket* Sender, std::uint16_t Error)>;
using TSendData = std::function<void(TCustomWSocket* Sender, int BytesSent)>;
using TSessionClosed = std::function<void(TCustomWSocket* Sender, std::uint16_t Error)>;
using TSessionAvailable = std::function<void(TCustomWSocket* Sender, std::uint16_t Error)>;
using TSessionConnected = std::function<void(TCustomWSocket* Sender, std::uint16_t Error)>;
using TDnsLookupDone = std::function<void(TCustomWSocket* Sender, std::uint16_t Error)>;
using TChangeState =
    std::function<void(TCustomWSocket* Sender, TSocketState OldState, TSocketState NewState)>;
using TBgExceptionEvent =
    std::function<void(TCustomWSocket* Sender, const std::exception& E, bool& CanClose)>;
using TNotifyEvent = std::function<void(TCustomWSocket* Sender)>;
using TLineLimitEvent =
    std::function<void(TCustomWSocket* Sender, int RcvdLength, bool& ClearData)>;
using TSocksErrorEvent =
    std::function<void(TCustomWSocket* Sender, int Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(TCustomWSocket* Sender, TSocksAuthState AuthState)>;
using TWSocketClientCreateEvent =
    std::function<void(TCustomWSocketServer* Sender, TWSocketClient* Client)>;
using TWSocketClientConnectEvent =
    std::function<void(TCustomWSocketServer* Sender, TWSocketClient* Client, std::uint16_t Error)>;

}  // namespace sitowiak::net

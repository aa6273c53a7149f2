#include "net/TCustomWSocket.h"

#include <sys/socket.h>

#include "net/AsyncLookup.h"
#include "net/WSocketResolve.h"

namespace sitowiak::net {

namespace {
// Defaults restored by every close. (Assigned from strings rather than
// literals: GCC 12 warns falsely about literal assignment here at -O3.)
const std::string kDefaultProto = "tcp";
const std::string kDefaultLocalPort = "0";
const std::string kAnyAddress = "0.0.0.0";
}  // namespace

TCustomWSocket::TCustomWSocket(TCustomWSocket* AOwner)
    : m_owner(AOwner),
      m_channel(
          [this](const platform::ChannelMessage& m) { HandleMessage(m); },
          [this](int fd, bool writable, bool hangup) { m_select.OnReady(fd, writable, hangup); }),
      m_select(m_channel,
               [this](TSocket fd, int event, int error) { DeliverReadiness(fd, event, error); }) {
    TCustomWSocket::ResetDefaults();
    winsock::AddSocketObject();
}

TCustomWSocket::~TCustomWSocket() {
    BeginDestroy();
    try {
        CancelDnsLookup();
    } catch (const std::exception&) {
    }
    try {
        if (m_state != wsClosed) Close();
    } catch (const std::exception&) {
    }
    // A handle left behind by a failed step is closed all the same.
    if (m_hSocket != INVALID_SOCKET) CloseHandleNow();
    winsock::RemoveSocketObject();
}

void TCustomWSocket::ResetDefaults() {
    m_sin = winsock::AnyAddress(AF_INET);
    m_addrMore.clear();
    m_connectAddrs.clear();
    m_connectNext = 0;
    m_portResolved = m_addrResolved = m_protoResolved = m_localPortResolved = false;
    m_portAssigned = m_addrAssigned = false;
    m_protoAssigned = true;
    m_proto = kDefaultProto;
    m_protoNum = 6;
    m_sockType = SOCK_STREAM;
    m_localPort = kDefaultLocalPort;
    m_localPortNum = 0;
    m_localAddr = kAnyAddress;
    // Linger off: Close hands what the kernel still holds to the peer and
    // ends with FIN. (Linger on with 0 s would reset the connection and lose
    // it; Abort is the close that does that.)
    m_lingerOnOff = wsLingerOff;
    m_lingerTimeout = 0;
    m_hSocket = INVALID_SOCKET;
    m_state = wsClosed;
    m_allSent = true;
    m_paused = false;
    m_writeHeld = false;
    m_sendShut = m_shutWhenSent = false;
    m_readCount = 0;
    m_closeReported = false;
    m_flushTimeout = 60;
}

void TCustomWSocket::PostMessage(std::uint32_t Msg, std::uintptr_t WParam, std::intptr_t LParam) {
    m_channel.Post({Msg, WParam, LParam});
}

void TCustomWSocket::PostMessageDelayed(int DelayMs, std::uint32_t Msg, std::uintptr_t WParam,
                                        std::intptr_t LParam) {
    m_channel.PostDelayed({Msg, WParam, LParam}, DelayMs);
}

void TCustomWSocket::DeliverReadiness(TSocket Fd, int Event, int Error) {
    const auto fd = static_cast<std::uintptr_t>(static_cast<unsigned>(Fd));
    HandleMessage({WM_ASYNCSELECT, fd, Event | (Error << 16)});
}

void TCustomWSocket::CallGuarded(const std::function<void()>& Handler) {
    try {
        Handler();
    } catch (const std::exception& e) {
        HandleBgException(e);
    }
}

void TCustomWSocket::HandleMessage(const platform::ChannelMessage& Msg) {
    switch (Msg.Msg) {
        case WM_ASYNCSELECT:
            CallGuarded([&] {
                HandleAsyncSelect(static_cast<TSocket>(Msg.WParam),
                                  static_cast<int>(Msg.LParam & 0xFFFF),
                                  static_cast<int>((Msg.LParam >> 16) & 0xFFFF));
            });
            break;
        case WM_ASYNCGETHOSTBYNAME:
        case WM_ASYNCGETHOSTBYADDR:
            CallGuarded([&] { HandleLookupReply(Msg); });
            break;
        case WM_CLOSE_DELAYED:
            CallGuarded([&] { Close(); });
            break;
        case WM_WSOCKET_RELEASE:
            delete this;  // posted by Release: no handler of ours is running
            break;
        case WM_TRIGGER_EXCEPTION:
            CallGuarded([] { throw ESocketException("Test exception in WSocket"); });
            break;
        default:
            break;
    }
}

// The steps run in this order; each notification carries one event.
void TCustomWSocket::HandleAsyncSelect(TSocket Fd, int Event, int Error) {
    if (Fd != m_hSocket) return;
    if (m_paused) {
        // Only our own posted write notification gets here while paused
        // (readiness is switched off); Resume raises it again.
        m_writeHeld = m_writeHeld || (Event & FD_WRITE) != 0;
        return;
    }
    if (Event & FD_CONNECT) {
        // A failed address gives way to the next one of the list, if any:
        // the caller hears only of the last failure.
        if (Error != 0 && m_connectNext < m_connectAddrs.size()) {
            CloseHandleNow();
            ConnectNext(true);
            return;
        }
        ChangeState(wsConnected);
        TriggerSessionConnected(Error);
        if (Error != 0 && m_state != wsClosed) Close();
    }
    if (Event & FD_READ) ReceiveLoop(Error, m_componentOptions);
    if (Event & FD_WRITE) {
        TryToSend();
        if (m_allSent) TriggerDataSent(Error);
    }
    if (Event & FD_ACCEPT) TriggerSessionAvailable(Error);
    if ((Event & FD_CLOSE) && m_state != wsConnecting) {
        TWSocketOptions options = m_componentOptions;
        options.Exclude(wsoNoReceiveLoop);
        ReceiveLoop(0, options);
        if (!m_closeReported) {
            m_closeReported = true;
            TriggerSessionClosed(Error);
        }
        if (m_state != wsClosed) Close();
    }
}

void TCustomWSocket::ChangeState(TSocketState NewState) {
    const TSocketState old = m_state;
    m_state = NewState;
    if (!m_destroying) TriggerChangeState(old, NewState);
}

void TCustomWSocket::RaiseSocketError(const std::string& FunctionName) {
    const int code = winsock::WSAGetLastError();
    const std::string text = "Error " + std::to_string(code) + " in function " + FunctionName +
                             "\r\n" + SocketErrorText(code);
    if (code == WSAECONNRESET || code == WSAENOTCONN) {
        if (m_hSocket != INVALID_SOCKET) CloseHandleNow();
        if (m_state != wsClosed) ChangeState(wsClosed);
    }
    m_lastError = code;
    RaiseException(text);
}

void TCustomWSocket::RaiseException(const std::string& Msg) {
    if (OnError) {
        TriggerError();
        return;
    }
    throw ESocketException(Msg);
}

void TCustomWSocket::HandleBgException(const std::exception& E) {
    bool canClose = true;
    if (OnBgException) {
        try {
            OnBgException(this, E, canClose);
        } catch (const std::exception&) {
        }
    }
    if (!canClose) return;
    try {
        Abort();
    } catch (const std::exception&) {
    }
}

bool TCustomWSocket::TriggerDataAvailable(int Error) {
    if (!OnDataAvailable) return false;
    OnDataAvailable(this, static_cast<std::uint16_t>(Error));
    return true;
}

void TCustomWSocket::TriggerSessionAvailable(int Error) {
    if (OnSessionAvailable) OnSessionAvailable(this, static_cast<std::uint16_t>(Error));
}

void TCustomWSocket::TriggerSessionConnected(int Error) {
    if (OnSessionConnected) OnSessionConnected(this, static_cast<std::uint16_t>(Error));
}

void TCustomWSocket::TriggerSessionClosed(int Error) {
    if (OnSessionClosed) OnSessionClosed(this, static_cast<std::uint16_t>(Error));
}

void TCustomWSocket::TriggerDataSent(int Error) {
    if (OnDataSent) OnDataSent(this, static_cast<std::uint16_t>(Error));
}

void TCustomWSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState) {
    if (OnChangeState) OnChangeState(this, OldState, NewState);
}

void TCustomWSocket::TriggerDnsLookupDone(int Error) {
    if (OnDnsLookupDone) OnDnsLookupDone(this, static_cast<std::uint16_t>(Error));
}

void TCustomWSocket::TriggerError() {
    if (OnError) OnError(this);
}

void TCustomWSocket::ProcessPendingEvents() {
    if (platform::SocketChannel::ProcessPendingEvents()) m_terminated = true;
}

}  // namespace sitowiak::net

// TCustomWSocket: Connect, Listen, Accept, Dup and the closing steps.
#include <sys/socket.h>

#include "net/TCustomWSocket.h"
#include "net/WSocketResolve.h"

namespace sitowiak::net {

namespace {

constexpr int kConnectEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;
constexpr int kListenEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;
constexpr int kDupEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
// The platform's largest accept queue (the kernel caps it at
// net.core.somaxconn). A queue of 5 loses connections when many readers
// connect at once.
constexpr int kListenBacklog = SOMAXCONN;
constexpr int kProtoTcp = 6;
constexpr int kInProgress = 10036;  // EINPROGRESS of a non-blocking connect
constexpr int kProtoUdp = 17;

}  // namespace

bool TCustomWSocket::ConnectPreconditions() {
    if (m_hSocket != INVALID_SOCKET && m_state != wsClosed) {
        RaiseException("Connect: Socket already in use");
        return false;
    }
    if (!m_portAssigned) {
        RaiseException("Connect: No Port Specified");
        return false;
    }
    if (!m_addrAssigned) {
        RaiseException("Connect: No IP Address Specified");
        return false;
    }
    if (!m_protoAssigned) {
        RaiseException("Connect: No Protocol Specified");
        return false;
    }
    return true;
}

// Resolves what has not been resolved since it was assigned.
void TCustomWSocket::ResolveForConnect(bool WithLocalPort) {
    if (!m_protoResolved) {
        m_protoNum = WSocketResolveProto(m_proto);
        m_sockType = m_protoNum == kProtoUdp ? SOCK_DGRAM : SOCK_STREAM;
        m_protoResolved = true;
    }
    if (!m_portResolved) {
        m_portNum = WSocketResolvePort(m_port, m_proto);
        m_sin.sin_port = htons(static_cast<std::uint16_t>(m_portNum));
        m_portResolved = true;
    }
    if (WithLocalPort && !m_localPortResolved) {
        m_localPortNum = WSocketResolvePort(m_localPort, m_proto);
        m_localPortResolved = true;
    }
    if (!m_addrResolved) {
        m_sin.sin_addr.s_addr = WSocketResolveHost(m_addr);
        m_addrResolved = true;
    }
    m_sin.sin_family = AF_INET;
}

// Options a new socket does not have already: reusing the address matters
// only to a socket bound before connecting (one that is not gets its port
// when it connects), and a new socket lingers off.
bool TCustomWSocket::PrepareStreamSocket() {
    const bool bound = m_localPortNum != 0 || m_localAddr != "0.0.0.0";
    if (bound && winsock::SetSockOptInt(m_hSocket, SOL_SOCKET, SO_REUSEADDR, 1) < 0) {
        RaiseSocketError("setsockopt(SO_REUSEADDR)");
        return false;
    }
    if (m_lingerOnOff != wsLingerOff) SetLingerOption();
    if (winsock::SetSockOptInt(m_hSocket, SOL_SOCKET, SO_KEEPALIVE, 1) < 0) {
        RaiseSocketError("setsockopt(SO_KEEPALIVE)");
        return false;
    }
    if (bound) BindLocal();
    return true;
}

void TCustomWSocket::Connect() {
    if (!ConnectPreconditions()) return;
    try {
        ResolveForConnect(true);
    } catch (const ESocketException& e) {
        RaiseException(std::string("connect: ") + e.what());
        return;
    }
    m_sendQueue.Clear();
    m_hSocket = winsock::Socket(AF_INET, m_sockType, m_protoNum);
    if (m_hSocket == INVALID_SOCKET) {
        RaiseSocketError("Connect (socket)");
        return;
    }
    // A connect that fails before it is under way (an unreachable network,
    // a refused option) closes its handle before the failure is reported:
    // nothing would ever report on that handle again.
    bool started = false;
    try {
        started = StartConnect();
    } catch (...) {
        AbandonHandle();
        throw;
    }
    if (!started) {
        AbandonHandle();
        return;
    }
    if (m_sockType == SOCK_DGRAM) {
        ChangeState(wsConnected);
        TriggerSessionConnected(0);
        return;
    }
    m_select.ConnectStarted();
    ChangeState(wsConnecting);
}

// Prepares the new handle and starts the connection. False when a step
// failed and was reported to an OnError handler.
bool TCustomWSocket::StartConnect() {
    ChangeState(wsOpened);
    const bool datagram = m_sockType == SOCK_DGRAM;
    if (datagram) {
        BindLocal();
        if (m_sin.sin_addr.s_addr == kInAddrNone &&
            winsock::SetSockOptInt(m_hSocket, SOL_SOCKET, SO_BROADCAST, 1) < 0) {
            RaiseSocketError("setsockopt(SO_BROADCAST)");
            return false;
        }
    } else if (!PrepareStreamSocket()) {
        return false;
    }
    // A stream socket is watched for the connect's end from the start: one
    // registration instead of one for reading and a change for the connect.
    SelectEvents(kConnectEvents,
                 datagram ? AsyncSelect::Kind::kDatagram : AsyncSelect::Kind::kStream, !datagram);
    if (datagram || winsock::Connect(m_hSocket, m_sin) == 0) return true;
    const int code = winsock::WSAGetLastError();
    if (code == WSAEWOULDBLOCK || code == kInProgress) return true;
    m_lastError = code;
    RaiseSocketError("Connect");
    return false;
}

// Closes a handle whose connection never got under way: state wsClosed and
// the defaults back, but no OnSessionClosed (there was no session).
void TCustomWSocket::AbandonHandle() {
    if (m_hSocket != INVALID_SOCKET) CloseHandleNow();
    DoClose(false, 0);
}

void TCustomWSocket::BindLocal() {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(m_localPortNum));
    local.sin_addr.s_addr = WSocketResolveHost(m_localAddr);
    if (winsock::Bind(m_hSocket, local) < 0) {
        RaiseException("winsock.bind failed, error #" + std::to_string(winsock::WSAGetLastError()));
        return;
    }
    if (winsock::GetSockName(m_hSocket, &local) < 0) {
        RaiseException("winsock.getsockname failed, error #" +
                       std::to_string(winsock::WSAGetLastError()));
        return;
    }
    m_localPortNum = ntohs(local.sin_port);
    m_localPort = std::to_string(m_localPortNum);
}

void TCustomWSocket::SetLingerOption() {
    if (m_lingerOnOff == wsLingerNoSet) return;
    if (m_hSocket == INVALID_SOCKET) {
        RaiseException("Cannot set linger option at this time");
        return;
    }
    if (winsock::SetLinger(m_hSocket, m_lingerOnOff == wsLingerOn, m_lingerTimeout) < 0)
        RaiseSocketError("setsockopt(SO_LINGER)");
}

bool TCustomWSocket::ListenPreconditions() {
    const char* missing = !m_portAssigned    ? "listen: port not assigned"
                          : !m_protoAssigned ? "listen: protocol not assigned"
                          : !m_addrAssigned  ? "listen: address not assigned"
                                             : nullptr;
    if (missing == nullptr) return true;
    winsock::WSASetLastError(WSAEINVAL);
    RaiseSocketError(missing);
    return false;
}

void TCustomWSocket::Listen() {
    if (!ListenPreconditions()) return;
    try {
        ResolveForConnect(false);
    } catch (const ESocketException& e) {
        RaiseException(std::string("listen: ") + e.what());
        return;
    }
    m_sendQueue.Clear();
    m_hSocket = winsock::Socket(AF_INET, m_sockType, m_protoNum);
    if (m_hSocket == INVALID_SOCKET) {
        RaiseSocketError("socket");
        return;
    }
    const bool datagram = m_sockType == SOCK_DGRAM;
    // Linux refuses to bind a port that still has connections in TIME_WAIT
    // unless SO_REUSEADDR is set (Windows allows it); a second listener on
    // the same port is refused either way.
    if (!datagram) winsock::SetSockOptInt(m_hSocket, SOL_SOCKET, SO_REUSEADDR, 1);
    if (winsock::Bind(m_hSocket, m_sin) < 0) {
        // The handle is closed before the report, which may throw.
        const int code = winsock::WSAGetLastError();
        CloseHandleNow();
        winsock::WSASetLastError(code);
        RaiseSocketError("Bind");
        Close();
        return;
    }
    ChangeState(wsBound);
    if (datagram) {
        ChangeState(wsListening);
        ChangeState(wsConnected);
        TriggerSessionConnected(0);
    } else {
        if (winsock::Listen(m_hSocket, kListenBacklog) < 0) {
            RaiseSocketError("Listen");
            return;
        }
        ChangeState(wsListening);
    }
    SelectEvents(kListenEvents,
                 datagram ? AsyncSelect::Kind::kDatagram : AsyncSelect::Kind::kListener);
}

TSocket TCustomWSocket::Accept() {
    if (m_state != wsListening) {
        winsock::WSASetLastError(WSAEINVAL);
        RaiseSocketError("not a listening socket");
        return INVALID_SOCKET;
    }
    m_acceptedHandle = winsock::Accept(m_hSocket, &m_sin);
    m_select.AcceptDone();
    if (m_acceptedHandle != INVALID_SOCKET) return m_acceptedHandle;
    // A connection that was reset before we took it leaves nothing to
    // accept; that is no failure of the listening socket.
    const int code = winsock::WSAGetLastError();
    if (code != WSAEWOULDBLOCK && code != WSAECONNABORTED) RaiseSocketError("Accept");
    return INVALID_SOCKET;
}

void TCustomWSocket::Dup(TSocket NewHandle) {
    if (NewHandle == INVALID_SOCKET) {
        winsock::WSASetLastError(WSAEINVAL);
        RaiseSocketError("Dup");
        return;
    }
    if (m_state != wsClosed && m_hSocket != INVALID_SOCKET) {
        m_select.Select(INVALID_SOCKET, 0, m_selectKind);
        if (winsock::CloseSocket(m_hSocket) < 0) {
            RaiseSocketError("Dup (closesocket)");
            return;
        }
        m_hSocket = INVALID_SOCKET;
        ChangeState(wsClosed);
    }
    m_hSocket = NewHandle;
    m_sendShut = m_shutWhenSent = false;
    SetLingerOption();
    SelectEvents(kDupEvents, AsyncSelect::Kind::kStream);
    ChangeState(wsConnected);
}

void TCustomWSocket::SelectEvents(int Mask, AsyncSelect::Kind Kind, bool Connecting) {
    m_selectMask = Mask;
    m_selectKind = Kind;
    m_select.Select(m_hSocket, m_paused ? 0 : Mask, Kind, Connecting);
}

void TCustomWSocket::Pause() {
    m_paused = true;
    m_select.Select(m_hSocket, 0, m_selectKind);
}

// Asks afresh, as after a read: data that waited and a close that came
// while paused are reported, whether or not the handler that paused had
// read anything.
void TCustomWSocket::Resume() {
    m_paused = false;
    m_select.Rearm();
    m_select.Select(m_hSocket, m_selectMask, m_selectKind);
    if (m_writeHeld && m_hSocket != INVALID_SOCKET) {
        m_writeHeld = false;
        PostMessage(WM_ASYNCSELECT, static_cast<std::uintptr_t>(static_cast<unsigned>(m_hSocket)),
                    FD_WRITE);
    }
}

// Closes the handle at once, without shutdown and without events.
void TCustomWSocket::CloseHandleNow() {
    m_select.Select(INVALID_SOCKET, 0, m_selectKind);
    winsock::CloseSocket(m_hSocket);
    m_hSocket = INVALID_SOCKET;
}

void TCustomWSocket::Close() {
    DoClose(true, 0);
}

void TCustomWSocket::DoClose(bool Shut, int Error) {
    if (m_hSocket == INVALID_SOCKET) {
        if (m_state != wsClosed) {
            ChangeState(wsClosed);
            ResetDefaults();
        }
        return;
    }
    if (m_state == wsClosed) return;
    if (Shut) {
        Shutdown(1);
        // Linux resets a connection closed with unread input, and the reset
        // throws away what the peer has not yet read of ours.
        if (m_sockType == SOCK_STREAM) winsock::DiscardInput(m_hSocket);
    }
    m_select.Select(INVALID_SOCKET, 0, m_selectKind);
    const TSocket handle = m_hSocket;
    m_hSocket = INVALID_SOCKET;
    // On Linux close() releases the descriptor even when it reports an
    // error, so there is nothing to retry.
    if (winsock::CloseSocket(handle) < 0) m_lastError = winsock::WSAGetLastError();
    ChangeState(wsClosed);
    if (!m_destroying && !m_closeReported) {
        m_closeReported = true;
        TriggerSessionClosed(Error);
    }
    try {
        ResetDefaults();
    } catch (const std::exception&) {
    }
}

// The abortive close: queued data is dropped and, on a TCP connection, the
// peer gets a reset (linger on with 0 s) instead of the end of the data.
void TCustomWSocket::Abort() {
    CancelDnsLookup();
    m_sendQueue.Clear();
    if (m_state == wsConnected && m_protoNum == kProtoTcp) {
        m_lingerOnOff = wsLingerOn;
        m_lingerTimeout = 0;
        SetLingerOption();
    }
    DoClose(false, 0);
}

void TCustomWSocket::CloseDelayed() {
    PostMessage(WM_CLOSE_DELAYED);
}

void TCustomWSocket::Release() {
    PostMessage(WM_WSOCKET_RELEASE);
}

// 0 ends reading, 1 sending, 2 both. Ending our own reading is not the
// peer's close: no FD_READ or FD_CLOSE follows from it. Bytes Send has
// already taken still go out before the end of sending.
void TCustomWSocket::Shutdown(int How) {
    if (m_hSocket == INVALID_SOCKET) return;
    if (How == SHUT_RD || How == SHUT_RDWR) m_select.ReadShut();
    if (How == SHUT_WR || How == SHUT_RDWR) {
        m_sendShut = true;
        if (m_sendQueue.PendingBytes() > 0) {
            m_shutWhenSent = true;
            if (How == SHUT_WR) return;
            How = SHUT_RD;
        }
    }
    winsock::Shutdown(m_hSocket, How);
}

// The queue has gone out: a shutdown of sending that waited for it follows.
void TCustomWSocket::SendQueueDrained() {
    m_allSent = true;
    if (!m_shutWhenSent) return;
    m_shutWhenSent = false;
    winsock::Shutdown(m_hSocket, SHUT_WR);
}

}  // namespace sitowiak::net

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

// Resolves what has not been resolved since it was assigned. The first
// address to try becomes m_sin.
void TCustomWSocket::ResolveForConnect(bool WithLocalPort) {
    if (!m_protoResolved) {
        m_protoNum = WSocketResolveProto(m_proto);
        m_sockType = m_protoNum == kProtoUdp ? SOCK_DGRAM : SOCK_STREAM;
        m_protoResolved = true;
    }
    if (!m_portResolved) {
        m_portNum = WSocketResolvePort(m_port, m_proto);
        m_portResolved = true;
    }
    if (WithLocalPort && !m_localPortResolved) {
        m_localPortNum = WSocketResolvePort(m_localPort, m_proto);
        m_localPortResolved = true;
    }
    if (!m_addrResolved) {
        std::vector<sockaddr_storage> addrs = WSocketResolveHostList(m_addr);
        for (const std::string& more : m_addrMore)
            for (const sockaddr_storage& a : WSocketResolveHostList(more)) addrs.push_back(a);
        SetConnectAddresses(std::move(addrs));
    }
    if (m_connectAddrs.empty()) throw ESocketException("no address to connect to");
    m_connectNext = 0;
    m_sin = m_connectAddrs.front();
    winsock::SetAddressPort(&m_sin, m_portNum);
}

void TCustomWSocket::SetConnectAddresses(std::vector<sockaddr_storage> Addrs) {
    m_connectAddrs = std::move(Addrs);
    m_connectNext = 0;
    m_addrResolved = !m_connectAddrs.empty();
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
    ConnectNext(false);
}

// Starts the connection to the next address of the list. One whose
// connection fails at once (no IPv6 on this machine, no route to it) gives
// way to the next. The last address's failure is the one reported: raised
// from Connect as before, or, when Connect has long returned (Late), as
// OnSessionConnected(code) and OnSessionClosed like any failed connection.
void TCustomWSocket::ConnectNext(bool Late) {
    while (m_connectNext < m_connectAddrs.size()) {
        const bool last = m_connectNext + 1 == m_connectAddrs.size();
        m_sin = m_connectAddrs[m_connectNext++];
        winsock::SetAddressPort(&m_sin, m_portNum);
        const int code = TryConnect(Late || !last);
        if (code == 0) return;
        if (last) ConnectFailedLate(code);
    }
}

// One address: 0 when the connection is under way or its failure has been
// reported; with Quiet, the code of a failure that was not reported (the
// handle is closed again, the state left for the next try).
int TCustomWSocket::TryConnect(bool Quiet) {
    m_hSocket = winsock::Socket(m_sin.ss_family, m_sockType, m_protoNum);
    if (m_hSocket == INVALID_SOCKET) {
        if (Quiet) return winsock::WSAGetLastError();
        RaiseSocketError("Connect (socket)");
        return 0;
    }
    // A connect that fails before it is under way (an unreachable network,
    // a refused option) closes its handle before the failure is reported:
    // nothing would ever report on that handle again.
    int result = 0;
    try {
        result = StartConnect(Quiet);
    } catch (...) {
        AbandonHandle();
        throw;
    }
    if (result > 0) {
        CloseHandleNow();
        return result;
    }
    if (result < 0) {
        AbandonHandle();
        return 0;
    }
    if (m_sockType == SOCK_DGRAM) {
        ChangeState(wsConnected);
        TriggerSessionConnected(0);
        return 0;
    }
    m_select.ConnectStarted();
    ChangeState(wsConnecting);
    return 0;
}

// Every address has failed after Connect returned: the same events as a
// connection that the network refused.
void TCustomWSocket::ConnectFailedLate(int Code) {
    m_lastError = Code;
    ChangeState(wsConnected);
    TriggerSessionConnected(Code);
    if (m_state == wsClosed) return;
    if (m_hSocket != INVALID_SOCKET) {
        Close();
        return;
    }
    ChangeState(wsClosed);
    if (!m_destroying && !m_closeReported) {
        m_closeReported = true;
        TriggerSessionClosed(0);
    }
    ResetDefaults();
}

// Prepares the new handle and starts the connection: 0 when it is under
// way, -1 when a step failed and was reported to an OnError handler, and
// with Quiet the code of a connect that failed at once, not reported.
int TCustomWSocket::StartConnect(bool Quiet) {
    ChangeState(wsOpened);
    const bool datagram = m_sockType == SOCK_DGRAM;
    if (datagram) {
        BindLocal();
        sockaddr_in v4{};
        if (winsock::ToIPv4(m_sin, &v4) && v4.sin_addr.s_addr == kInAddrNone &&
            winsock::SetSockOptInt(m_hSocket, SOL_SOCKET, SO_BROADCAST, 1) < 0) {
            RaiseSocketError("setsockopt(SO_BROADCAST)");
            return -1;
        }
    } else if (!PrepareStreamSocket()) {
        return -1;
    }
    // A stream socket is watched for the connect's end from the start: one
    // registration instead of one for reading and a change for the connect.
    SelectEvents(kConnectEvents,
                 datagram ? AsyncSelect::Kind::kDatagram : AsyncSelect::Kind::kStream, !datagram);
    if (datagram || winsock::Connect(m_hSocket, m_sin) == 0) return 0;
    const int code = winsock::WSAGetLastError();
    if (code == WSAEWOULDBLOCK || code == kInProgress) return 0;
    if (Quiet) return code;
    m_lastError = code;
    RaiseSocketError("Connect");
    return -1;
}

// Closes a handle whose connection never got under way: state wsClosed and
// the defaults back, but no OnSessionClosed (there was no session).
void TCustomWSocket::AbandonHandle() {
    if (m_hSocket != INVALID_SOCKET) CloseHandleNow();
    DoClose(false, 0);
}

// The local address in the family of the connection: the any-address of
// either family binds every interface of the connection's own. A specific
// address of the other family is left to the kernel to refuse (10047).
void TCustomWSocket::BindLocal() {
    sockaddr_storage local = WSocketResolveHostList(m_localAddr).front();
    if (winsock::IsAnyAddress(local)) local = winsock::AnyAddress(m_sin.ss_family);
    winsock::SetAddressPort(&local, m_localPortNum);
    if (winsock::Bind(m_hSocket, local) < 0) {
        RaiseException("winsock.bind failed, error #" + std::to_string(winsock::WSAGetLastError()));
        return;
    }
    if (winsock::GetSockName(m_hSocket, &local) < 0) {
        RaiseException("winsock.getsockname failed, error #" +
                       std::to_string(winsock::WSAGetLastError()));
        return;
    }
    m_localPortNum = winsock::AddressPort(local);
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
    m_hSocket = OpenListeningSocket();
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

// The handle Listen binds. An IPv6 one takes IPv4 connections too (as
// IPv4-mapped addresses): IPV6_V6ONLY is switched off whatever the system's
// default. Where the machine has no IPv6 at all, "::" becomes 0.0.0.0.
TSocket TCustomWSocket::OpenListeningSocket() {
    TSocket s = winsock::Socket(m_sin.ss_family, m_sockType, m_protoNum);
    if (s == INVALID_SOCKET && m_sin.ss_family == AF_INET6 && winsock::IsAnyAddress(m_sin)) {
        const int port = winsock::AddressPort(m_sin);
        m_sin = winsock::AnyAddress(AF_INET);
        winsock::SetAddressPort(&m_sin, port);
        s = winsock::Socket(AF_INET, m_sockType, m_protoNum);
    }
    if (s != INVALID_SOCKET && m_sin.ss_family == AF_INET6)
        winsock::SetSockOptInt(s, IPPROTO_IPV6, IPV6_V6ONLY, 0);
    return s;
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
        // No shutdown call: the close below ends sending the same way, its
        // FIN after what the kernel still holds.
        // Linux resets a connection closed with unread input, and the reset
        // throws away what the peer has not yet read of ours. After the
        // peer's end there is none.
        if (m_sockType == SOCK_STREAM && !m_select.EndSeen()) winsock::DiscardInput(m_hSocket);
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

// TCustomWSocket: sending, receiving and the addresses of a connection.
#include <sys/socket.h>

#include "net/TCustomWSocket.h"
#include "net/WSocketResolve.h"

namespace sitowiak::net {

namespace {

// Size of the reads that discard data nobody asked for.
constexpr int kDiscardChunk = 1024;
// ReceiveStr reads this much when the socket cannot say how much waits.
constexpr int kDefaultReceiveSize = 255;

}  // namespace

int TCustomWSocket::Send(const void* Data, int Len) {
    if (m_state != wsConnected) {
        winsock::WSASetLastError(WSAENOTCONN);
        RaiseSocketError("Send");
        return -1;
    }
    m_allSent = false;
    if (Len > 0)
        m_sendQueue.Append(Data, Len);
    else
        Len = 0;
    TryToSend();
    // Everything went out at once: OnDataSent still comes after the caller
    // has returned, through a write notification posted to ourselves.
    if (m_allSent && m_hSocket != INVALID_SOCKET)
        PostMessage(WM_ASYNCSELECT, static_cast<std::uintptr_t>(static_cast<unsigned>(m_hSocket)),
                    FD_WRITE);
    return Len;
}

int TCustomWSocket::SendStr(const std::string& Str) {
    if (Str.empty()) return 0;
    return Send(Str.data(), static_cast<int>(Str.size()));
}

int TCustomWSocket::SendTo(const sockaddr_in& Dest, const void* Data, int Len) {
    const int n = winsock::SendTo(m_hSocket, Data, Len, m_sendFlags, Dest);
    if (n < 0)
        m_lastError = winsock::WSAGetLastError();
    else if (n > 0 && OnSendData)
        OnSendData(this, n);
    return n;
}

// Codes that mean the connection is gone: close quietly and report it once.
bool TCustomWSocket::SendFailed(int Code) {
    switch (Code) {
        case WSAEINVAL:
        case WSAENOTSOCK:
        case WSAECONNABORTED:
        case WSAECONNRESET:
        case WSAENOTCONN:
            m_closeReported = true;
            Close();
            TriggerSessionClosed(Code);
            return true;
        default:
            return false;
    }
}

// Writes from the front of the queue until it is empty or the network is
// full. Not re-entered: a Send from an OnSendData handler only appends, and
// the running pass sends it.
void TCustomWSocket::TryToSend() {
    if (m_hSocket == INVALID_SOCKET || m_inTryToSend) return;
    if (!m_sendQueue.HasBlocks()) {
        // Nothing was ever queued (a zero-byte Send): nothing waits.
        m_allSent = true;
        return;
    }
    m_inTryToSend = true;
    for (;;) {
        std::int32_t len = 0;
        const std::uint8_t* data = m_sendQueue.Front(len);
        if (len == 0) {
            if (m_sendQueue.AdvanceDrained()) continue;
            m_allSent = true;
            break;
        }
        const int n = RawWrite(data, len);
        if (n < 0) {
            const int code = winsock::WSAGetLastError();
            m_inTryToSend = false;
            if (code == WSAEWOULDBLOCK) {
                m_select.WouldBlock();
            } else if (!SendFailed(code)) {
                winsock::WSASetLastError(code);
                RaiseSocketError("TryToSend failed");
            }
            return;
        }
        m_sendQueue.Consume(n);
        if (m_hSocket == INVALID_SOCKET) break;  // closed by OnSendData
        if (n < len) {
            m_select.WouldBlock();
            break;
        }
    }
    m_inTryToSend = false;
}

int TCustomWSocket::RawWrite(const void* Data, int Len) {
    const int n = m_sockType == SOCK_DGRAM
                      ? winsock::SendTo(m_hSocket, Data, Len, m_sendFlags, m_sin)
                      : winsock::Send(m_hSocket, Data, Len, m_sendFlags);
    if (n > 0 && OnSendData) OnSendData(this, n);
    return n;
}

void TCustomWSocket::Flush() {
    while (m_hSocket != INVALID_SOCKET && !m_allSent && !m_terminated) {
        TryToSend();
        if (m_allSent || m_hSocket == INVALID_SOCKET) break;
        // Handles pending events, waiting for one when none is there: the
        // write notification of a full network wakes us.
        if (platform::SocketChannel::WaitForEvents()) m_terminated = true;
    }
}

int TCustomWSocket::RawRead(void* Buffer, int BufferSize, int Flags) {
    const int n = winsock::Recv(m_hSocket, Buffer, BufferSize, Flags);
    m_select.ReadDone();
    return n;
}

int TCustomWSocket::RawReadFrom(void* Buffer, int BufferSize, sockaddr_in& From) {
    const int n = winsock::RecvFrom(m_hSocket, Buffer, BufferSize, 0, &From);
    m_select.ReadDone();
    return n;
}

int TCustomWSocket::Receive(void* Buffer, int BufferSize) {
    const int n = RawRead(Buffer, BufferSize, 0);
    if (n < 0)
        m_lastError = winsock::WSAGetLastError();
    else
        m_readCount += n;
    return n;
}

std::string TCustomWSocket::ReceiveStr() {
    int size = GetRcvdCount();
    if (size < 0) return std::string();
    if (size == 0) size = kDefaultReceiveSize;
    std::string text(static_cast<std::size_t>(size), '\0');
    const int n = Receive(text.data(), size);
    if (n <= 0) return std::string();
    text.resize(static_cast<std::size_t>(n));
    return text;
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int BufferSize, sockaddr_in& From) {
    const int n = RawReadFrom(Buffer, BufferSize, From);
    if (n < 0)
        m_lastError = winsock::WSAGetLastError();
    else
        m_readCount += n;
    return n;
}

int TCustomWSocket::GetRcvdCount() {
    const int n = winsock::BytesWaiting(m_hSocket);
    if (n < 0) RaiseSocketError("ioctlSocket");
    return n;
}

// Delivers while bytes wait. An exception from the handler ends this pass
// and is dropped: the socket stays as it is and the next notification
// delivers again.
void TCustomWSocket::ReceiveLoop(int Error, TWSocketOptions Options) {
    try {
        for (;;) {
            m_lastError = 0;
            if (!TriggerDataAvailable(Error)) {
                char discard[kDiscardChunk];
                if (RawRead(discard, kDiscardChunk, 0) < 0) {
                    const int code = winsock::WSAGetLastError();
                    if (code == WSAEWOULDBLOCK) break;
                    m_lastError = code;
                }
            }
            if (Options.Contains(wsoNoReceiveLoop) || m_lastError != 0) break;
            if (m_hSocket == INVALID_SOCKET) break;  // the handler closed it
            const int waiting = winsock::BytesWaiting(m_hSocket);
            if (waiting < 0) m_lastError = winsock::WSAGetLastError();
            if (waiting <= 0) break;
        }
    } catch (const std::exception&) {
        // Ask again at the next pass of the event loop, as if read.
        m_select.ReadDone();
    }
}

void TCustomWSocket::WaitForClose() {
    while (m_hSocket != INVALID_SOCKET && m_state != wsClosed) {
        ProcessPendingEvents();
        if (m_hSocket == INVALID_SOCKET) break;
        const int waiting = winsock::BytesWaiting(m_hSocket);
        if (waiting < 0) break;
        if (waiting > 0) TriggerDataAvailable(0);
        // The end of the connection arrives as FD_CLOSE from the event loop.
        if (m_hSocket != INVALID_SOCKET && m_state != wsClosed)
            platform::SocketChannel::WaitForEvents();
    }
}

std::string TCustomWSocket::PeerAddr() {
    if (m_state != wsConnected) return "error";
    sockaddr_in peer{};
    if (winsock::GetPeerName(m_hSocket, &peer) < 0) {
        RaiseSocketError("GetPeerName");
        return "error";
    }
    return winsock::InetNtoa(peer.sin_addr.s_addr);
}

std::string TCustomWSocket::PeerPort() {
    if (m_state != wsConnected) return "error";
    sockaddr_in peer{};
    if (winsock::GetPeerName(m_hSocket, &peer) < 0) {
        RaiseSocketError("GetPeerPort");
        return "error";
    }
    return std::to_string(ntohs(peer.sin_port));
}

int TCustomWSocket::GetPeerName(sockaddr_in& Name) {
    if (m_state != wsConnected) return SOCKET_ERROR;
    return winsock::GetPeerName(m_hSocket, &Name);
}

int TCustomWSocket::GetSockName(sockaddr_in& Name) {
    return winsock::GetSockName(m_hSocket, &Name);
}

std::string TCustomWSocket::SockLocalAddr() {
    if (m_state != wsBound && m_state != wsConnected && m_state != wsListening) return "error";
    sockaddr_in local{};
    if (winsock::GetSockName(m_hSocket, &local) < 0) return "error";
    return winsock::InetNtoa(local.sin_addr.s_addr);
}

std::string TCustomWSocket::SockLocalPort() {
    if (m_state != wsBound && m_state != wsConnected && m_state != wsListening) return "error";
    sockaddr_in local{};
    if (winsock::GetSockName(m_hSocket, &local) < 0) return "error";
    return std::to_string(ntohs(local.sin_port));
}

}  // namespace sitowiak::net

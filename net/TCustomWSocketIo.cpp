// TCustomWSocket: sending, receiving and the addresses of a connection.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "net/TCustomWSocket.h"
#include "net/WSocketResolve.h"

namespace sitowiak::net {

namespace {

// Size of the reads that discard data nobody asked for.
constexpr int kDiscardChunk = 1024;
// Blocks gathered into one network write (about 96 KiB).
constexpr int kMaxRunsPerWrite = 64;
// ReceiveStr reads this much when the socket cannot say how much waits.
constexpr int kDefaultReceiveSize = 255;
// Flush looks at its deadline at least this often (a long FlushTimeout
// does not fit one wait).
constexpr std::int64_t kLongestWaitMs = 60 * 1000;

// An address for callers that hold only a sockaddr_in: IPv4 and
// IPv4-mapped in full; IPv6 gets its family and port, the address zero.
void NarrowAddress(const sockaddr_storage& wide, sockaddr_in* narrow) {
    if (winsock::ToIPv4(wide, narrow)) return;
    *narrow = sockaddr_in{};
    narrow->sin_family = wide.ss_family;
    narrow->sin_port = htons(static_cast<std::uint16_t>(winsock::AddressPort(wide)));
}

}  // namespace

int TCustomWSocket::Send(const void* Data, int Len) {
    if (m_state != wsConnected) {
        winsock::WSASetLastError(WSAENOTCONN);
        RaiseSocketError("Send");
        return -1;
    }
    // After Shutdown of sending nothing more is taken, as the write would
    // be refused ("Can't send after socket shutdown").
    if (m_sendShut) {
        winsock::WSASetLastError(WSAESHUTDOWN);
        RaiseSocketError("TryToSend failed");
        return -1;
    }
    m_allSent = false;
    if (Len < 0) Len = 0;
    const int direct = WriteDirect(Data, Len);
    if (direct < 0) return Len;  // the connection ended inside the write
    if (direct < Len) m_sendQueue.Append(static_cast<const char*>(Data) + direct, Len - direct);
    // Raised once the rest is queued, so a Send from the handler goes after it.
    if (direct > 0 && OnSendData) OnSendData(this, direct);
    TryToSend();
    // Everything went out at once: OnDataSent still comes after the caller
    // has returned, through a write notification posted to ourselves.
    if (m_allSent && m_hSocket != INVALID_SOCKET)
        PostMessage(WM_ASYNCSELECT, static_cast<std::uintptr_t>(static_cast<unsigned>(m_hSocket)),
                    FD_WRITE);
    return Len;
}

// With nothing queued, bytes go to the network straight from the caller's
// buffer; only what the network does not take is copied into the queue.
// Returns the count written, or -1 when the write ended the connection.
int TCustomWSocket::WriteDirect(const void* Data, int Len) {
    if (Len == 0 || m_sendQueue.PendingBytes() > 0 || m_inTryToSend || m_sockType == SOCK_DGRAM)
        return 0;
    const int n = winsock::Send(m_hSocket, Data, Len, m_sendFlags);
    if (n > 0) m_bytesWritten += n;
    if (n >= 0) return n;
    const int code = winsock::WSAGetLastError();
    if (code == WSAEWOULDBLOCK) return 0;
    if (SendFailed(code)) return -1;
    winsock::WSASetLastError(code);
    RaiseSocketError("TryToSend failed");
    return -1;
}

int TCustomWSocket::SendStr(const std::string& Str) {
    if (Str.empty()) return 0;
    return Send(Str.data(), static_cast<int>(Str.size()));
}

int TCustomWSocket::SendTo(const sockaddr_in& Dest, const void* Data, int Len) {
    sockaddr_storage dest{};
    std::memcpy(&dest, &Dest, sizeof Dest);
    return SendTo(dest, Data, Len);
}

int TCustomWSocket::SendTo(const sockaddr_storage& Dest, const void* Data, int Len) {
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
// full, gathering several blocks into each write. Not re-entered: a Send
// from an OnSendData handler only appends, and the running pass sends it.
void TCustomWSocket::TryToSend() {
    if (m_hSocket == INVALID_SOCKET || m_inTryToSend) return;
    if (!m_sendQueue.HasBlocks()) {
        // Nothing was ever queued (a zero-byte Send): nothing waits.
        m_allSent = true;
        return;
    }
    m_inTryToSend = true;
    for (;;) {
        iovec runs[kMaxRunsPerWrite];
        const int count = m_sendQueue.Gather(runs, kMaxRunsPerWrite);
        if (count == 0) {
            m_sendQueue.AdvanceDrained();
            SendQueueDrained();
            break;
        }
        std::size_t total = 0;
        for (int i = 0; i < count; ++i) total += runs[i].iov_len;
        const int n = RawWriteV(runs, count);
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
        m_sendQueue.ConsumeAcross(n);
        if (m_hSocket == INVALID_SOCKET) break;  // closed by OnSendData
        if (static_cast<std::size_t>(n) < total) {
            m_select.WouldBlock();  // the network is full: FD_WRITE resumes
            break;
        }
    }
    m_inTryToSend = false;
}

int TCustomWSocket::RawWrite(const void* Data, int Len) {
    const int n = m_sockType == SOCK_DGRAM
                      ? winsock::SendTo(m_hSocket, Data, Len, m_sendFlags, m_sin)
                      : winsock::Send(m_hSocket, Data, Len, m_sendFlags);
    if (n > 0) m_bytesWritten += n;
    if (n > 0 && OnSendData) OnSendData(this, n);
    return n;
}

int TCustomWSocket::RawWriteV(const iovec* Runs, int Count) {
    if (m_sockType == SOCK_DGRAM || Count == 1)
        return RawWrite(Runs[0].iov_base, static_cast<int>(Runs[0].iov_len));
    const int n = winsock::SendV(m_hSocket, Runs, Count, m_sendFlags);
    if (n > 0) m_bytesWritten += n;
    if (n > 0 && OnSendData) OnSendData(this, n);
    return n;
}

// Waits at most FlushTimeout seconds (0 or less: without limit) for a peer
// that does not read. On time-out LastError is 10060 and what is left
// stays queued, still going out as the peer reads.
void TCustomWSocket::Flush() {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(m_flushTimeout);
    while (m_hSocket != INVALID_SOCKET && !m_allSent && !m_terminated) {
        TryToSend();
        if (m_allSent || m_hSocket == INVALID_SOCKET) break;
        // Handles pending events, waiting for one when none is there: the
        // write notification of a full network wakes us.
        if (m_flushTimeout <= 0) {
            if (platform::SocketChannel::WaitForEvents()) m_terminated = true;
            continue;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            m_lastError = WSAETIMEDOUT;
            break;
        }
        const auto wait = std::min<std::int64_t>(left.count(), kLongestWaitMs);
        if (platform::SocketChannel::WaitForEvents(static_cast<int>(wait))) m_terminated = true;
    }
}

int TCustomWSocket::RawRead(void* Buffer, int BufferSize, int Flags) {
    const int n = winsock::Recv(m_hSocket, Buffer, BufferSize, Flags);
    m_select.ReadDone();
    if (n > 0) m_bytesTaken += n;
    // A read that got less than it asked for has emptied the socket.
    m_lastReadDrained = n < BufferSize;
    return n;
}

int TCustomWSocket::RawReadFrom(void* Buffer, int BufferSize, sockaddr_storage& From) {
    const int n = winsock::RecvFrom(m_hSocket, Buffer, BufferSize, 0, &From);
    m_select.ReadDone();
    if (n > 0) m_bytesTaken += n;
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
    sockaddr_storage from{};
    const int n = ReceiveFrom(Buffer, BufferSize, from);
    if (n >= 0) NarrowAddress(from, &From);
    return n;
}

int TCustomWSocket::ReceiveFrom(void* Buffer, int BufferSize, sockaddr_storage& From) {
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

int TCustomWSocket::WaitingByteCount() const {
    return m_hSocket == INVALID_SOCKET ? -1 : winsock::BytesWaiting(m_hSocket);
}

void TCustomWSocket::SetNoDelay(bool On) {
    if (m_hSocket != INVALID_SOCKET)
        winsock::SetSockOptInt(m_hSocket, IPPROTO_TCP, TCP_NODELAY, On ? 1 : 0);
}

void TCustomWSocket::SetCork(bool On) {
    if (m_hSocket != INVALID_SOCKET)
        winsock::SetSockOptInt(m_hSocket, IPPROTO_TCP, TCP_CORK, On ? 1 : 0);
}

// Delivers while bytes wait. An exception from the handler ends this pass
// and is dropped: the socket stays as it is and the next notification
// delivers again. A pass that takes nothing from the socket ends the loop
// too: asking again at once would only spin. The bytes are offered again
// after the next read, or after Resume.
void TCustomWSocket::ReceiveLoop(int Error, TWSocketOptions Options) {
    try {
        for (;;) {
            m_lastError = 0;
            m_lastReadDrained = false;
            const std::int64_t takenBefore = m_bytesTaken;
            if (!TriggerDataAvailable(Error)) {
                char discard[kDiscardChunk];
                if (RawRead(discard, kDiscardChunk, 0) < 0) {
                    const int code = winsock::WSAGetLastError();
                    if (code == WSAEWOULDBLOCK) break;
                    m_lastError = code;
                }
            }
            if (Options.Contains(wsoNoReceiveLoop) || m_lastError != 0 || m_paused) break;
            if (m_hSocket == INVALID_SOCKET) break;  // the handler closed it
            if (m_bytesTaken == takenBefore) break;
            // The handler's last read emptied the socket: as good as a
            // FIONREAD of 0 (what arrives later is the next notification).
            if (m_lastReadDrained) break;
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
    sockaddr_storage peer{};
    if (winsock::GetPeerName(m_hSocket, &peer) < 0) {
        RaiseSocketError("GetPeerName");
        return "error";
    }
    return winsock::AddressText(peer);
}

std::string TCustomWSocket::PeerPort() {
    if (m_state != wsConnected) return "error";
    sockaddr_storage peer{};
    if (winsock::GetPeerName(m_hSocket, &peer) < 0) {
        RaiseSocketError("GetPeerPort");
        return "error";
    }
    return std::to_string(winsock::AddressPort(peer));
}

int TCustomWSocket::GetPeerName(sockaddr_storage& Name) {
    if (m_state != wsConnected) return SOCKET_ERROR;
    return winsock::GetPeerName(m_hSocket, &Name);
}

int TCustomWSocket::GetSockName(sockaddr_storage& Name) {
    return winsock::GetSockName(m_hSocket, &Name);
}

int TCustomWSocket::GetPeerName(sockaddr_in& Name) {
    sockaddr_storage peer{};
    const int rc = GetPeerName(peer);
    if (rc == 0) NarrowAddress(peer, &Name);
    return rc;
}

int TCustomWSocket::GetSockName(sockaddr_in& Name) {
    sockaddr_storage local{};
    const int rc = GetSockName(local);
    if (rc == 0) NarrowAddress(local, &Name);
    return rc;
}

std::string TCustomWSocket::SockLocalAddr() {
    if (m_state != wsBound && m_state != wsConnected && m_state != wsListening) return "error";
    sockaddr_storage local{};
    if (winsock::GetSockName(m_hSocket, &local) < 0) return "error";
    return winsock::AddressText(local);
}

std::string TCustomWSocket::SockLocalPort() {
    if (m_state != wsBound && m_state != wsConnected && m_state != wsListening) return "error";
    sockaddr_storage local{};
    if (winsock::GetSockName(m_hSocket, &local) < 0) return "error";
    return std::to_string(winsock::AddressPort(local));
}

}  // namespace sitowiak::net

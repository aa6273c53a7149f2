#include "net/AsyncSelect.h"

#include "net/WSocketTypes.h"

namespace sitowiak::net {

void AsyncSelect::Select(TSocket fd, int mask, Kind kind, bool connecting) {
    if (fd != m_fd) {
        m_connecting = connecting && (mask & FD_CONNECT) != 0;
        m_readArmed = true;
        m_readSuspended = false;
        m_closeSeen = false;
        m_readShut = false;
        m_writeWanted = false;
    }
    m_fd = fd;
    m_mask = fd == INVALID_SOCKET ? 0 : mask;
    m_kind = kind;
    Update();
}

void AsyncSelect::ConnectStarted() {
    m_connecting = (m_mask & FD_CONNECT) != 0;
    Update();
}

void AsyncSelect::ReadDone() {
    m_readArmed = true;
    if (!m_readSuspended) return;
    m_readSuspended = false;
    Update();
}

void AsyncSelect::Rearm() {
    m_readArmed = true;
    m_readSuspended = false;
    Update();
}

void AsyncSelect::ReadShut() {
    m_readShut = true;
    Update();
}

void AsyncSelect::AcceptDone() {
    ReadDone();
}

void AsyncSelect::WouldBlock() {
    if (m_writeWanted) return;
    m_writeWanted = true;
    Update();
}

void AsyncSelect::Update() {
    if (m_fd == INVALID_SOCKET) {
        m_channel.Watch(-1, false, false);
        return;
    }
    const bool read = !m_connecting && !m_readSuspended && !m_closeSeen && !m_readShut &&
                      (m_mask & (FD_READ | FD_ACCEPT | FD_CLOSE)) != 0;
    const bool write =
        m_connecting ? (m_mask & FD_CONNECT) != 0 : m_writeWanted && (m_mask & FD_WRITE) != 0;
    m_channel.Watch(m_fd, read, write);
}

void AsyncSelect::OnReady(int fd, bool writable, bool hangup) {
    if (fd != m_fd || m_fd == INVALID_SOCKET) return;
    if (writable)
        Writable();
    else
        Readable(hangup);
}

void AsyncSelect::Writable() {
    if (m_connecting) {
        const int err = winsock::PendingError(m_fd);
        m_connecting = false;
        Update();
        Report(FD_CONNECT, err < 0 ? winsock::WSAGetLastError() : err);
        return;
    }
    m_writeWanted = false;
    Update();
    Report(FD_WRITE, 0);
}

void AsyncSelect::Readable(bool hangup) {
    if (!m_readArmed) {
        // Reported already and not read since: wait for the owner's read.
        m_readSuspended = true;
        Update();
        return;
    }
    if (m_kind != Kind::kStream) {
        m_readArmed = false;
        Report(m_kind == Kind::kListener ? FD_ACCEPT : FD_READ, 0);
        return;
    }
    const int peek = hangup ? winsock::PeekOne(m_fd) : 1;
    if (peek > 0) {
        m_readArmed = false;
        Report(FD_READ, 0);
        return;
    }
    const int err = peek == 0 ? 0 : winsock::WSAGetLastError();
    if (err == WSAEWOULDBLOCK) return;
    m_closeSeen = true;
    Update();
    Report(FD_CLOSE, err);
}

void AsyncSelect::Report(int event, int error) {
    if ((m_mask & event) == 0) return;
    m_deliver(m_fd, event, error);
}

}  // namespace sitowiak::net

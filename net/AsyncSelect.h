// Readiness notifications with the Winsock rules, built on the channel's
// plain readable/writable reports:
//   FD_CONNECT  once, when a started connect completes (error from SO_ERROR);
//               nothing else is reported while connecting.
//   FD_READ     when data waits; then not again until the owner reads
//               (ReadDone), so a handler that leaves bytes is asked again
//               after its next read, as with Winsock. (The read watcher is
//               switched off only when readiness comes while not re-armed:
//               a handler that reads costs no watcher changes.)
//   FD_CLOSE    once, when a peek at a readable socket reads 0 bytes (the
//               peer's end) or fails (the error, e.g. 10054). The peek is
//               made only when the readiness report signals an end or an
//               error; otherwise readable means data.
//   FD_ACCEPT   when a connection waits; again after each AcceptDone.
//   FD_WRITE    only after a send would have blocked (WouldBlock), once room
//               appears. Write interest is on only while bytes wait.
// An event left out of the mask is not watched for, so nothing is lost
// while a socket is paused (mask 0): a connect that completes meanwhile is
// reported once FD_CONNECT is selected again. Rearm asks afresh for FD_READ
// as a read would. After ReadShut (our own shutdown of reading) neither
// FD_READ nor FD_CLOSE is reported: the kernel shows a locally shut read
// side exactly like the peer's end, so the peer's end cannot be seen then.
// Each report goes to the deliver function as (fd, event, error code).
#pragma once

#include <functional>

#include "net/WSocketBinding.h"
#include "platform/events/SocketChannel.h"

namespace sitowiak::net {

class AsyncSelect {
public:
    enum class Kind { kStream, kListener, kDatagram };
    using Deliver = std::function<void(TSocket fd, int event, int error)>;

    AsyncSelect(platform::SocketChannel& channel, Deliver deliver)
        : m_channel(channel), m_deliver(std::move(deliver)) {}

    // Requests the events of mask for fd (mask 0: none, INVALID_SOCKET:
    // forget the descriptor; call it before the descriptor is closed). The
    // per-connection state starts afresh only when the descriptor changes;
    // connecting: a new descriptor is about to connect (ConnectStarted
    // follows), so it is watched for that alone from the start.
    void Select(TSocket fd, int mask, Kind kind, bool connecting = false);
    // A non-blocking connect was started on the selected descriptor.
    void ConnectStarted();
    void ReadDone();
    void Rearm();
    void ReadShut();
    void AcceptDone();
    void WouldBlock();
    // The peer's end or an error was seen: nothing more can be read.
    bool EndSeen() const { return m_closeSeen; }

    // Readiness from the channel.
    void OnReady(int fd, bool writable, bool hangup);

private:
    void Update();
    void Readable(bool hangup);
    void Writable();
    void Report(int event, int error);

    platform::SocketChannel& m_channel;
    Deliver m_deliver;
    TSocket m_fd = INVALID_SOCKET;
    int m_mask = 0;
    Kind m_kind = Kind::kStream;
    bool m_connecting = false;
    bool m_readArmed = true;
    bool m_readSuspended = false;
    bool m_closeSeen = false;
    bool m_readShut = false;
    bool m_writeWanted = false;
};

}  // namespace sitowiak::net

// The QObject behind a SocketChannel: receives posted messages as custom
// events; readiness of its descriptor comes from the ReadinessReactor.
#pragma once

#include <QEvent>
#include <QObject>
#include <cstdint>

#include "platform/events/SocketChannel.h"

namespace sitowiak::platform {

class ChannelObject : public QObject {
    Q_OBJECT
public:
    ChannelObject(SocketChannel::MessageHandler onMessage, SocketChannel::ReadyHandler onReady);
    ~ChannelObject() override;

    void Watch(int fd, bool read, bool write);
    // Forgets the handlers: after this nothing reaches the owner.
    void Detach();
    // True while a handler of this object runs (the owner may be destroying
    // itself from inside it, so the object must outlive the call).
    bool Dispatching() const { return m_depth > 0; }
    // Called instead of delete while Dispatching(): the object deletes
    // itself once the running handler has returned.
    void Orphan() { m_orphan = true; }

    static QEvent::Type MessageEventType();
    // Readiness of the watched descriptor (from the reactor).
    void Ready(bool writable, bool hangup);
    // A posted message, from Qt's queue or the reactor's.
    void Deliver(const ChannelMessage& message);

protected:
    bool event(QEvent* e) override;

private:
    void LeaveHandler();

    SocketChannel::MessageHandler m_onMessage;
    SocketChannel::ReadyHandler m_onReady;
    int m_fd = -1;
    int m_watchedFd = -1;
    std::uint64_t m_token = 0;
    int m_depth = 0;
    bool m_orphan = false;
};

}  // namespace sitowiak::platform

// The QObject behind a SocketChannel: receives posted messages as custom
// events and owns the two socket notifiers of the watched descriptor.
#pragma once

#include <QEvent>
#include <QObject>
#include <QSocketNotifier>

#include "platform/events/SocketChannel.h"

namespace sitowiak::platform {

class ChannelObject : public QObject {
    Q_OBJECT
  public:
    ChannelObject(SocketChannel::MessageHandler onMessage, SocketChannel::ReadyHandler onReady);

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

  protected:
    bool event(QEvent* e) override;

  private:
    void Ready(bool writable);
    void DropNotifiers();
    void LeaveHandler();

    SocketChannel::MessageHandler m_onMessage;
    SocketChannel::ReadyHandler m_onReady;
    int m_fd = -1;
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_write = nullptr;
    int m_depth = 0;
    bool m_orphan = false;
};

}  // namespace sitowiak::platform

#include "platform/events/SocketChannel.h"

#include <algorithm>
#include <mutex>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include "platform/events/ChannelObject.h"
#include "platform/events/ReadinessReactor.h"

namespace sitowiak::platform {

namespace {

// Messages channels have posted to themselves through Qt's queue and that
// are still there (GUI thread only). While any waits, new ones go the same
// way, behind it: posted messages keep their order.
int g_selfPostsQueued = 0;

class MessageEvent : public QEvent {
public:
    MessageEvent(const ChannelMessage& m, bool selfPost)
        : QEvent(ChannelObject::MessageEventType()), message(m), m_selfPost(selfPost) {
        if (m_selfPost) ++g_selfPostsQueued;
    }
    // Also when the target went first and Qt drops the event undelivered.
    ~MessageEvent() override {
        if (m_selfPost) --g_selfPostsQueued;
    }
    MessageEvent(const MessageEvent&) = delete;
    MessageEvent& operator=(const MessageEvent&) = delete;
    ChannelMessage message;

private:
    bool m_selfPost;
};

void PostToSelf(ChannelObject* target, const ChannelMessage& message) {
    ReadinessReactor* reactor = ReadinessReactor::Instance();
    if (g_selfPostsQueued == 0 && reactor != nullptr && reactor->Defer(target, message)) return;
    QCoreApplication::postEvent(target, new MessageEvent(message, true));
}

// A nested event loop first runs what waits for the end of a dispatch: its
// caller may be waiting for exactly that.
void RunDeferred() {
    if (ReadinessReactor* reactor = ReadinessReactor::Instance()) reactor->RunDeferred();
}

}  // namespace

// The mailbox state lives as long as any poster holds it; the target is
// cleared under the lock before the channel's object goes away, so a worker
// thread never posts to a destroyed object.
struct ChannelMailbox::State {
    std::mutex lock;
    ChannelObject* target = nullptr;
};

bool ChannelMailbox::Post(const ChannelMessage& message) {
    if (!m_state) return false;
    std::lock_guard<std::mutex> guard(m_state->lock);
    if (m_state->target == nullptr) return false;
    QCoreApplication::postEvent(m_state->target, new MessageEvent(message, false));
    return true;
}

ChannelObject::ChannelObject(SocketChannel::MessageHandler onMessage,
                             SocketChannel::ReadyHandler onReady)
    : m_onMessage(std::move(onMessage)), m_onReady(std::move(onReady)) {}

QEvent::Type ChannelObject::MessageEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool ChannelObject::event(QEvent* e) {
    if (e->type() != MessageEventType()) return QObject::event(e);
    Deliver(static_cast<MessageEvent*>(e)->message);
    return true;
}

void ChannelObject::Deliver(const ChannelMessage& message) {
    if (!m_onMessage) return;
    ++m_depth;
    // Copy: the handler may destroy the owner, which detaches us.
    auto handler = m_onMessage;
    handler(message);
    LeaveHandler();
}

void ChannelObject::LeaveHandler() {
    if (--m_depth == 0 && m_orphan) deleteLater();
}

void ChannelObject::Ready(bool writable, bool hangup) {
    if (!m_onReady) return;
    ++m_depth;
    auto handler = m_onReady;
    handler(m_fd, writable, hangup);
    LeaveHandler();
}

void ChannelObject::Watch(int fd, bool read, bool write) {
    m_fd = fd;
    if (ReadinessReactor* reactor = ReadinessReactor::Instance())
        reactor->Watch(this, m_token, m_watchedFd, fd, read, write);
}

ChannelObject::~ChannelObject() {
    Detach();
}

void ChannelObject::Detach() {
    m_onMessage = nullptr;
    m_onReady = nullptr;
    Watch(-1, false, false);
    if (ReadinessReactor* reactor = ReadinessReactor::Instance()) reactor->Forget(this);
}

SocketChannel::SocketChannel(MessageHandler onMessage, ReadyHandler onReady)
    : m_object(new ChannelObject(std::move(onMessage), std::move(onReady))) {
    m_mailbox.m_state = std::make_shared<ChannelMailbox::State>();
    m_mailbox.m_state->target = m_object;
}

SocketChannel::~SocketChannel() {
    {
        std::lock_guard<std::mutex> guard(m_mailbox.m_state->lock);
        m_mailbox.m_state->target = nullptr;
    }
    m_object->Detach();
    // A channel destroyed from inside one of its own handlers (a socket that
    // releases itself) must leave its object alive until that handler has
    // returned; the object then deletes itself.
    if (m_object->Dispatching()) {
        m_object->Orphan();
        return;
    }
    delete m_object;
}

void SocketChannel::Post(const ChannelMessage& message) {
    PostToSelf(m_object, message);
}

void SocketChannel::PostDelayed(const ChannelMessage& message, int delayMs) {
    ChannelObject* target = m_object;
    // The timer belongs to the object: it is cancelled when the object goes.
    QTimer::singleShot(std::max(delayMs, 0), target,
                       [target, message] { PostToSelf(target, message); });
}

ChannelMailbox SocketChannel::Mailbox() const {
    return m_mailbox;
}

void SocketChannel::Watch(int fd, bool read, bool write) {
    m_object->Watch(fd, read, write);
}

bool SocketChannel::ProcessPendingEvents() {
    if (QCoreApplication::instance() == nullptr) return true;
    RunDeferred();
    QCoreApplication::processEvents();
    return QCoreApplication::closingDown();
}

bool SocketChannel::WaitForEvents() {
    if (QCoreApplication::instance() == nullptr) return true;
    RunDeferred();
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return QCoreApplication::closingDown();
}

bool SocketChannel::WaitForEvents(int maxMs) {
    if (QCoreApplication::instance() == nullptr) return true;
    RunDeferred();
    QTimer wake;  // its timeout is an event: the wait ends by then
    wake.setSingleShot(true);
    wake.start(std::max(maxMs, 0));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return QCoreApplication::closingDown();
}

}  // namespace sitowiak::platform

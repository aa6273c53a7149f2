// Readiness of every watched socket of the GUI thread through one epoll
// descriptor, which a single QSocketNotifier watches (or, on glib, a glib
// source of the reactor's own: GlibLoopPoll). With one notifier per
// socket the event loop polls every socket on every pass; here a pass costs
// only the sockets that are ready, so thousands of idle connections cost
// nothing. Level-triggered, like the notifiers it stands for. Where Qt's
// loop runs on glib, the loop waits in this epoll descriptor itself, so a
// wake-up costs one system call and no Qt event.
//
// Messages a channel posts to itself while readiness is dispatched wait
// here, not in Qt's queue, and run once the handlers of the batch have
// returned: a request and its reply then cost no wake-up write and read and
// no extra pass of the event loop each.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>

#include <QObject>
#include <QSocketNotifier>

#include "platform/events/SocketChannel.h"

namespace sitowiak::platform {

class ChannelObject;
class GlibLoopPoll;

class ReadinessReactor : public QObject {
    Q_OBJECT
public:
    // The reactor of the application's thread, made on first use (owned by
    // the application object); nullptr without an application.
    static ReadinessReactor* Instance();
    ~ReadinessReactor() override;

    // Watches fd for the channel (read and/or write); both false or fd < 0
    // stops watching. token and watchedFd are the channel's record of its
    // registration (0 and -1 when none), kept up to date here.
    void Watch(ChannelObject* channel, std::uint64_t& token, int& watchedFd, int fd, bool read,
               bool write);

    // Keeps a message for the end of the running dispatch; false when no
    // dispatch runs (the caller posts it through Qt instead).
    bool Defer(ChannelObject* target, const ChannelMessage& message);
    // Drops the kept messages of a channel that is going away.
    void Forget(ChannelObject* target);
    // Runs the kept messages, oldest first, with those their handlers post.
    // Also called before a nested event loop waits, which must not wait for
    // a message kept here.
    void RunDeferred();

protected:
    bool event(QEvent* e) override;

private:
    explicit ReadinessReactor(QObject* parent);
    void Dispatch();

    struct Entry {
        ChannelObject* channel;
        int fd;
        bool read;
        bool write;
    };
    int m_epoll = -1;
    QSocketNotifier* m_notifier = nullptr;  // without glib only
    // The loop's one wait, when Qt's loop runs on glib (else null).
    std::unique_ptr<GlibLoopPoll> m_loopPoll;
    std::unordered_map<std::uint64_t, Entry> m_entries;
    std::uint64_t m_nextToken = 1;

    struct Deferred {
        ChannelObject* target;  // nullptr once forgotten
        ChannelMessage message;
    };
    std::deque<Deferred> m_deferred;
    int m_dispatching = 0;       // depth of running dispatches (nested loops)
    bool m_resumePosted = false;  // a long run goes on from Qt's queue
};

}  // namespace sitowiak::platform

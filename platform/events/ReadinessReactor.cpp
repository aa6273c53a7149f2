#include "platform/events/ReadinessReactor.h"

#include <sys/epoll.h>
#include <unistd.h>
#include <cerrno>

#include <QCoreApplication>

#include "platform/events/ChannelObject.h"
#include "platform/events/GlibLoopPoll.h"

namespace sitowiak::platform {

namespace {
// Events taken from the kernel per pass of the event loop; more wait for
// the next pass (the descriptor stays readable).
constexpr int kEventsPerPass = 256;
// Kept messages run per dispatch; a handler that keeps posting to itself
// goes on in a later pass, so readiness and timers are not starved.
constexpr int kDeferredPerPass = 4096;
ReadinessReactor* g_reactor = nullptr;

QEvent::Type ResumeEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// Counts a running dispatch, also when a handler throws.
class DispatchScope {
public:
    explicit DispatchScope(int& depth) : m_depth(depth) { ++m_depth; }
    ~DispatchScope() { --m_depth; }
    DispatchScope(const DispatchScope&) = delete;
    DispatchScope& operator=(const DispatchScope&) = delete;

private:
    int& m_depth;
};
}  // namespace

ReadinessReactor* ReadinessReactor::Instance() {
    if (g_reactor == nullptr && QCoreApplication::instance() != nullptr)
        g_reactor = new ReadinessReactor(QCoreApplication::instance());
    return g_reactor;
}

ReadinessReactor::ReadinessReactor(QObject* parent)
    : QObject(parent), m_epoll(::epoll_create1(EPOLL_CLOEXEC)) {
    m_loopPoll = GlibLoopPoll::Install(m_epoll, [this] { Dispatch(); });
    if (m_loopPoll) return;
    m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { Dispatch(); });
}

ReadinessReactor::~ReadinessReactor() {
    g_reactor = nullptr;
    m_loopPoll.reset();
    delete m_notifier;
    ::close(m_epoll);
}

void ReadinessReactor::Watch(ChannelObject* channel, std::uint64_t& token, int& watchedFd, int fd,
                             bool read, bool write) {
    const bool wanted = fd >= 0 && (read || write);
    if (token != 0 && (!wanted || fd != watchedFd)) {
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, watchedFd, nullptr);
        m_entries.erase(token);
        token = 0;
        watchedFd = -1;
    }
    if (!wanted) return;
    epoll_event ev{};
    ev.events = (read ? EPOLLIN | EPOLLRDHUP : 0u) | (write ? EPOLLOUT : 0u);
    auto it = m_entries.find(token);
    if (it == m_entries.end()) {
        // New, or registered with a reactor that has gone since.
        token = m_nextToken++;
        ev.data.u64 = token;
        // A descriptor number can still be registered when its old socket
        // was closed while a forked child held a copy: take it over.
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev) != 0 && errno == EEXIST)
            ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &ev);
        if (m_loopPoll) m_loopPoll->Claimed(fd);
        m_entries[token] = Entry{channel, fd, read, write};
        watchedFd = fd;
        return;
    }
    Entry& entry = it->second;
    if (entry.read == read && entry.write == write) return;
    ev.data.u64 = token;
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &ev);
    entry.read = read;
    entry.write = write;
}

// Each registration is looked up again before each report: a handler may
// have closed or destroyed any socket, including ones later in the batch.
void ReadinessReactor::Dispatch() {
    DispatchScope scope(m_dispatching);
    epoll_event events[kEventsPerPass];
    // The loop's wait may have found the ready sockets already (copied: a
    // handler's nested loop waits again).
    int n = m_loopPoll ? m_loopPoll->TakeReady(events, kEventsPerPass) : 0;
    if (n == 0) n = ::epoll_wait(m_epoll, events, kEventsPerPass, 0);
    for (int i = 0; i < n; ++i) {
        const std::uint64_t token = events[i].data.u64;
        const std::uint32_t what = events[i].events;
        const bool failed = (what & (EPOLLERR | EPOLLHUP)) != 0;
        const bool hangup = failed || (what & EPOLLRDHUP) != 0;
        auto it = m_entries.find(token);
        if (it != m_entries.end() && it->second.read && (failed || (what & EPOLLIN)))
            it->second.channel->Ready(false, hangup);
        it = m_entries.find(token);
        if (it != m_entries.end() && it->second.write && (failed || (what & EPOLLOUT)))
            it->second.channel->Ready(true, hangup);
    }
    RunDeferred();
}

bool ReadinessReactor::Defer(ChannelObject* target, const ChannelMessage& message) {
    if (m_dispatching == 0) return false;
    m_deferred.push_back({target, message});
    return true;
}

void ReadinessReactor::Forget(ChannelObject* target) {
    for (Deferred& d : m_deferred)
        if (d.target == target) d.target = nullptr;
}

void ReadinessReactor::RunDeferred() {
    DispatchScope scope(m_dispatching);
    for (int run = 0; !m_deferred.empty(); ++run) {
        if (run == kDeferredPerPass) {
            if (!m_resumePosted) QCoreApplication::postEvent(this, new QEvent(ResumeEventType()));
            m_resumePosted = true;
            return;
        }
        // Taken off first: the handler may post more, or forget others.
        Deferred next = m_deferred.front();
        m_deferred.pop_front();
        if (next.target != nullptr) next.target->Deliver(next.message);
    }
}

bool ReadinessReactor::event(QEvent* e) {
    if (e->type() != ResumeEventType()) return QObject::event(e);
    m_resumePosted = false;
    RunDeferred();
    return true;
}

}  // namespace sitowiak::platform

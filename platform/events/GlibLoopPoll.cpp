#include "platform/events/GlibLoopPoll.h"

#include <cerrno>
#include <cstring>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>

namespace sitowiak::platform {

namespace {

GlibLoopPoll* g_active = nullptr;

gint PollThunk(GPollFD* fds, guint count, gint timeout) {
    return g_active->Poll(fds, count, timeout);
}

std::uint32_t ToEpoll(gushort events) {
    std::uint32_t out = 0;
    if (events & G_IO_IN) out |= EPOLLIN;
    if (events & G_IO_OUT) out |= EPOLLOUT;
    if (events & G_IO_PRI) out |= EPOLLPRI;
    return out;
}

gushort ToGlib(std::uint32_t events) {
    gushort out = 0;
    if (events & EPOLLIN) out |= G_IO_IN;
    if (events & EPOLLOUT) out |= G_IO_OUT;
    if (events & EPOLLPRI) out |= G_IO_PRI;
    if (events & EPOLLERR) out |= G_IO_ERR;
    if (events & EPOLLHUP) out |= G_IO_HUP;
    return out;
}

}  // namespace

struct GlibLoopPoll::Source {
    GSource base;  // first: glib allocates and passes the whole struct
    GlibLoopPoll* owner;
};

std::unique_ptr<GlibLoopPoll> GlibLoopPoll::Install(int epollFd, std::function<void()> dispatch) {
    if (g_active != nullptr || epollFd < 0) return nullptr;
    // Qt runs the application thread's loop on glib's default context; a
    // loop on any other dispatcher (QT_NO_GLIB) waits in its own poll().
    const QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() != app->thread()) return nullptr;
    const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr || !dispatcher->inherits("QEventDispatcherGlib")) return nullptr;
    std::unique_ptr<GlibLoopPoll> poll(
        new GlibLoopPoll(epollFd, g_main_context_default(), std::move(dispatch)));
    g_active = poll.get();
    g_main_context_set_poll_func(poll->m_context, &PollThunk);
    return poll;
}

GlibLoopPoll::GlibLoopPoll(int epollFd, GMainContext* context, std::function<void()> dispatch)
    : m_epoll(epollFd),
      m_context(context),
      m_previous(g_main_context_get_poll_func(context)),
      m_dispatch(std::move(dispatch)) {
    m_registered.reserve(8);
    m_wanted.reserve(8);
    m_next.reserve(8);
    static GSourceFuncs funcs = {&SourcePrepare, &SourceCheck, &SourceDispatch,
                                 nullptr,        nullptr,      nullptr};
    m_source = reinterpret_cast<Source*>(g_source_new(&funcs, sizeof(Source)));
    m_source->owner = this;
    g_source_set_name(&m_source->base, "sitowiak reactor");
    // A handler may run a nested loop (a message box): sockets are served
    // there too, as the reactor allows.
    g_source_set_can_recurse(&m_source->base, TRUE);
    m_pollFd.fd = epollFd;
    m_pollFd.events = G_IO_IN;
    g_source_add_poll(&m_source->base, &m_pollFd);
    g_source_attach(&m_source->base, context);
}

GlibLoopPoll::~GlibLoopPoll() {
    g_source_destroy(&m_source->base);
    g_source_unref(&m_source->base);
    g_main_context_set_poll_func(m_context, m_previous);
    g_active = nullptr;
    for (const Foreign& f : m_registered) ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, f.fd, nullptr);
}

gboolean GlibLoopPoll::SourcePrepare(GSource*, gint* timeout) {
    *timeout = -1;
    return FALSE;
}

gboolean GlibLoopPoll::SourceCheck(GSource* source) {
    return (reinterpret_cast<Source*>(source)->owner->m_pollFd.revents & G_IO_IN) != 0;
}

gboolean GlibLoopPoll::SourceDispatch(GSource* source, GSourceFunc, gpointer) {
    reinterpret_cast<Source*>(source)->owner->m_dispatch();
    return G_SOURCE_CONTINUE;
}

int GlibLoopPoll::TakeReady(epoll_event* out, int capacity) {
    const int n = m_readyCount < capacity ? m_readyCount : capacity;
    std::memcpy(out, m_ready.data(), sizeof(epoll_event) * static_cast<std::size_t>(n));
    m_readyCount = 0;
    return n;
}

void GlibLoopPoll::Claimed(int fd) {
    for (auto it = m_registered.begin(); it != m_registered.end(); ++it) {
        if (it->fd == fd) {
            m_registered.erase(it);
            return;
        }
    }
}

// Brings the epoll set in line with glib's list for this call. glib's list
// holds descriptor numbers only: a descriptor closed and its number opened
// again between two calls looks unchanged. glib signals its wake-up
// descriptor whenever a descriptor is added to or removed from its list,
// so after a wait in which one of glib's descriptors was ready every
// registration is made again before the next wait (a closed descriptor
// has left the epoll set, and MOD says so).
bool GlibLoopPoll::Register(const GPollFD* fds, guint count) {
    m_wanted.clear();
    for (guint i = 0; i < count; ++i) {
        const int fd = fds[i].fd;
        if (fd < 0 || fd == m_epoll) continue;
        const std::uint32_t events = ToEpoll(fds[i].events);
        auto it = m_wanted.begin();
        while (it != m_wanted.end() && it->fd < fd) ++it;
        if (it != m_wanted.end() && it->fd == fd)
            it->events |= events;
        else
            m_wanted.insert(it, Foreign{fd, events});
    }
    if (!m_recheck && m_wanted == m_registered) return true;

    auto control = [this](int op, const Foreign& f) {
        epoll_event ev{};
        ev.events = f.events;
        ev.data.u64 = kForeignToken | static_cast<std::uint32_t>(f.fd);
        return ::epoll_ctl(m_epoll, op, f.fd, &ev) == 0;
    };
    bool complete = true;
    m_next.clear();
    auto registered = m_registered.begin();
    for (const Foreign& want : m_wanted) {
        while (registered != m_registered.end() && registered->fd < want.fd)
            ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, (registered++)->fd, nullptr);
        const bool known = registered != m_registered.end() && registered->fd == want.fd;
        if (known) ++registered;
        if ((known && control(EPOLL_CTL_MOD, want)) || control(EPOLL_CTL_ADD, want)) {
            m_next.push_back(want);
            continue;
        }
        // EEXIST: the reactor watches this descriptor itself. EPERM: a
        // kind of file epoll does not take (poll() calls it always ready).
        if (errno == EPERM) m_refused = true;
        complete = false;
    }
    while (registered != m_registered.end())
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, (registered++)->fd, nullptr);
    m_registered.swap(m_next);
    if (m_refused) {
        // From now on glib's own poll waits; its descriptors must not make
        // the reactor's descriptor readable.
        for (const Foreign& f : m_registered) ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, f.fd, nullptr);
        m_registered.clear();
    }
    m_recheck = !complete;
    return complete;
}

gint GlibLoopPoll::Poll(GPollFD* fds, guint count, gint timeout) {
    m_readyCount = 0;
    GPollFD* own = nullptr;
    for (guint i = 0; i < count && own == nullptr; ++i)
        if (fds[i].fd == m_epoll) own = &fds[i];
    // Without the reactor's descriptor in the list (its source is being
    // dispatched and cannot recurse) the reactor must not be woken now:
    // its sockets' readiness would end every wait at once.
    if (m_refused || own == nullptr || !Register(fds, count))
        return m_previous(fds, count, timeout);

    for (guint i = 0; i < count; ++i) fds[i].revents = 0;
    epoll_event events[kMaxEvents];
    const int n = ::epoll_wait(m_epoll, events, kMaxEvents, timeout);
    if (n < 0) return -1;  // errno (EINTR) as poll() would leave it
    for (int e = 0; e < n; ++e) {
        const std::uint64_t token = events[e].data.u64;
        if ((token & kForeignToken) == 0) {
            m_ready[static_cast<std::size_t>(m_readyCount++)] = events[e];
            continue;
        }
        m_recheck = true;
        const int fd = static_cast<int>(token & ~kForeignToken);
        const gushort got = ToGlib(events[e].events);
        for (guint i = 0; i < count; ++i)
            if (fds[i].fd == fd)
                fds[i].revents |= static_cast<gushort>(got & (fds[i].events | G_IO_ERR | G_IO_HUP));
    }
    if (m_readyCount > 0) own->revents |= G_IO_IN;
    gint ready = 0;
    for (guint i = 0; i < count; ++i)
        if (fds[i].revents != 0) ++ready;
    return ready;
}

}  // namespace sitowiak::platform

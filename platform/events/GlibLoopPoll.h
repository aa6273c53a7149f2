// The reactor inside Qt's glib loop: its epoll descriptor is the one place
// the GUI thread waits, and its readiness reports go straight to it.
//
// Qt's event loop on glib waited in poll() on its own descriptors (its
// wake-up, other socket notifiers) and on the reactor's epoll descriptor;
// when that one was readable a QSocketNotifier event, passed through every
// application event filter, made the reactor ask epoll_wait which sockets
// were ready. Every wake-up cost two system calls and an event. Installed
// as the poll function of the thread's glib context, this class registers
// glib's descriptors in the reactor's epoll set instead and waits in one
// epoll_wait: glib's descriptors get their results as from poll(), and the
// sockets' readiness is kept for the reactor, which a glib source of its
// own calls in the same pass of the loop.
//
// Where epoll cannot stand in (a descriptor epoll refuses, one the reactor
// watches itself), a call falls back to glib's own poll function, which
// then polls the epoll descriptor like any other; the source still calls
// the reactor when it is readable.
#pragma once

#include <sys/epoll.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <glib.h>

namespace sitowiak::platform {

class GlibLoopPoll {
public:
    // Tokens of glib's descriptors in the epoll set carry this bit; the
    // reactor's own tokens count up from 1 and never reach it.
    static constexpr std::uint64_t kForeignToken = std::uint64_t{1} << 63;
    static constexpr int kMaxEvents = 256;

    // Installs on the calling thread's default glib context when Qt's loop
    // of this thread runs on it; nullptr otherwise (the loop stays as it
    // is). dispatch is called, in the loop's pass, when sockets are ready.
    static std::unique_ptr<GlibLoopPoll> Install(int epollFd, std::function<void()> dispatch);
    ~GlibLoopPoll();
    GlibLoopPoll(const GlibLoopPoll&) = delete;
    GlibLoopPoll& operator=(const GlibLoopPoll&) = delete;

    // Moves the socket readiness the last wait found into out (at most
    // capacity entries) and returns how many; 0 when the last wait was not
    // ours or found none. Taken once: the next call returns 0.
    int TakeReady(epoll_event* out, int capacity);
    // The reactor now watches fd itself: glib's registration of that
    // number, if one is still recorded, went with the descriptor's close.
    void Claimed(int fd);

    // The poll function itself, for one call of glib's loop.
    gint Poll(GPollFD* fds, guint count, gint timeout);

private:
    struct Source;
    GlibLoopPoll(int epollFd, GMainContext* context, std::function<void()> dispatch);
    bool Register(const GPollFD* fds, guint count);
    static gboolean SourcePrepare(GSource* source, gint* timeout);
    static gboolean SourceCheck(GSource* source);
    static gboolean SourceDispatch(GSource* source, GSourceFunc, gpointer);

    struct Foreign {
        int fd;
        std::uint32_t events;
        bool operator==(const Foreign&) const = default;
    };
    int m_epoll;
    GMainContext* m_context;
    GPollFunc m_previous;
    std::function<void()> m_dispatch;
    Source* m_source = nullptr;         // the reactor's source in the context
    GPollFD m_pollFd{};                 // its one descriptor: the epoll set
    std::vector<Foreign> m_registered;  // glib's descriptors in the set, by fd
    std::vector<Foreign> m_wanted;      // scratch: this call's list, by fd
    std::vector<Foreign> m_next;        // scratch: what is registered after this call
    std::array<epoll_event, kMaxEvents> m_ready{};
    int m_readyCount = 0;
    bool m_refused = false;  // epoll refused a descriptor of glib's: fall back for good
    bool m_recheck = false;  // make every registration again before the next wait
};

}  // namespace sitowiak::platform

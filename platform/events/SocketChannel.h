// The notification channel of one socket object: the stand-in for the hidden
// window that receives a socket's messages. It carries three kinds of traffic
// to the owner's handlers, all on the GUI thread's event loop:
//   - readiness of one file descriptor (readable / writable), reported to
//     the readiness handler (all descriptors of the thread share one epoll
//     descriptor, which the event loop waits in: see ReadinessReactor);
//   - messages the owner posts to itself (Post), handled after the current
//     handler has returned, in the order posted;
//   - messages posted from other threads through a ChannelMailbox (name
//     lookups), which become no-ops once the channel is gone.
// This is the only part of the socket library that knows Qt; the header
// keeps Qt out of its users.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace sitowiak::platform {

// One message, shaped like the window message it stands for.
struct ChannelMessage {
    std::uint32_t Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
};

class ChannelObject;

// Thread-safe posting end of a channel. Posting after the channel has been
// destroyed does nothing and returns false.
class ChannelMailbox {
public:
    bool Post(const ChannelMessage& message);

private:
    friend class SocketChannel;
    struct State;
    std::shared_ptr<State> m_state;
};

class SocketChannel {
public:
    using MessageHandler = std::function<void(const ChannelMessage&)>;
    // fd, true for "writable" or false for "readable", and whether the
    // peer's end or an error is (also) signalled; without it a readable
    // stream socket has data.
    using ReadyHandler = std::function<void(int fd, bool writable, bool hangup)>;

    SocketChannel(MessageHandler onMessage, ReadyHandler onReady);
    ~SocketChannel();
    SocketChannel(const SocketChannel&) = delete;
    SocketChannel& operator=(const SocketChannel&) = delete;

    // Queues a message for this channel; it is handled by a later pass of
    // the event loop, never inside this call.
    void Post(const ChannelMessage& message);
    // Queues a message to be handled after delayMs milliseconds (at the
    // earliest). Dropped when the channel goes first.
    void PostDelayed(const ChannelMessage& message, int delayMs);
    // A posting end usable from any thread.
    ChannelMailbox Mailbox() const;

    // Watches fd for readability and/or writability (fd < 0 or both false:
    // watch nothing). Changing the fd drops the old watchers.
    void Watch(int fd, bool read, bool write);

    // Lets the event loop handle everything pending, then returns. Returns
    // true when the application is shutting down.
    static bool ProcessPendingEvents();
    // The same, but waits for an event when none is pending.
    static bool WaitForEvents();
    // The same, but waits no longer than maxMs for an event.
    static bool WaitForEvents(int maxMs);

private:
    ChannelObject* m_object;
    ChannelMailbox m_mailbox;
};

}  // namespace sitowiak::platform

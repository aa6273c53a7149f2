// Readiness of every watched socket of the GUI thread through one epoll
// descriptor, which a single QSocketNotifier watches. With one notifier per
// socket the event loop polls every socket on every pass; here a pass costs
// only the sockets that are ready, so thousands of idle connections cost
// nothing. Level-triggered, like the notifiers it stands for.
#pragma once

#include <cstdint>
#include <unordered_map>

#include <QObject>
#include <QSocketNotifier>

namespace sitowiak::platform {

class ChannelObject;

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
    QSocketNotifier* m_notifier = nullptr;
    std::unordered_map<std::uint64_t, Entry> m_entries;
    std::uint64_t m_nextToken = 1;
};

}  // namespace sitowiak::platform

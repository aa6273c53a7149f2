// The scripted news server of the load run, on 127.0.0.1: one thread per
// connection, canned replies from the corpus, and the faults the corpus
// numbers ask for. It can refuse connections for a while (its listening
// socket closed) and it counts every posted article it receives.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Corpus.h"

namespace sitowiak::load {

class Upstream {
public:
    explicit Upstream(const Corpus& corpus);
    ~Upstream();

    int Port() const { return m_port; }
    // Closes the listening socket (connections are refused) or opens it again
    // on the same port.
    void SetRefusing(bool refusing);
    // Times each Message-ID arrived, and posts whose bytes were not the
    // filter's.
    std::map<std::string, int> PostCounts();
    int PostMismatches() const { return m_postMismatches; }
    int Connections() const { return m_connections; }
    int Live() const { return m_live; }

private:
    void Open();
    void AcceptLoop();
    void Serve(int fd);
    void ReceivePost(class Wire& w);

    const Corpus& m_corpus;
    int m_port = 0;
    std::atomic<int> m_listenFd{-1};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0}, m_live{0}, m_postMismatches{0};
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::map<std::string, int> m_posts;
};

}  // namespace sitowiak::load

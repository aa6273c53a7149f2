// Records the events of a socket as short texts, in the order raised.
#pragma once

#include <string>
#include <vector>

#include "net/TWSocket.h"

namespace sitowiak::net::test {

inline const char* StateName(TSocketState s) {
    static const char* names[] = {"invalid",   "opened",    "bound",     "connecting",
                                  "connected", "accepting", "listening", "closed"};
    return names[s];
}

struct EventRecorder {
    std::vector<std::string> log;
    std::string received;

    // Data is read in the handler unless readData is false.
    void Attach(TCustomWSocket& s, bool readData = true) {
        s.OnChangeState = [this](TCustomWSocket*, TSocketState o, TSocketState n) {
            log.push_back(std::string("state ") + StateName(o) + "->" + StateName(n));
        };
        s.OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) {
            log.push_back("connected " + std::to_string(e));
        };
        s.OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) {
            log.push_back("closed " + std::to_string(e));
        };
        s.OnDataSent = [this](TCustomWSocket*, std::uint16_t e) {
            log.push_back("sent " + std::to_string(e));
        };
        if (readData)
            s.OnDataAvailable = [this](TCustomWSocket* sender, std::uint16_t) {
                const std::string part = sender->ReceiveStr();
                if (!part.empty()) log.push_back("data " + part);
                received += part;
            };
    }

    bool Has(const std::string& entry) const {
        for (const auto& e : log)
            if (e == entry) return true;
        return false;
    }
    int Count(const std::string& entry) const {
        int n = 0;
        for (const auto& e : log) n += e == entry;
        return n;
    }
};

}  // namespace sitowiak::net::test

// A proxy core on loopback for relay tests: a plain view and log in place of
// the windows, a scripted news server, and readers that run on their own
// threads while the test thread runs the event loop.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <future>
#include <mutex>

#include "proxy/core/ProxyCore.h"
#include "proxy/core/tests/LoopbackPeer.h"
#include "tests/support/TestApp.h"

namespace sitowiak::testing {

class FakeView : public proxy::ProxyView {
public:
    std::string caption;
    bool editsEnabled = true;
    std::string panels[4] = {"Połączeń", "0", "Z", ""};

    void SetListenCaption(const std::string& c) override { caption = c; }
    void SetAddressEditsEnabled(bool e) override { editsEnabled = e; }
    void SetStatusPanel(int i, const std::string& t) override { panels[i] = t; }
    std::vector<std::string> refusedCertificates;  // "server fingerprint"
    void CertificateRefused(const std::string& server, const std::string& fp) override {
        refusedCertificates.push_back(server + " " + fp);
    }
};

struct LoggedEntry {
    log::Rgb color;
    std::string title, text;
};

class FakeLog : public log::LogSink {
public:
    std::vector<LoggedEntry> entries;
    bool lineMode = false;
    void SetEntryStyle(log::Rgb c, const std::string& t) override {
        m_color = c;
        m_title = t;
    }
    void SetEntryTitle(const std::string& t) override { m_title = t; }
    void AddEntry(const std::string& text) override { entries.push_back({m_color, m_title, text}); }
    bool LineModeChecked() const override { return lineMode; }

private:
    log::Rgb m_color = 0;
    std::string m_title;
};

class RelayTest : public ::testing::Test {
protected:
    RelayTest() {
        TestApp();
        m_identity.ProductName = "Sitowiak";
        m_identity.ProductUrl = "https://sitowiak.plaskun.example/";
        m_identity.ProductVersion = (5ull << 48) | 48;
        m_core = std::make_unique<proxy::ProxyCore>(m_view, m_identity);
        m_core->SetLog(&m_log);
        proxy::ProxySettings& s = m_core->Settings();
        s.LocalPort = "0";
        s.RemotePort = "119";
        s.Address = "127.0.0.1";
        s.WriteAccess = "127.0.0.1";
    }
    ~RelayTest() override {
        m_core.reset();
        QCoreApplication::processEvents();
    }

    // Starts listening on a free port, forwarding to `upstream`.
    void Listen(const ScriptedServer& upstream) { Listen(upstream.Port()); }
    void Listen(int upstreamPort);
    int ProxyPort() const { return m_proxyPort; }

    // Runs `script` as a reader connected to the proxy, pumping the event
    // loop until it ends (at most `timeoutMs`).
    template <typename F>
    auto Reader(F script, int timeoutMs = 10000) {
        int port = m_proxyPort;
        auto future = std::async(std::launch::async, [port, script] {
            auto connection = PeerConnection::ConnectTo(port);
            return script(*connection);
        });
        PumpUntil(
            [&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            timeoutMs);
        return future.get();
    }

    // A reader's whole conversation: the greeting (alone when it is not a
    // 200), then DATE and its answer.
    std::string GreetingAndDate() {
        return Reader(
            [](PeerConnection& r) {
                std::string bytes = r.ReadLine(15000);
                if (!bytes.starts_with("200")) return bytes;
                r.Send("DATE\r\n");
                return bytes + r.ReadLine(10000);
            },
            20000);
    }

    // Runs the event loop until `done` or the time is up; false on time-out.
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);
    void Pump(int ms) {
        PumpUntil([] { return false; }, ms);
    }

    // The reply the filter gives for `reply` offline, as the relay must send it.
    std::string RewrittenArticle(const std::string& reply);
    std::string RewrittenOverview(const std::string& reply);

    FakeView m_view;
    FakeLog m_log;
    platform::ProductIdentity m_identity;
    std::unique_ptr<proxy::ProxyCore> m_core;
    int m_proxyPort = 0;
};

}  // namespace sitowiak::testing

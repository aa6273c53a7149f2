// The proxy without its window: listening on and off, and the forced values
// and logging switch the relays read. Everything runs on the GUI thread.
#pragma once

#include <string>

#include "log/LogSink.h"
#include "proxy/ProxyView.h"

namespace sitowiak::proxy {

inline constexpr char kCaptionListen[] = "Nasłuchuj";
inline constexpr char kCaptionStop[] = "Przerwij";

class ProxyCore {
public:
    explicit ProxyCore(ProxyView& view) : m_view(view) {}
    virtual ~ProxyCore() = default;

    // Switches listening on or off. Switching on throws the socket layer's
    // exception when listening fails; then nothing has changed.
    void SetListening(bool on);
    bool Listening() const { return m_listening; }

    // The traffic log; none until the log window exists.
    void SetLog(log::LogSink* sink) { m_log = sink; }

    std::string Kodowanie;  // forced charset, empty for none
    std::string Zawartosc;  // forced content type, empty for none
    bool Logowanie = false;

protected:
    ProxyView& View() { return m_view; }

private:
    ProxyView& m_view;
    log::LogSink* m_log = nullptr;
    bool m_listening = false;
};

}  // namespace sitowiak::proxy

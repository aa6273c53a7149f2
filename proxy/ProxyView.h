// What the proxy core needs of the main window: the settings that live in
// its controls, read at the moment they are needed, and the few things it
// shows. The window implements it; tests use a plain object.
#pragma once

#include <string>

namespace sitowiak::proxy {

class ProxyView {
public:
    virtual ~ProxyView() = default;

    virtual std::string LocalPortText() const = 0;
    virtual std::string RemotePortText() const = 0;
    virtual std::string RemoteAddrText() const = 0;
    virtual std::string ReadAccessText() const = 0;
    virtual std::string WriteAccessText() const = 0;
    virtual bool StyleChecked() const = 0;
    virtual bool IgnorowanieBlednychChecked() const = 0;

    virtual void SetListenCaption(const std::string& caption) = 0;
    // The local port, news server port and address edits.
    virtual void SetAddressEditsEnabled(bool enabled) = 0;
    // Status bar panel 1 (connection count) or 3 (a reader's address).
    virtual void SetStatusPanel(int index, const std::string& text) = 0;
};

}  // namespace sitowiak::proxy

// What the proxy core shows in the main window: the listen button's caption,
// whether the address edits may change, the status bar, and a news server
// certificate the user may choose to trust. The window implements it; tests
// use a plain object.
#pragma once

#include <string>

namespace sitowiak::proxy {

class ProxyView {
public:
    virtual ~ProxyView() = default;

    virtual void SetListenCaption(const std::string& caption) = 0;
    // The local port, news server port and address edits.
    virtual void SetAddressEditsEnabled(bool enabled) = 0;
    // Status bar panel 1 (connection count) or 3 (a reader's address).
    virtual void SetStatusPanel(int index, const std::string& text) = 0;
    // The settings were read again from the file: show them.
    virtual void SettingsReloaded() {}
    // A reader's news server (`server`, as the 400 line names it) showed a
    // certificate that does not verify, with the SHA-256 `fingerprint` in
    // lower-case hex; the reader has been told and closed. Called for every
    // such reader; without a window nothing more happens.
    virtual void CertificateRefused(const std::string& server, const std::string& fingerprint) {
        (void)server;
        (void)fingerprint;
    }
};

}  // namespace sitowiak::proxy

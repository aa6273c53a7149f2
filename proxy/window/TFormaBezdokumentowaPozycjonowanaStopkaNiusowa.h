// The proxy's main window: the settings as plain controls, the button that
// starts and stops listening, and the connection count in the status bar.
// It is a thin view over ProxyCore; its creation loads the settings and its
// destruction stores them.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <array>
#include <set>
#include <memory>

#include "frame/windows/TBevel.h"
#include "frame/windows/TFormaBezdokumentowaPozycjonowana.h"
#include "proxy/core/ProxyCore.h"
#include "proxy/core/ProxyView.h"

namespace sitowiak::proxy {

class TFormaBezdokumentowaPozycjonowanaStopkaNiusowa
    : public frame::TFormaBezdokumentowaPozycjonowana,
      public ProxyView {
    Q_OBJECT
public:
    explicit TFormaBezdokumentowaPozycjonowanaStopkaNiusowa(QWidget* parent = nullptr);
    ~TFormaBezdokumentowaPozycjonowanaStopkaNiusowa() override;

    ProxyCore& Core() { return *m_core; }
    // False when the settings could not be stored at close; the program then
    // ends with exit code 1.
    bool SettingsStored() const { return m_storeFailed == false; }
    // True while stored settings that could not be read hold the window back:
    // it does not listen and stores nothing until the user presses the
    // listen button or changes a setting.
    bool SettingsUnreadable() { return RegistryStore().Unreadable(); }
    void SetListening(bool on);
    // The user's own switch: the only thing that changes "Aktywne".
    void ListenBtnClick();
    // SIGHUP: the settings file read again. Values that fail their checks
    // change nothing and are reported; a failure to listen on a new port is
    // reported as at start, and without a display ends the program with
    // exit code 1.
    void ReloadSettings();
    // True when "Aktywne" asks for listening that could not be started.
    bool ListeningFailed() const { return m_core->Settings().Aktywne && !m_core->Listening(); }
    void KodowanieCBChange();
    void ZawartoscCBChange();
    void SzyfrowanieCBChange();

    // ProxyView
    void SetListenCaption(const std::string& caption) override;
    void SetAddressEditsEnabled(bool enabled) override;
    // Takes effect within kStatusDelayMs: a burst of connections costs one
    // relayout and repaint of the status bar, not one per connection.
    void SetStatusPanel(int index, const std::string& text) override;
    void SettingsReloaded() override { ShowSettings(); }
    static constexpr int kStatusDelayMs = 100;
    // Asks once per certificate, after the event that reported it, whether
    // to trust it; "Tak" stores its fingerprint as OdciskSerwera.
    void CertificateRefused(const std::string& server, const std::string& fingerprint) override;

    QLineEdit* LocalPort_ = nullptr;
    QLineEdit* RemotePort = nullptr;
    QLineEdit* RemoteAddr = nullptr;
    QPushButton* ListenBtn = nullptr;
    QLineEdit* ReadAccessEd = nullptr;
    QLineEdit* WriteAccessEd = nullptr;
    QComboBox* KodowanieCB = nullptr;
    QComboBox* KodowanieNieoznaczonychCB = nullptr;
    QComboBox* ZawartoscCB = nullptr;
    QComboBox* SzyfrowanieCB = nullptr;
    QCheckBox* StyleCB = nullptr;
    QCheckBox* IgnorowanieBlednychCB = nullptr;
    // The SOCKS server on the way to the news server, in a column of their own.
    QLineEdit* SocksSerwerEd = nullptr;
    QComboBox* SocksPoziomCB = nullptr;
    QLineEdit* SocksUzytkownikEd = nullptr;
    QLineEdit* SocksHasloEd = nullptr;
    frame::TBevel* Bevel1 = nullptr;
    std::array<QLabel*, 4> StatusPanels{};

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void CreateSocksControls(QWidget* client);
    void ShowSocksSettings();
    void ConnectSocksWriteThrough();
    void CreateStatusPanels();
    void FormCreate();
    void FormDestroy();
    void ShowSettings();
    void ShowWhetherCharsetIsKnown();
    void ConnectWriteThrough();
    void ShowWhySettingsAreUnreadable();
    // The user's first act after that message: from now on the window's
    // settings are the ones to keep.
    void UserActed();
    // Stores the placement and every setting in one write of the hive.
    void StoreAll(bool withPlacement);

    void ShowStatusPanels();
    void OfferToTrust(const std::string& server, const std::string& fingerprint);

    // Before the core, which may still report while it is destroyed.
    std::array<QString, 4> m_statusTexts;  // shown when m_statusTimer fires
    QTimer m_statusTimer;
    std::unique_ptr<ProxyCore> m_core;
    std::set<std::string> m_offeredCertificates;
    bool m_stored = false;
    bool m_storeFailed = false;
};

// Shows an exception the way the application reports errors: a box with the
// application's title as caption and the error icon.
void ShowException(const std::exception& error);
// The same for a failure to start listening on `port`, with advice on ports
// below 1024 and on a port in use.
void ShowListenFailure(const std::exception& error, const std::string& port);

}  // namespace sitowiak::proxy

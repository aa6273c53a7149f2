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
    void ListenBtnClick();
    void KodowanieCBChange();
    void ZawartoscCBChange();
    void SzyfrowanieCBChange();

    // ProxyView
    void SetListenCaption(const std::string& caption) override;
    void SetAddressEditsEnabled(bool enabled) override;
    // Takes effect within kStatusDelayMs: a burst of connections costs one
    // relayout and repaint of the status bar, not one per connection.
    void SetStatusPanel(int index, const std::string& text) override;
    static constexpr int kStatusDelayMs = 100;

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
    frame::TBevel* Bevel1 = nullptr;
    std::array<QLabel*, 4> StatusPanels{};

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
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

    // Before the core, which may still report while it is destroyed.
    std::array<QString, 4> m_statusTexts;  // shown when m_statusTimer fires
    QTimer m_statusTimer;
    std::unique_ptr<ProxyCore> m_core;
    bool m_stored = false;
    bool m_storeFailed = false;
};

// Shows an exception the way the application reports errors: a box with the
// application's title as caption and the error icon.
void ShowException(const std::exception& error);
// The same for a failure to start listening, with advice on ports below 1024.
void ShowListenFailure(const std::exception& error);

}  // namespace sitowiak::proxy

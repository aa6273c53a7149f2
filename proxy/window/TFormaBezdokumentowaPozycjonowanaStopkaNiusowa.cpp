#include "TFormaBezdokumentowaPozycjonowanaStopkaNiusowa.h"

#include <QApplication>
#include <QCloseEvent>

#include <cctype>
#include <limits>

#include "filter/Charsets.h"
#include "platform/gui/MessageBox.h"
#include "proxy/core/ProxySettings.h"

namespace sitowiak::proxy {
namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string S(const QString& s) {
    return s.toStdString();
}

// The right and bottom edges of the controls plus the 16-pixel margin they
// keep on the left and top.
constexpr QSize kClientMinimum(352 + 121 + 16, 344 + 17 + 16);

// The positions are in pixels for a sans-serif font 11 pixels high with
// Arial's widths; the controls use such a font whatever the desktop's
// default, so their texts fit. Without Liberation Sans the next narrowest
// installed family serves.
QFont DesignFont(QFont font) {
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("DejaVu Sans")});
    font.setPixelSize(11);
    return font;
}

// A check box keeps its design width unless its caption needs more.
QCheckBox* AddCheck(QWidget* parent, const char* caption, QRect geometry) {
    auto* check = new QCheckBox(QString::fromUtf8(caption), parent);
    geometry.setWidth(std::max(geometry.width(), check->sizeHint().width()));
    check->setGeometry(geometry);
    return check;
}

// Design geometry of the controls, in pixels.
// Labels size themselves to their caption, at the design position.
QLabel* AddLabel(QWidget* parent, const char* caption, QPoint position, QWidget* buddy) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->move(position);
    label->adjustSize();
    label->setBuddy(buddy);
    return label;
}

QLineEdit* AddEdit(QWidget* parent, const char* name, QRect geometry) {
    auto* edit = new QLineEdit(QStringLiteral("?"), parent);
    // Lists of patterns may be long; nothing stored is ever cut to fit.
    edit->setMaxLength(std::numeric_limits<int>::max());
    edit->setObjectName(QLatin1String(name));
    edit->setGeometry(geometry);
    return edit;
}

QComboBox* AddCombo(QWidget* parent, const char* name, QRect geometry,
                    std::initializer_list<const char*> items) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    combo->setEditable(true);
    // A typed value is the forced value, never a new item of the fixed list.
    combo->setInsertPolicy(QComboBox::NoInsert);
    for (const char* item : items) combo->addItem(QString::fromUtf8(item));
    combo->setEditText(QStringLiteral("?"));
    combo->setGeometry(geometry);
    return combo;
}

// Puts a stored forced value into its combo box: the value itself when not
// empty (also one that is not among the items), else the first item.
void ShowForcedValue(QComboBox* combo, const std::string& value) {
    QSignalBlocker block(combo);
    if (value.empty())
        combo->setCurrentIndex(0);
    else
        combo->setEditText(Q(value));
}

// A combo's forced value: empty when its first item is selected, else its text.
std::string ForcedValue(const QComboBox* combo) {
    bool firstItem = combo->currentIndex() == 0 && combo->currentText() == combo->itemText(0);
    return firstItem ? std::string() : S(combo->currentText());
}

// The items of SzyfrowanieCB and the stored value each stands for.
struct EncryptionItem {
    const char* caption;
    const char* stored;
};
constexpr EncryptionItem kEncryptionItems[] = {
    {"<brak>", ""},
    {"TLS (563)", settings::kSzyfrowanieTls},
    {"STARTTLS", settings::kSzyfrowanieStartTls},
};

// The items of SocksPoziomCB, each the stored word it stands for; an empty
// value is the first.
constexpr const char* kSocksLevels[] = {"5", "4A", "4"};

int SocksLevelIndex(std::string stored) {
    std::string word;
    for (char c : stored)
        if (c != ' ' && c != '\t')
            word += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (int i = 0; i < static_cast<int>(std::size(kSocksLevels)); ++i)
        if (word == kSocksLevels[i]) return i;
    return 0;
}

int EncryptionIndex(const std::string& stored) {
    switch (EncryptionOf(stored)) {
        case Encryption::Tls:
            return 1;
        case Encryption::StartTls:
            return 2;
        default:
            return 0;
    }
}

}  // namespace

TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::TFormaBezdokumentowaPozycjonowanaStopkaNiusowa(
    QWidget* parent)
    : TFormaBezdokumentowaPozycjonowana(parent),
      m_core(std::make_unique<ProxyCore>(*this, Identity())) {
    // The entry for a reader that leaves is written in the window's own
    // colour rather than a connection's. The face colour itself would be
    // invisible on the log's face-coloured background, so its dark shade.
    m_core->WindowColor = palette().color(QPalette::Dark).rgb() & 0xFFFFFFu;
    // Boxes raised while loading (a port that cannot be used) belong here.
    platform::SetMessageBoxOwner(this);
    CreateControls();
    CreateStatusPanels();
    FormCreate();
    // Edits show the start of their text, as a long write list has it.
    for (QLineEdit* edit : {LocalPort_, RemotePort, RemoteAddr, ReadAccessEd, WriteAccessEd})
        edit->setCursorPosition(0);
}

TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::~TFormaBezdokumentowaPozycjonowanaStopkaNiusowa() {
    FormDestroy();
}

// The controls at their design positions. The window's size comes from the
// placement memory; the client area never gets smaller than the controls
// need, so a first run's default size shows all of them.
void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::CreateControls() {
    FileMenu->setTitle(QStringLiteral("&Filtr"));
    auto* client = new QWidget(this);
    setCentralWidget(client);
    client->setFont(DesignFont(client->font()));
    Bevel1 = new frame::TBevel(client, 152);

    LocalPort_ = AddEdit(client, "LocalPort_", {16, 56, 73, 21});
    ListenBtn = new QPushButton(QString::fromUtf8(kCaptionListen), client);
    ListenBtn->setObjectName(QStringLiteral("ListenBtn"));
    ListenBtn->setGeometry(16, 104, 75, 21);
    ReadAccessEd = AddEdit(client, "ReadAccessEd", {16, 160, 121, 21});
    WriteAccessEd = AddEdit(client, "WriteAccessEd", {16, 216, 121, 21});
    KodowanieCB = AddCombo(client, "KodowanieCB", {16, 264, 121, 21},
                           {settings::kNieWymuszaj, "utf-8", "windows-1250", "us-ascii"});
    // What text that names no charset is in, beside the forced charset.
    KodowanieNieoznaczonychCB =
        AddCombo(client, "KodowanieNieoznaczonychCB", {168, 264, 121, 21},
                 {settings::kNieWymuszaj, "utf-8", "windows-1250", "us-ascii"});
    ZawartoscCB = AddCombo(client, "ZawartoscCB", {16, 312, 121, 21},
                           {settings::kNieWymuszaj, "text/plain", "text/html"});
    StyleCB = AddCheck(client, "Dodawanie styli Html", {16, 344, 121, 17});
    // The way to the news server, under its address and port, in the row
    // of the write list.
    SzyfrowanieCB = new QComboBox(client);
    SzyfrowanieCB->setObjectName(QStringLiteral("SzyfrowanieCB"));
    for (const EncryptionItem& item : kEncryptionItems)
        SzyfrowanieCB->addItem(QString::fromUtf8(item.caption));
    SzyfrowanieCB->setGeometry(168, 216, 121, 21);
    RemoteAddr = AddEdit(client, "RemoteAddr", {168, 56, 121, 21});
    RemotePort = AddEdit(client, "RemotePort", {168, 104, 75, 21});
    IgnorowanieBlednychCB = AddCheck(client, "Ignorowanie nagłówków Utf-8", {168, 144, 169, 17});

    AddLabel(client, "Port żądań", {16, 40}, LocalPort_);
    AddLabel(client, "Czytanie", {16, 144}, ReadAccessEd);
    AddLabel(client, "Wysyłanie", {16, 200}, WriteAccessEd);
    AddLabel(client, "Kodowanie", {16, 248}, KodowanieCB);
    AddLabel(client, "Zawartość", {16, 296}, ZawartoscCB);
    AddLabel(client, "Adres celu", {168, 40}, RemoteAddr);
    AddLabel(client, "Port", {168, 88}, RemotePort);
    AddLabel(client, "Szyfrowanie", {168, 200}, SzyfrowanieCB);
    CreateSocksControls(client);
    AddLabel(client, "Kodowanie nieoznaczonych", {168, 248}, KodowanieNieoznaczonychCB);

    client->setMinimumSize(kClientMinimum);
    QWidget* order[] = {LocalPort_,    ListenBtn,     RemotePort,
                        RemoteAddr,    ReadAccessEd,  WriteAccessEd,
                        ZawartoscCB,   KodowanieCB,   KodowanieNieoznaczonychCB,
                        IgnorowanieBlednychCB, StyleCB, SzyfrowanieCB,
                        SocksSerwerEd, SocksPoziomCB, SocksUzytkownikEd,
                        SocksHasloEd};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

    connect(ListenBtn, &QPushButton::clicked, this, [this] { ListenBtnClick(); });
}

// Four centred panels: a caption, the connection count, a caption, and a
// reader's address, which reaches to the right edge.
void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::CreateStatusPanels() {
    const char* texts[] = {"Połączeń", "0", "Z", ""};
    const int widths[] = {65, 25, 35, 50};
    StatusBar1->SetSimplePanel(false);
    for (int i = 0; i < 4; ++i) {
        m_statusTexts[static_cast<size_t>(i)] = QString::fromUtf8(texts[i]);
        StatusPanels[static_cast<size_t>(i)] =
            StatusBar1->AddPanel(widths[i], i % 2 == 1, m_statusTexts[static_cast<size_t>(i)], i == 3);
    }
    m_statusTimer.setSingleShot(true);
    connect(&m_statusTimer, &QTimer::timeout, this, [this] { ShowStatusPanels(); });
}

// The SOCKS server, its level, user name and password, in a third column
// beside the news server's: empty is a direct connection.
void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::CreateSocksControls(QWidget* client) {
    SocksSerwerEd = AddEdit(client, "SocksSerwerEd", {352, 56, 121, 21});
    SocksSerwerEd->setToolTip(QString::fromUtf8(
        "Serwer SOCKS z portem (domyślnie 1080), np. 127.0.0.1:9050 dla Tora; "
        "pusty: połączenie bezpośrednie"));
    SocksPoziomCB = new QComboBox(client);
    SocksPoziomCB->setObjectName(QStringLiteral("SocksPoziomCB"));
    for (const char* level : kSocksLevels) SocksPoziomCB->addItem(QString::fromUtf8(level));
    SocksPoziomCB->setGeometry(352, 104, 57, 21);
    SocksUzytkownikEd = AddEdit(client, "SocksUzytkownikEd", {352, 160, 121, 21});
    SocksHasloEd = AddEdit(client, "SocksHasloEd", {352, 216, 121, 21});
    SocksHasloEd->setEchoMode(QLineEdit::Password);
    AddLabel(client, "Serwer SOCKS", {352, 40}, SocksSerwerEd);
    AddLabel(client, "Poziom SOCKS", {352, 88}, SocksPoziomCB);
    AddLabel(client, "Użytkownik SOCKS", {352, 144}, SocksUzytkownikEd);
    AddLabel(client, "Hasło SOCKS", {352, 200}, SocksHasloEd);
}

void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::ShowSocksSettings() {
    const ProxySettings& v = m_core->Settings();
    SocksSerwerEd->setText(Q(v.SocksSerwer));
    SocksUzytkownikEd->setText(Q(v.SocksUzytkownik));
    SocksHasloEd->setText(Q(v.SocksHaslo));
    QSignalBlocker block(SocksPoziomCB);
    SocksPoziomCB->setCurrentIndex(SocksLevelIndex(v.SocksPoziom));
    for (QLineEdit* edit : {SocksSerwerEd, SocksUzytkownikEd, SocksHasloEd})
        edit->setCursorPosition(0);
}

void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::ConnectSocksWriteThrough() {
    auto bindEdit = [this](QLineEdit* edit, std::string ProxySettings::*field) {
        connect(edit, &QLineEdit::textEdited, this, [this, field](const QString& text) {
            UserActed();
            m_core->Settings().*field = S(text);
        });
    };
    bindEdit(SocksSerwerEd, &ProxySettings::SocksSerwer);
    bindEdit(SocksUzytkownikEd, &ProxySettings::SocksUzytkownik);
    bindEdit(SocksHasloEd, &ProxySettings::SocksHaslo);
    connect(SocksPoziomCB, &QComboBox::currentIndexChanged, this, [this](int index) {
        UserActed();
        if (index >= 0 && index < static_cast<int>(std::size(kSocksLevels)))
            m_core->Settings().SocksPoziom = kSocksLevels[index];
    });
}

// Loads the settings, shows them and starts listening when "Aktywne" says
// so. A failure to start listening is reported; the settings stay loaded, so
// they are stored back unchanged. Stored settings that could not be read
// are reported instead, and the core does not listen.
void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::FormCreate() {
    m_core->LoadSettings(RegistryStore());
    ShowSettings();
    ConnectWriteThrough();
    try {
        SetListening(m_core->Settings().Aktywne);
    } catch (const std::exception& error) {
        ShowListenFailure(error, m_core->Settings().LocalPort);
    }
    if (SettingsUnreadable()) ShowWhySettingsAreUnreadable();
}

// Without a display nobody can look at the settings, so the program ends
// (ProgramEntry); with one, the window waits for the user.
void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::ShowWhySettingsAreUnreadable() {
    const platform::RegistryStore& store = RegistryStore();
    const std::string file = store.File().string();
    std::string text =
        "Nie można odczytać ustawień z pliku " + file + " (" + store.Condition().reason + ").";
    if (!platform::HasDisplay()) {
        text +=
            " Program nie nasłuchuje i kończy pracę, niczego nie zapisując: popraw albo "
            "usuń ten plik.";
    } else {
        text +=
            " Program nie nasłuchuje i nie zapisuje ustawień, dopóki ich nie sprawdzisz: "
            "okno pokazuje ustawienia domyślne, także czytanie dla wszystkich. Gdy "
            "naciśniesz „Nasłuchuj” albo zmienisz któreś ustawienie, ";
        text += store.Condition().state == platform::HiveState::kDamaged
                    ? "plik zostanie zachowany jako " + file +
                          ".damaged-N, a przy zamknięciu zapisane zostaną ustawienia z okna."
                    : "program użyje ustawień z okna, ale tego pliku nie zastąpi: aby je "
                      "zapisać, usuń go albo popraw.";
    }
    platform::MessageBox(text, QApplication::applicationName().toStdString(),
                         platform::MB_OK | platform::MB_ICONWARNING);
}

void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::UserActed() {
    if (SettingsUnreadable()) RegistryStore().GoOnWithoutStored();
}

void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::ShowSettings() {
    const ProxySettings& v = m_core->Settings();
    LocalPort_->setText(Q(v.LocalPort));
    RemotePort->setText(Q(v.RemotePort));
    RemoteAddr->setText(Q(v.Address));
    ShowForcedValue(KodowanieCB, v.Kodowanie);
    ShowForcedValue(KodowanieNieoznaczonychCB, v.KodowanieNieoznaczonych);
    ShowWhetherCharsetIsKnown();
    StyleCB->setChecked(v.Style);
    ShowForcedValue(ZawartoscCB, v.Zawartosc);
    ReadAccessEd->setText(Q(v.ReadAccess));
    WriteAccessEd->setText(Q(v.WriteAccess));
    IgnorowanieBlednychCB->setChecked(v.IgnorowanieBlednych);
    QSignalBlocker block(SzyfrowanieCB);
    SzyfrowanieCB->setCurrentIndex(EncryptionIndex(v.Szyfrowanie));
    ShowSocksSettings();
}

// Every change the user makes goes into the core's settings at once, so the
// next reader and the next start of listening see it. Only the user's edits
// write: showing a value never changes it.
void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::ConnectWriteThrough() {
    auto bindEdit = [this](QLineEdit* edit, std::string ProxySettings::*field) {
        connect(edit, &QLineEdit::textEdited, this, [this, field](const QString& text) {
            UserActed();
            m_core->Settings().*field = S(text);
        });
    };
    bindEdit(LocalPort_, &ProxySettings::LocalPort);
    bindEdit(RemotePort, &ProxySettings::RemotePort);
    bindEdit(RemoteAddr, &ProxySettings::Address);
    bindEdit(ReadAccessEd, &ProxySettings::ReadAccess);
    bindEdit(WriteAccessEd, &ProxySettings::WriteAccess);
    connect(StyleCB, &QCheckBox::toggled, this, [this](bool on) {
        UserActed();
        m_core->Settings().Style = on;
    });
    connect(IgnorowanieBlednychCB, &QCheckBox::toggled, this, [this](bool on) {
        UserActed();
        m_core->Settings().IgnorowanieBlednych = on;
    });
    connect(KodowanieCB, &QComboBox::currentTextChanged, this, [this] {
        UserActed();
        KodowanieCBChange();
    });
    connect(ZawartoscCB, &QComboBox::currentTextChanged, this, [this] {
        UserActed();
        ZawartoscCBChange();
    });
    connect(KodowanieNieoznaczonychCB, &QComboBox::currentTextChanged, this, [this] {
        UserActed();
        m_core->Settings().KodowanieNieoznaczonych = ForcedValue(KodowanieNieoznaczonychCB);
    });
    connect(SzyfrowanieCB, &QComboBox::currentIndexChanged, this, [this] {
        UserActed();
        SzyfrowanieCBChange();
    });
    ConnectSocksWriteThrough();
}

// Stores the settings unless closing the window already has.
void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::FormDestroy() {
    if (!m_stored) StoreAll(false);
}

// Settings that could not be read, and that the user has not acted on,
// stay as they are: neither the defaults nor the placement replace them.
void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::StoreAll(bool withPlacement) {
    if (SettingsUnreadable()) {
        m_stored = true;
        return;
    }
    platform::RegistryStore::Batch batch(RegistryStore());
    if (withPlacement) SavePlacement();
    m_core->StoreSettings(RegistryStore());
    m_stored = true;
    // A failed write has been reported by the hive, once, with its reason.
    if (!batch.Commit()) m_storeFailed = true;
}

void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::SetListening(bool on) {
    m_core->SetListening(on);
}

void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::ListenBtnClick() {
    UserActed();
    const bool on = !m_core->Listening();
    m_core->Settings().Aktywne = on;
    try {
        SetListening(on);
    } catch (const std::exception& error) {
        ShowListenFailure(error, m_core->Settings().LocalPort);
    }
}

void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::ReloadSettings() {
    try {
        const std::string problem = m_core->ReloadSettings(RegistryStore());
        if (!problem.empty())
            platform::MessageBox("Ustawienia nie zostały odczytane ponownie (" + problem +
                                     "): zostają dotychczasowe.",
                                 QApplication::applicationName().toStdString(),
                                 platform::MB_OK | platform::MB_ICONWARNING);
    } catch (const std::exception& error) {
        ShowListenFailure(error, m_core->Settings().LocalPort);
        if (!platform::HasDisplay()) QCoreApplication::exit(1);
    }
}

void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::KodowanieCBChange() {
    m_core->Settings().Kodowanie = ForcedValue(KodowanieCB);
    ShowWhetherCharsetIsKnown();
}

// A forced charset the database does not know forces nothing: articles pass
// unconverted. The field says so in red with a hint, rather than a box per
// article.
void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::ShowWhetherCharsetIsKnown() {
    const std::string& name = m_core->Settings().Kodowanie;
    const bool unknown = !name.empty() && !filter::KnownCodePageOf(name);
    QPalette palette = KodowanieCB->lineEdit()->palette();
    palette.setColor(QPalette::Text,
                     unknown ? QColor(Qt::red) : this->palette().color(QPalette::Text));
    KodowanieCB->lineEdit()->setPalette(palette);
    KodowanieCB->setToolTip(unknown ? QString::fromUtf8("Nieznany zestaw znaków „%1”: artykuły "
                                                        "przechodzą bez przekodowania.")
                                          .arg(Q(name))
                                    : QString());
}

void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::ZawartoscCBChange() {
    m_core->Settings().Zawartosc = ForcedValue(ZawartoscCB);
}

// A choice applies to the next reader. A stored value the items do not
// name stays stored until the user picks one. TLS from the first byte has
// a port of its own: the default port follows the choice, a port the user
// chose stays.
void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::SzyfrowanieCBChange() {
    int index = SzyfrowanieCB->currentIndex();
    if (index < 0 || index >= static_cast<int>(std::size(kEncryptionItems))) return;
    std::string& stored = m_core->Settings().Szyfrowanie;
    stored = kEncryptionItems[static_cast<size_t>(index)].stored;
    const bool tls = EncryptionOf(stored) == Encryption::Tls;
    const QString port = RemotePort->text().trimmed();
    QString fitting;
    if (tls && (port.compare(QLatin1String("nntp"), Qt::CaseInsensitive) == 0 ||
                port == QLatin1String("119")))
        fitting = QStringLiteral("563");
    else if (!tls && port == QLatin1String("563"))
        fitting = QStringLiteral("nntp");
    if (fitting.isEmpty()) return;
    RemotePort->setText(fitting);
    m_core->Settings().RemotePort = S(fitting);
}

void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::CertificateRefused(
    const std::string& server, const std::string& fingerprint) {
    // Without a display nobody could answer: the reader's 400 line and the
    // log carry the command that trusts the certificate.
    if (!platform::HasDisplay() && !platform::MessageBoxHooked()) return;
    if (!m_offeredCertificates.insert(fingerprint).second) return;
    // Not within the relay's socket event: the box runs an event loop of
    // its own, and the relay that reported it is closing.
    QTimer::singleShot(0, this,
                       [this, server, fingerprint] { OfferToTrust(server, fingerprint); });
}

void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::OfferToTrust(
    const std::string& server, const std::string& fingerprint) {
    // As "openssl x509 -fingerprint -sha256" shows it: upper case, pairs
    // with colons, in two lines of sixteen pairs.
    std::string shown;
    for (size_t i = 0; i < fingerprint.size(); i += 2) {
        if (i > 0) shown += i % 32 == 0 ? '\n' : ':';
        for (char c : fingerprint.substr(i, 2))
            shown += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const std::string text =
        "Serwer grup " + server +
        " przedstawił certyfikat, którego nie można sprawdzić, więc czytelnik nie został z nim "
        "połączony.\n\nOdcisk SHA-256 certyfikatu:\n" +
        shown +
        "\n\nCzy ufać temu certyfikatowi? Porównaj najpierw odcisk z tym, który podaje "
        "administrator serwera. Zaufany certyfikat zostanie zapisany w ustawieniu "
        "OdciskSerwera i przyjęty przy następnych połączeniach; każdy inny będzie odrzucany.";
    if (platform::MessageBox(text, QApplication::applicationName().toStdString(),
                             platform::MB_YESNO | platform::MB_ICONWARNING |
                                 platform::MB_DEFBUTTON2) != platform::IDYES)
        return;
    UserActed();
    m_core->Settings().OdciskSerwera = fingerprint;
    if (!SettingsUnreadable())
        RegistryStore().WriteString(settings::kSection, settings::kOdciskSerwera.name,
                                    fingerprint);
}

void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::SetListenCaption(const std::string& caption) {
    ListenBtn->setText(Q(caption));
}

void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::SetAddressEditsEnabled(bool enabled) {
    LocalPort_->setEnabled(enabled);
    RemotePort->setEnabled(enabled);
    RemoteAddr->setEnabled(enabled);
}

void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::SetStatusPanel(int index,
                                                                    const std::string& text) {
    if (index < 0 || index >= 4) return;
    m_statusTexts[static_cast<size_t>(index)] = Q(text);
    if (!m_statusTimer.isActive()) m_statusTimer.start(kStatusDelayMs);
}

void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::ShowStatusPanels() {
    for (size_t i = 0; i < StatusPanels.size(); ++i) StatusPanels[i]->setText(m_statusTexts[i]);
}

// Closing the main window stores its placement and every setting in one
// write, and ends the program even while other windows exist.
void TFormaBezdokumentowaPozycjonowanaStopkaNiusowa::closeEvent(QCloseEvent* event) {
    TFormaBezdokumentowa::closeEvent(event);
    if (!event->isAccepted()) return;
    StoreAll(true);
    QCoreApplication::quit();
}

void ShowListenFailure(const std::exception& error, const std::string& port) {
    platform::MessageBox(ListenFailureText(error.what(), platform::ProgramFile().string(), port),
                         QApplication::applicationName().toStdString(),
                         platform::MB_OK | platform::MB_ICONERROR);
}

void ShowException(const std::exception& error) {
    platform::MessageBox(error.what(), QApplication::applicationName().toStdString(),
                         platform::MB_OK | platform::MB_ICONERROR);
}

}  // namespace sitowiak::proxy

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "platform/core/FileUtil.h"
#include "platform/core/RegistryHive.h"
#include "platform/gui/MessageBox.h"
#include "proxy/window/TFormaBezdokumentowaPozycjonowanaStopkaNiusowa.h"
#include "proxy/window/tests/WindowTestConfig.h"
#include "tests/support/TestApp.h"

namespace sitowiak::proxy {
namespace {

using MainWindow = TFormaBezdokumentowaPozycjonowanaStopkaNiusowa;
using testing::FreePort;
using testing::kParams;
using testing::StoreFreeLocalPort;

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { testing::TestApp(); }
    std::optional<std::string> Stored(const char* name) {
        auto v = platform::RegistryHive(m_config.UserHive()).ReadValue(kParams, name);
        if (!v) return std::nullopt;
        return v->data;
    }
    std::string Text(QLineEdit* e) { return e->text().toStdString(); }

    testing::TempConfig m_config;
};

// The defaults, the port among them, without binding 888: the window of
// the first run listens on a port nothing uses, stored before it starts.
TEST_F(SettingsTest, TheDefaultsAreThoseOfAFirstRun) {
    const ProxySettings defaults = LoadProxySettings(platform::RegistryStore("Sitowiak"));
    EXPECT_EQ(defaults.LocalPort, "888");
    EXPECT_TRUE(defaults.Aktywne);
}

TEST_F(SettingsTest, AFirstRunUsesTheDefaultsAndStoresItsValues) {
    const std::string port = StoreFreeLocalPort(m_config);
    {
        MainWindow window;
        EXPECT_EQ(Text(window.LocalPort_), port);
        EXPECT_EQ(Text(window.RemotePort), "nntp");
        EXPECT_EQ(Text(window.RemoteAddr), "news.gmane.io");
        EXPECT_TRUE(window.Core().Listening());
        EXPECT_EQ(window.ListenBtn->text().toStdString(), "Przerwij");
        EXPECT_FALSE(window.LocalPort_->isEnabled());
        EXPECT_EQ(window.KodowanieCB->currentText().toStdString(), "<nie wymuszaj>");
        EXPECT_EQ(window.ZawartoscCB->currentText().toStdString(), "<nie wymuszaj>");
        EXPECT_EQ(window.SzyfrowanieCB->currentText().toStdString(), "<brak>");
        EXPECT_EQ(window.Core().Settings().Kodowanie, "");
        EXPECT_TRUE(window.StyleCB->isChecked());
        EXPECT_TRUE(window.IgnorowanieBlednychCB->isChecked());
        EXPECT_FALSE(window.Core().Settings().Logowanie);
        EXPECT_EQ(Text(window.ReadAccessEd), "*");
        EXPECT_TRUE(Text(window.WriteAccessEd).ends_with(";127.0.0.1;::1;localhost"));
        // No control keeps the design-time placeholder.
        for (QLineEdit* e : window.findChildren<QLineEdit*>()) EXPECT_NE(Text(e), "?");
    }
    EXPECT_EQ(Stored("LocalPort"), port);
    EXPECT_EQ(Stored("RemotePort"), "nntp");
    EXPECT_EQ(Stored("Address"), "news.gmane.io");
    EXPECT_EQ(Stored("Aktywne"), "1");
    EXPECT_EQ(Stored("Kodowanie"), "");
    EXPECT_EQ(Stored("Style"), "1");
    EXPECT_EQ(Stored("Zawartosc"), "");
    EXPECT_EQ(Stored("ReadAccess"), "*");
    EXPECT_EQ(Stored("IgnorowanieBlednych"), "1");
    EXPECT_TRUE(Stored("WriteAccess"));
    EXPECT_FALSE(Stored("Logowanie"));
    EXPECT_EQ(Stored("Szyfrowanie"), "");
    EXPECT_EQ(Stored("OdciskSerwera"), "");
    EXPECT_EQ(Stored("SocksSerwer"), "");
    EXPECT_EQ(Stored("SocksPoziom"), "");
    EXPECT_EQ(Stored("SocksUzytkownik"), "");
    EXPECT_EQ(Stored("SocksHaslo"), "");
}

// The way to the news server: a hand-written value in any case is shown as
// its item, the fingerprint is kept as written, and a choice is stored as
// its fixed word.
TEST_F(SettingsTest, EncryptionIsReadShownAndStoredAsItsWord) {
    std::filesystem::create_directories(m_config.UserHive().parent_path());
    std::ofstream(m_config.UserHive())
        << "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\Parametry]\n"
           "\"Aktywne\"=\"0\"\n\"Szyfrowanie\"=\" starttls\"\n\"OdciskSerwera\"=\"AB:cd\"\n";
    {
        MainWindow window;
        EXPECT_EQ(window.SzyfrowanieCB->currentText().toStdString(), "STARTTLS");
        EXPECT_EQ(window.Core().Settings().OdciskSerwera, "AB:cd");
        EXPECT_EQ(EncryptionOf(window.Core().Settings().Szyfrowanie), Encryption::StartTls);
        window.SzyfrowanieCB->setCurrentIndex(1);
        EXPECT_EQ(window.Core().Settings().Szyfrowanie, "TLS");
    }
    EXPECT_EQ(Stored("Szyfrowanie"), "TLS");
    EXPECT_EQ(Stored("OdciskSerwera"), "AB:cd");
    {
        MainWindow window;
        EXPECT_EQ(window.SzyfrowanieCB->currentText().toStdString(), "TLS (563)");
        window.SzyfrowanieCB->setCurrentIndex(0);
    }
    EXPECT_EQ(Stored("Szyfrowanie"), "");
}

// The SOCKS server: stored values are shown (the password as dots, a level
// in any case as its item), the user's edits and choice go into the core at
// once and are stored at the end; empty values are stored as empty.
TEST_F(SettingsTest, SocksSettingsAreShownTakenAndStored) {
    std::filesystem::create_directories(m_config.UserHive().parent_path());
    std::ofstream(m_config.UserHive())
        << "Windows Registry Editor Version 5.00\n\n[" << kParams
        << "]\n\"Aktywne\"=\"0\"\n\"SocksSerwer\"=\"127.0.0.1:9050\"\n"
           "\"SocksPoziom\"=\"4a\"\n\"SocksUzytkownik\"=\"ja\"\n\"SocksHaslo\"=\"tajne\"\n";
    {
        MainWindow window;
        EXPECT_EQ(Text(window.SocksSerwerEd), "127.0.0.1:9050");
        EXPECT_EQ(window.SocksPoziomCB->currentText().toStdString(), "4A");
        EXPECT_EQ(window.Core().Settings().SocksPoziom, "4a");
        EXPECT_EQ(Text(window.SocksUzytkownikEd), "ja");
        EXPECT_EQ(Text(window.SocksHasloEd), "tajne");
        EXPECT_EQ(window.SocksHasloEd->echoMode(), QLineEdit::Password);
        window.SocksSerwerEd->setText("");
        window.SocksSerwerEd->textEdited("socks.example");
        window.SocksPoziomCB->setCurrentIndex(2);
        window.SocksHasloEd->textEdited("inne");
        EXPECT_EQ(window.Core().Settings().SocksSerwer, "socks.example");
        EXPECT_EQ(window.Core().Settings().SocksPoziom, "4");
        EXPECT_EQ(window.Core().Settings().SocksHaslo, "inne");
    }
    EXPECT_EQ(Stored("SocksSerwer"), "socks.example");
    EXPECT_EQ(Stored("SocksPoziom"), "4");
    EXPECT_EQ(Stored("SocksUzytkownik"), "ja");
    EXPECT_EQ(Stored("SocksHaslo"), "inne");
    {
        MainWindow window;
        window.SocksPoziomCB->setCurrentIndex(0);
        window.SocksSerwerEd->textEdited("");
    }
    EXPECT_EQ(Stored("SocksSerwer"), "");
    EXPECT_EQ(Stored("SocksPoziom"), "5");
}

// TLS from the first byte moves the default port to 563 and back; a port
// the user chose stays.
TEST_F(SettingsTest, TlsTakesPort563OnlyFromTheDefaultPort) {
    std::filesystem::create_directories(m_config.UserHive().parent_path());
    std::ofstream(m_config.UserHive()) << "Windows Registry Editor Version 5.00\n\n[" << kParams
                                       << "]\n\"Aktywne\"=\"0\"\n";
    {
        MainWindow window;
        auto choose = [&](int index, const char* port) {
            window.SzyfrowanieCB->setCurrentIndex(index);
            EXPECT_EQ(Text(window.RemotePort), port) << index;
            EXPECT_EQ(window.Core().Settings().RemotePort, port) << index;
        };
        choose(1, "563");
        choose(2, "nntp");
        window.RemotePort->setText("119");
        choose(1, "563");
        choose(0, "nntp");
        window.RemotePort->setText("8563");
        window.Core().Settings().RemotePort = "8563";
        choose(1, "8563");
        choose(0, "8563");
    }
    EXPECT_EQ(Stored("RemotePort"), "8563");
}

// A certificate that did not verify is offered once, whoever asks again;
// "Tak" stores its fingerprint at once, "Nie" changes nothing.
TEST_F(SettingsTest, ARefusedCertificateIsOfferedOnceAndTrustedOnYes) {
    std::filesystem::create_directories(m_config.UserHive().parent_path());
    std::ofstream(m_config.UserHive()) << "Windows Registry Editor Version 5.00\n\n[" << kParams
                                       << "]\n\"Aktywne\"=\"0\"\n";
    std::vector<std::string> texts;
    std::vector<int> answers = {platform::IDNO, platform::IDYES};
    platform::SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned flags) {
        texts.push_back(text);
        EXPECT_EQ(flags, platform::MB_YESNO | platform::MB_ICONWARNING | platform::MB_DEFBUTTON2);
        int answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    });
    const std::string first(64, 'a');
    std::string second;
    for (int i = 0; i < 32; ++i) second += "0f";
    MainWindow window;
    window.CertificateRefused("news.example:563", first);
    window.CertificateRefused("news.example:563", first);
    QCoreApplication::processEvents();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("Serwer grup news.example:563 przedstawił certyfikat"),
              std::string::npos);
    std::string grouped;
    for (int i = 0; i < 16; ++i) grouped += i ? ":AA" : "AA";
    EXPECT_NE(texts[0].find(grouped + "\n" + grouped + "\n"), std::string::npos) << texts[0];
    EXPECT_EQ(window.Core().Settings().OdciskSerwera, "");

    window.CertificateRefused("news.example:563", second);
    window.CertificateRefused("news.example:563", first);
    QCoreApplication::processEvents();
    EXPECT_EQ(texts.size(), 2u);
    EXPECT_EQ(window.Core().Settings().OdciskSerwera, second);
    EXPECT_EQ(Stored("OdciskSerwera"), second);
    platform::SetMessageBoxHook(nullptr);
}

TEST_F(SettingsTest, HandEditedValuesAreReadAndARunThatChangesNothingKeepsThem) {
    std::filesystem::create_directories(m_config.UserHive().parent_path());
    const std::string port = std::to_string(FreePort());
    const std::string original =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\Software\\Another\\Program]\n\"Keep\"=\"me\"\n\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\Parametry]\n"
        "\"Aktywne\"=\"2\"\n\"Kodowanie\"=\"x-mac-ce\"\n\"Zawartosc\"=\"text/html\"\n"
        "\"KodowanieNieoznaczonych\"=\"iso-8859-2\"\n"
        "\"Logowanie\"=\"1\"\n\"Style\"=\"0\"\n\"LocalPort\"=\"" + port + "\"\n";
    std::ofstream(m_config.UserHive()) << original;
    {
        MainWindow window;
        EXPECT_TRUE(window.Core().Listening());
        EXPECT_EQ(window.Core().Settings().Kodowanie, "x-mac-ce");
        EXPECT_EQ(window.KodowanieCB->currentText().toStdString(), "x-mac-ce");
        EXPECT_EQ(window.Core().Settings().KodowanieNieoznaczonych, "iso-8859-2");
        EXPECT_EQ(window.KodowanieNieoznaczonychCB->currentText().toStdString(), "iso-8859-2");
        EXPECT_EQ(window.Core().Settings().Zawartosc, "text/html");
        EXPECT_EQ(window.ZawartoscCB->currentText().toStdString(), "text/html");
        EXPECT_TRUE(window.Core().Settings().Logowanie);
        EXPECT_FALSE(window.StyleCB->isChecked());
        EXPECT_EQ(Text(window.LocalPort_), port);
    }
    EXPECT_EQ(Stored("Aktywne"), "2");
    EXPECT_EQ(Stored("Kodowanie"), "x-mac-ce");
    EXPECT_EQ(Stored("Zawartosc"), "text/html");
    EXPECT_EQ(Stored("KodowanieNieoznaczonych"), "iso-8859-2");
    EXPECT_EQ(Stored("Logowanie"), "1");
    EXPECT_EQ(Stored("Style"), "0");
    EXPECT_EQ(Stored("LocalPort"), port);
    auto other = platform::RegistryHive(m_config.UserHive())
                     .ReadValue("HKEY_CURRENT_USER\\Software\\Another\\Program", "Keep");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->data, "me");
}

TEST_F(SettingsTest, ComboChoicesBecomeTheForcedValues) {
    StoreFreeLocalPort(m_config);
    {
        MainWindow window;
        window.KodowanieCB->setCurrentIndex(1);
        EXPECT_EQ(window.Core().Settings().Kodowanie, "utf-8");
        window.KodowanieCB->setCurrentIndex(0);
        EXPECT_EQ(window.Core().Settings().Kodowanie, "");
        // A name the charset database does not know is kept but marked.
        window.KodowanieCB->setEditText(QStringLiteral("fooo"));
        EXPECT_EQ(window.Core().Settings().Kodowanie, "fooo");
        EXPECT_NE(window.KodowanieCB->toolTip().indexOf(QStringLiteral("fooo")), -1);
        window.KodowanieCB->setEditText(QStringLiteral("x-mac-ce"));
        EXPECT_EQ(window.Core().Settings().Kodowanie, "x-mac-ce");
        EXPECT_TRUE(window.KodowanieCB->toolTip().isEmpty());
        // Every edit goes to the core at once.
        window.WriteAccessEd->setText(QStringLiteral("10.*"));
        emit window.WriteAccessEd->textEdited(QStringLiteral("10.*"));
        EXPECT_EQ(window.Core().Settings().WriteAccess, "10.*");
        window.ZawartoscCB->setCurrentIndex(2);
        EXPECT_EQ(window.Core().Settings().Zawartosc, "text/html");
        window.KodowanieNieoznaczonychCB->setCurrentIndex(2);
        EXPECT_EQ(window.Core().Settings().KodowanieNieoznaczonych, "windows-1250");
    }
    EXPECT_EQ(Stored("KodowanieNieoznaczonych"), "windows-1250");
    EXPECT_EQ(Stored("Kodowanie"), "x-mac-ce");
    EXPECT_EQ(Stored("Zawartosc"), "text/html");
    EXPECT_EQ(Stored("WriteAccess"), "10.*");
}

TEST_F(SettingsTest, AktywneZeroStartsWithoutListeningAndTheButtonToggles) {
    StoreFreeLocalPort(m_config);
    testing::StoreSetting(m_config, "Aktywne", "0");
    MainWindow window;
    EXPECT_FALSE(window.Core().Listening());
    EXPECT_EQ(window.ListenBtn->text().toStdString(), "Nasłuchuj");
    EXPECT_TRUE(window.RemoteAddr->isEnabled());
    window.ListenBtn->click();
    EXPECT_TRUE(window.Core().Listening());
    EXPECT_FALSE(window.RemotePort->isEnabled());
}

// Stored settings that cannot be read (here a restricted read list that got
// damaged): the window says why, does not listen and stores nothing, neither
// at close nor at the next start. The user's first act (a port typed, then
// "Nasłuchuj") keeps the damaged file aside and the window's settings are
// stored at close.
TEST_F(SettingsTest, UnreadableSettingsWaitForTheUserBeforeListeningOrStoring) {
    const std::filesystem::path hive = m_config.UserHive();
    std::filesystem::create_directories(hive.parent_path());
    const std::string damaged =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\Parametry]\n"
        "\"ReadAccess\"=\"192.168.1.*\n\x01\xff";
    std::ofstream(hive, std::ios::binary) << damaged;
    std::vector<std::string> boxes;
    platform::SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned flags) {
        boxes.push_back(text);
        return platform::DefaultButton(flags);
    });
    for (int run = 0; run < 2; ++run) {
        MainWindow window;
        window.show();
        EXPECT_FALSE(window.Core().Listening());
        EXPECT_EQ(window.ListenBtn->text().toStdString(), "Nasłuchuj");
        EXPECT_TRUE(window.LocalPort_->isEnabled());
        window.close();
    }
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[0].find(hive.string()), std::string::npos) << boxes[0];
    EXPECT_NE(boxes[0].find("nie nasłuchuje"), std::string::npos) << boxes[0];
    EXPECT_EQ(platform::ReadWholeFile(hive), damaged);
    const std::filesystem::path kept = hive.string() + ".damaged-1";
    EXPECT_FALSE(std::filesystem::exists(kept));

    const std::string port = std::to_string(FreePort());
    {
        MainWindow window;
        window.LocalPort_->setText(QString::fromStdString(port));
        emit window.LocalPort_->textEdited(window.LocalPort_->text());
        window.ListenBtn->click();
        EXPECT_TRUE(window.Core().Listening());
    }
    platform::SetMessageBoxHook(nullptr);
    EXPECT_EQ(boxes.size(), 3u);
    EXPECT_EQ(platform::ReadWholeFile(kept), damaged);
    EXPECT_EQ(Stored("LocalPort"), port);
    EXPECT_EQ(Stored("Aktywne"), "1");
    EXPECT_EQ(Stored("ReadAccess"), "*");
}

// A port another socket holds: the box names the holder (this process) and
// the window does not listen, but the stored choice stays "on". A value
// written into the file by hand while the window runs survives its close;
// the user's own change is stored beside it.
TEST_F(SettingsTest, AFailedListenKeepsTheChoiceAndHandEditsSurviveTheClose) {
    int holder = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string port = std::to_string(ntohs(address.sin6_port));
    platform::RegistryHive(m_config.UserHive())
        .WriteValue(kParams, "LocalPort", platform::RegValue::String(port));
    std::vector<std::string> boxes;
    platform::SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned flags) {
        boxes.push_back(text);
        return platform::DefaultButton(flags);
    });
    {
        MainWindow window;
        EXPECT_FALSE(window.Core().Listening());
        EXPECT_TRUE(window.ListeningFailed());
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NE(boxes[0].find("Error 10048"), std::string::npos) << boxes[0];
        EXPECT_NE(boxes[0].find("Port " + port + " jest już zajęty przez program "),
                  std::string::npos)
            << boxes[0];
        EXPECT_NE(boxes[0].find("(PID " + std::to_string(getpid()) + ")"), std::string::npos)
            << boxes[0];
        platform::RegistryHive(m_config.UserHive())
            .WriteValue(kParams, "Kodowanie", platform::RegValue::String("iso-8859-2"));
        window.StyleCB->setChecked(false);
    }
    close(holder);
    platform::SetMessageBoxHook(nullptr);
    EXPECT_EQ(Stored("Aktywne"), "1");
    EXPECT_EQ(Stored("Kodowanie"), "iso-8859-2");
    EXPECT_EQ(Stored("Style"), "0");
    EXPECT_EQ(Stored("LocalPort"), port);
}

// Reading the file again: a bad value changes nothing and is reported; good
// values are shown, and a new local port moves the listening there.
TEST_F(SettingsTest, ReloadingChecksTheFileAndMovesListeningToANewPort) {
    const std::string first = std::to_string(FreePort());
    platform::RegistryHive(m_config.UserHive())
        .WriteValue(kParams, "LocalPort", platform::RegValue::String(first));
    std::vector<std::string> boxes;
    platform::SetMessageBoxHook([&](const std::string& text, const std::string&, unsigned flags) {
        boxes.push_back(text);
        return platform::DefaultButton(flags);
    });
    MainWindow window;
    ASSERT_TRUE(window.Core().Listening());
    const std::string second = std::to_string(FreePort());
    platform::RegistryHive hive(m_config.UserHive());
    hive.WriteValue(kParams, "LocalPort", platform::RegValue::String(second));
    hive.WriteValue(kParams, "Kodowanie", platform::RegValue::String("no-such-charset"));
    window.ReloadSettings();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("Kodowanie: nieznany zestaw znaków „no-such-charset”"),
              std::string::npos)
        << boxes[0];
    EXPECT_EQ(window.Core().Settings().LocalPort, first);
    EXPECT_EQ(window.Core().Settings().Kodowanie, "");

    hive.WriteValue(kParams, "Kodowanie", platform::RegValue::String("iso-8859-2"));
    window.ReloadSettings();
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(window.Core().Settings().Kodowanie, "iso-8859-2");
    EXPECT_EQ(window.KodowanieCB->currentText().toStdString(), "iso-8859-2");
    EXPECT_EQ(Text(window.LocalPort_), second);
    EXPECT_TRUE(window.Core().Listening());
    EXPECT_EQ(window.Core().WSocketServer().Port(), second);
    platform::SetMessageBoxHook(nullptr);
}

}  // namespace
}  // namespace sitowiak::proxy

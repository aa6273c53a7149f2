#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "platform/core/FileUtil.h"
#include "platform/core/RegistryHive.h"
#include "platform/gui/MessageBox.h"
#include "proxy/window/TFormaBezdokumentowaPozycjonowanaStopkaNiusowa.h"
#include "tests/support/TestApp.h"

namespace sitowiak::proxy {
namespace {

using MainWindow = TFormaBezdokumentowaPozycjonowanaStopkaNiusowa;
constexpr const char* kParams = "HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\Parametry";

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

TEST_F(SettingsTest, AFirstRunUsesTheDefaultsAndStoresItsValues) {
    {
        MainWindow window;
        EXPECT_EQ(Text(window.LocalPort_), "888");
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
    EXPECT_EQ(Stored("LocalPort"), "888");
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

TEST_F(SettingsTest, HandEditedValuesAreReadAndARunThatChangesNothingKeepsThem) {
    std::filesystem::create_directories(m_config.UserHive().parent_path());
    const std::string original =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\Software\\Another\\Program]\n\"Keep\"=\"me\"\n\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\Parametry]\n"
        "\"Aktywne\"=\"2\"\n\"Kodowanie\"=\"x-mac-ce\"\n\"Zawartosc\"=\"text/html\"\n"
        "\"KodowanieNieoznaczonych\"=\"iso-8859-2\"\n"
        "\"Logowanie\"=\"1\"\n\"Style\"=\"0\"\n\"LocalPort\"=\"1119\"\n";
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
        EXPECT_EQ(Text(window.LocalPort_), "1119");
    }
    EXPECT_EQ(Stored("Aktywne"), "1");
    EXPECT_EQ(Stored("Kodowanie"), "x-mac-ce");
    EXPECT_EQ(Stored("Zawartosc"), "text/html");
    EXPECT_EQ(Stored("KodowanieNieoznaczonych"), "iso-8859-2");
    EXPECT_EQ(Stored("Logowanie"), "1");
    EXPECT_EQ(Stored("Style"), "0");
    EXPECT_EQ(Stored("LocalPort"), "1119");
    auto other = platform::RegistryHive(m_config.UserHive())
                     .ReadValue("HKEY_CURRENT_USER\\Software\\Another\\Program", "Keep");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->data, "me");
}

TEST_F(SettingsTest, ComboChoicesBecomeTheForcedValues) {
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
    platform::RegistryHive(m_config.UserHive())
        .WriteValue(kParams, "Aktywne", platform::RegValue::String("0"));
    MainWindow window;
    EXPECT_FALSE(window.Core().Listening());
    EXPECT_EQ(window.ListenBtn->text().toStdString(), "Nasłuchuj");
    EXPECT_TRUE(window.RemoteAddr->isEnabled());
    window.ListenBtn->click();
    EXPECT_TRUE(window.Core().Listening());
    EXPECT_FALSE(window.RemotePort->isEnabled());
}

// A port nothing listens on now, for both address families.
int FreePort() {
    int fd = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        ADD_FAILURE() << "no free port";
    close(fd);
    return ntohs(address.sin6_port);
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

}  // namespace
}  // namespace sitowiak::proxy

#include "CommandLineStep.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/core/ProductIdentity.h"
#include "platform/core/RegistryStore.h"
#include "proxy/core/ProxyCore.h"
#include "proxy/core/SettingsCommands.h"
#include "proxy/modes/CommandLineModes.h"

namespace sitowiak::proxy {
namespace {

constexpr char kHelp[] =
    "Użycie: sitowiak [-nainternet DRZEWO/ | -nainternet is | -zarejestruj |\n"
    "                 --settings | --set NAZWA=WARTOŚĆ...]\n"
    "\n"
    "Sitowiak to filtrujący pośrednik (proxy) grup dyskusyjnych Usenet (NNTP)\n"
    "działający na komputerze czytelnika. Czytnik łączy się z portem żądań\n"
    "Sitowiaka (domyślnie 888), a Sitowiak przekazuje ruch do serwera grup,\n"
    "po drodze przekodowując artykuły (ARTICLE) i nagłówki (XOVER) na wybrany\n"
    "zestaw znaków, odrzucając części wieloczęściowych artykułów innego typu\n"
    "i dopisując stopkę do wysyłanych artykułów. Listy wzorców adresów\n"
    "decydują, kto może czytać, a kto wysyłać.\n"
    "\n"
    "Bez argumentów Sitowiak otwiera okno ustawień i nasłuchuje (bez ekranu\n"
    "działa tak samo, z oknami poza ekranem).\n"
    "\n"
    "Tryby:\n"
    "  -zarejestruj          dopisuje Sitowiaka do autostartu sesji\n"
    "                        (~/.config/autostart/Sitowiak.desktop) i uruchamia go\n"
    "  -nainternet DRZEWO/   publikuje pliki programu w drzewie dystrybucyjnym\n"
    "  -nainternet is        zapisuje projekt instalatora sitowiak.iwz\n"
    "  --settings            wypisuje każde ustawienie z wartością (NAZWA=WARTOŚĆ)\n"
    "  --set NAZWA=WARTOŚĆ...\n"
    "                        sprawdza i zapisuje ustawienia; przy złej nazwie albo\n"
    "                        wartości niczego nie zmienia i kończy się kodem 2.\n"
    "                        Kodowanie, KodowanieNieoznaczonych: znany zestaw\n"
    "                        znaków albo pusta; LocalPort, RemotePort: numer albo\n"
    "                        nazwa usługi; Szyfrowanie: pusta, TLS albo STARTTLS;\n"
    "                        OdciskSerwera: 64 cyfry szesnastkowe (dwukropki\n"
    "                        wolno); SocksPoziom: 5, 4A, 4 albo pusta; Aktywne,\n"
    "                        Style, Logowanie, IgnorowanieBlednych: 0 albo 1\n"
    "  -h, --help            wypisuje ten opis\n"
    "  --version             wypisuje wersję\n"
    "\n"
    "Ustawienia: ${XDG_CONFIG_HOME:-~/.config}/sitowiak/user.reg, klucz\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\Parametry]. Sitowiak czyta je\n"
    "przy starcie, a przy zamknięciu zapisuje tylko to, co sam zmienił, więc\n"
    "zmiany wpisane w międzyczasie zostają. SIGHUP każe działającej kopii\n"
    "odczytać plik ponownie (połączeni czytelnicy zostają); SIGINT i SIGTERM\n"
    "zamykają program tak jak zamknięcie okna. Na jednym folderze ustawień\n"
    "działa jedna kopia; druga kończy się kodem 1.\n"
    "\n"
    "Bez ekranu każde zdarzenie (start, nasłuchiwanie, czytelnicy, błędy serwera\n"
    "grup, koniec pracy) to jeden wiersz na standardowym wyjściu błędów,\n"
    "poprzedzony priorytetem <3>, <4> albo <6>. Gdy nie da się nasłuchiwać,\n"
    "program kończy się kodem 1.\n";

std::string ProductName() {
    platform::ProductIdentity identity;
    platform::ReadVersionInfo(platform::ProgramFile(), identity);
    return identity.ProductName.empty() ? "Sitowiak" : identity.ProductName;
}

}  // namespace

std::optional<int> CommandLineStep(int argc, char** argv) {
    const char* first = argc > 1 ? argv[1] : "";
    if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (std::strcmp(first, "--version") == 0) {
        platform::ProductIdentity identity;
        platform::ReadVersionInfo(platform::ProgramFile(), identity);
        std::printf("%s %s\n",
                    identity.ProductName.empty() ? "Sitowiak" : identity.ProductName.c_str(),
                    VersionText(identity.ProductVersion).c_str());
        return 0;
    }
    if (std::strcmp(first, "--settings") == 0) {
        platform::RegistryStore store(ProductName());
        return PrintSettings(store, stdout, stderr);
    }
    if (std::strcmp(first, "--set") == 0) {
        platform::RegistryStore store(ProductName());
        return SetSettings(store, std::vector<std::string>(argv + 2, argv + argc), stdout, stderr);
    }
    if (std::strcmp(first, kModeDistribution) == 0) return RunDistributionMode(argc, argv);
    if (std::strcmp(first, kModeRegistration) == 0) return RunRegistrationMode(argc, argv);
    return std::nullopt;
}

}  // namespace sitowiak::proxy

#include "CommandLineStep.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/core/ProductIdentity.h"
#include "proxy/modes/CommandLineModes.h"

namespace sitowiak::proxy {
namespace {

constexpr char kHelp[] =
    "Użycie: sitowiak [-nainternet DRZEWO/ | -nainternet is | -zarejestruj]\n"
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
    "  -h, --help            wypisuje ten opis\n"
    "  --version             wypisuje wersję\n"
    "\n"
    "Ustawienia: ${XDG_CONFIG_HOME:-~/.config}/sitowiak/user.reg, klucz\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\Parametry]. Sitowiak czyta je\n"
    "przy starcie i zapisuje przy zamknięciu. SIGINT, SIGTERM i SIGHUP zamykają\n"
    "program tak jak zamknięcie okna.\n";

// The product version's four 16-bit parts: "5.0.0.48".
std::string VersionText(uint64_t v) {
    return std::to_string(v >> 48) + "." + std::to_string((v >> 32) & 0xFFFF) + "." +
           std::to_string((v >> 16) & 0xFFFF) + "." + std::to_string(v & 0xFFFF);
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
    if (std::strcmp(first, kModeDistribution) == 0) return RunDistributionMode(argc, argv);
    if (std::strcmp(first, kModeRegistration) == 0) return RunRegistrationMode(argc, argv);
    return std::nullopt;
}

}  // namespace sitowiak::proxy

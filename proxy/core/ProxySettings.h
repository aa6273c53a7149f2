// The proxy's settings: one typed value owned by the proxy core, the
// value names in the section "Parametry" of the product's registry key, and
// their defaults. The window shows the value and writes every change into it
// at once; the listener and the relay read it at the moment they need it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/RegistryStore.h"

namespace sitowiak::proxy {

namespace settings {

inline constexpr char kSection[] = "Parametry";

struct TextSetting {
    const char* name;
    const char* fallback;
};
struct BoolSetting {
    const char* name;
    bool fallback;
};

inline constexpr TextSetting kLocalPort{"LocalPort", "888"};
inline constexpr TextSetting kRemotePort{"RemotePort", "nntp"};
// A public news server that lets anyone read without an account.
inline constexpr TextSetting kAddress{"Address", "news.gmane.io"};
inline constexpr BoolSetting kAktywne{"Aktywne", true};
inline constexpr TextSetting kKodowanie{"Kodowanie", ""};
inline constexpr BoolSetting kStyle{"Style", true};
inline constexpr TextSetting kZawartosc{"Zawartosc", ""};
inline constexpr BoolSetting kLogowanie{"Logowanie", false};
inline constexpr TextSetting kReadAccess{"ReadAccess", "*"};
// The maker's own sites, then the local machine. Only address patterns can
// match a reader, so in practice only the same machine (127.0.0.1 over
// IPv4, ::1 over IPv6) may post by default.
inline constexpr TextSetting kWriteAccess{
    "WriteAccess",
    "*.plaskun.example;*.sitowiak.example;*.plaskun.test;*.pla.example;127.0.0.1;::1;localhost"};
inline constexpr BoolSetting kIgnorowanieBlednych{"IgnorowanieBlednych", true};
// How the connection to the news server is protected: empty for none, "TLS"
// for TLS from the first byte (usually port 563), "STARTTLS" for TLS asked
// for after the greeting. Empty by default, so stores made before it keep
// working as they did.
inline constexpr TextSetting kSzyfrowanie{"Szyfrowanie", ""};
// The SHA-256 of the one certificate the news server may show instead of
// one the trust store vouches for (a self-signed server): hex, colons
// allowed. Empty: the certificate is verified normally. No control.
inline constexpr TextSetting kOdciskSerwera{"OdciskSerwera", ""};
// The charset of text that names none (the undeclared charset): unlabelled
// 8-bit bodies and raw overview bytes that are not UTF-8 are read in it
// when they are re-encoded. Empty: such text is left as it came.
inline constexpr TextSetting kKodowanieNieoznaczonych{"KodowanieNieoznaczonych", ""};

// The way to the news server through a SOCKS server: "SocksSerwer" is its
// name or address with an optional ":port" (1080 when none); empty, the
// default, connects directly. "SocksPoziom" is "5", "4A" or "4" ("5" when
// empty); with "5" and "4A" the SOCKS server looks the news server's name
// up. User name and password go to a SOCKS 5 server only, empty for none.
inline constexpr TextSetting kSocksSerwer{"SocksSerwer", ""};
inline constexpr TextSetting kSocksPoziom{"SocksPoziom", ""};
inline constexpr TextSetting kSocksUzytkownik{"SocksUzytkownik", ""};
inline constexpr TextSetting kSocksHaslo{"SocksHaslo", ""};
inline constexpr char kSocksDefaultPort[] = "1080";

// The first item of both combo boxes, standing for "no forced value".
inline constexpr char kNieWymuszaj[] = "<nie wymuszaj>";

// The stored values of "Szyfrowanie" besides the empty one.
inline constexpr char kSzyfrowanieTls[] = "TLS";
inline constexpr char kSzyfrowanieStartTls[] = "STARTTLS";

}  // namespace settings

struct ProxySettings {
    std::string LocalPort = settings::kLocalPort.fallback;
    std::string RemotePort = settings::kRemotePort.fallback;
    std::string Address = settings::kAddress.fallback;
    bool Aktywne = settings::kAktywne.fallback;
    std::string Kodowanie = settings::kKodowanie.fallback;  // forced charset, empty for none
    bool Style = settings::kStyle.fallback;
    std::string Zawartosc = settings::kZawartosc.fallback;  // forced content type, empty for none
    bool Logowanie = settings::kLogowanie.fallback;         // read at start, never stored
    std::string ReadAccess = settings::kReadAccess.fallback;
    std::string WriteAccess = settings::kWriteAccess.fallback;
    bool IgnorowanieBlednych = settings::kIgnorowanieBlednych.fallback;
    std::string Szyfrowanie = settings::kSzyfrowanie.fallback;
    std::string OdciskSerwera = settings::kOdciskSerwera.fallback;
    std::string SocksSerwer = settings::kSocksSerwer.fallback;
    std::string SocksPoziom = settings::kSocksPoziom.fallback;
    std::string SocksUzytkownik = settings::kSocksUzytkownik.fallback;
    std::string SocksHaslo = settings::kSocksHaslo.fallback;
    std::string KodowanieNieoznaczonych = settings::kKodowanieNieoznaczonych.fallback;

    bool operator==(const ProxySettings&) const = default;
};

enum class Encryption : uint8_t {
    None,      // cleartext
    Tls,       // TLS from the first byte
    StartTls,  // STARTTLS after the greeting
    Unknown,   // a stored value that names neither: nothing is sent in the clear
};

// "Szyfrowanie" as the relay uses it; letter case and surrounding blanks do
// not count.
Encryption EncryptionOf(std::string_view stored);

// One setting of the table: its value name and where it lives in the
// value, as text or as a flag.
struct SettingEntry {
    const char* name;
    std::string ProxySettings::*text = nullptr;
    bool ProxySettings::*flag = nullptr;
};
// All thirteen, in the order they are shown.
const std::vector<SettingEntry>& SettingEntries();
// The entry whose name is `name` (any letter case), or none.
const SettingEntry* FindSetting(std::string_view name);
// The value as stored: text as it is, a flag as "1" or "0".
std::string ValueText(const ProxySettings& values, const SettingEntry& entry);
// Sets the value from stored text, which SettingProblem has accepted.
void SetValueText(ProxySettings& values, const SettingEntry& entry, const std::string& text);

// Why `text` cannot be the value of `entry`, in Polish, or empty when it
// can. The text may be put in its usual form (a flag's "1" or "0", the
// encryption's word in capitals, blanks around dropped).
std::string SettingProblem(const SettingEntry& entry, std::string& text);

// Every value from one read of the hive; a missing or unreadable value gives
// its default.
ProxySettings LoadProxySettings(const platform::RegistryStore& store);
// The same from a snapshot; `present`, when given, learns which names the
// snapshot holds.
ProxySettings LoadProxySettings(const platform::RegistryStore::Snapshot& hive,
                                std::vector<std::string>* present = nullptr);

// Every value but "Logowanie" in the fixed order of storing; with `base`,
// only the values that differ from it or are not in `present`. Inside a
// RegistryStore::Batch they go to the hive in its one write.
bool StoreProxySettings(platform::RegistryStore& store, const ProxySettings& values,
                        const ProxySettings* base = nullptr,
                        const std::vector<std::string>* present = nullptr);

}  // namespace sitowiak::proxy

// The proxy's eleven settings: one typed value owned by the proxy core, the
// value names in the section "Parametry" of the product's registry key, and
// their defaults. The window shows the value and writes every change into it
// at once; the listener and the relay read it at the moment they need it.
#pragma once

#include <string>

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

// The first item of both combo boxes, standing for "no forced value".
inline constexpr char kNieWymuszaj[] = "<nie wymuszaj>";

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

    bool operator==(const ProxySettings&) const = default;
};

// Every value from one read of the hive; a missing or unreadable value gives
// its default.
ProxySettings LoadProxySettings(const platform::RegistryStore& store);

// Every value but "Logowanie" in the fixed order of storing. Inside a
// RegistryStore::Batch they go to the hive in its one write.
bool StoreProxySettings(platform::RegistryStore& store, const ProxySettings& values);

}  // namespace sitowiak::proxy

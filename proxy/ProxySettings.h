// The proxy's eleven settings: value names in the section "Parametry" of the
// product's registry key, each with its default beside it.
#pragma once

namespace sitowiak::proxy::settings {

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
// match a reader, so in practice only 127.0.0.1 may post by default.
inline constexpr TextSetting kWriteAccess{
    "WriteAccess",
    "*.plaskun.example;*.sitowiak.example;*.plaskun.test;*.pla.example;127.0.0.1;localhost"};
inline constexpr BoolSetting kIgnorowanieBlednych{"IgnorowanieBlednych", true};

// The first item of both combo boxes, standing for "no forced value".
inline constexpr char kNieWymuszaj[] = "<nie wymuszaj>";

}  // namespace sitowiak::proxy::settings

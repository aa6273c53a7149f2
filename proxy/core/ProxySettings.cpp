#include "ProxySettings.h"

#include <algorithm>

namespace sitowiak::proxy {

using namespace settings;

ProxySettings LoadProxySettings(const platform::RegistryStore& store) {
    const platform::RegistryStore::Snapshot hive = store.TakeSnapshot();
    auto text = [&](TextSetting s) { return hive.ReadString(kSection, s.name, s.fallback); };
    auto flag = [&](BoolSetting s) { return hive.ReadBool(kSection, s.name, s.fallback); };
    ProxySettings v;
    v.LocalPort = text(kLocalPort);
    v.RemotePort = text(kRemotePort);
    v.Address = text(kAddress);
    v.Aktywne = flag(kAktywne);
    v.Kodowanie = text(kKodowanie);
    v.Style = flag(kStyle);
    v.Zawartosc = text(kZawartosc);
    v.Logowanie = flag(kLogowanie);
    v.ReadAccess = text(kReadAccess);
    v.WriteAccess = text(kWriteAccess);
    v.IgnorowanieBlednych = flag(kIgnorowanieBlednych);
    v.Szyfrowanie = text(kSzyfrowanie);
    v.OdciskSerwera = text(kOdciskSerwera);
    v.KodowanieNieoznaczonych = text(kKodowanieNieoznaczonych);
    return v;
}

Encryption EncryptionOf(std::string_view stored) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!stored.empty() && blank(stored.front())) stored.remove_prefix(1);
    while (!stored.empty() && blank(stored.back())) stored.remove_suffix(1);
    auto same = [&](std::string_view upper) {
        return stored.size() == upper.size() &&
               std::equal(stored.begin(), stored.end(), upper.begin(), [](char a, char b) {
                   return (a >= 'a' && a <= 'z' ? static_cast<char>(a - 'a' + 'A') : a) == b;
               });
    };
    if (stored.empty()) return Encryption::None;
    if (same(kSzyfrowanieTls)) return Encryption::Tls;
    if (same(kSzyfrowanieStartTls)) return Encryption::StartTls;
    return Encryption::Unknown;
}

bool StoreProxySettings(platform::RegistryStore& store, const ProxySettings& v) {
    bool ok =
        store.WriteString(kSection, kKodowanieNieoznaczonych.name, v.KodowanieNieoznaczonych);
    ok = store.WriteString(kSection, kOdciskSerwera.name, v.OdciskSerwera) && ok;
    ok = store.WriteString(kSection, kSzyfrowanie.name, v.Szyfrowanie) && ok;
    ok = store.WriteBool(kSection, kIgnorowanieBlednych.name, v.IgnorowanieBlednych) && ok;
    ok = store.WriteString(kSection, kWriteAccess.name, v.WriteAccess) && ok;
    ok = store.WriteString(kSection, kReadAccess.name, v.ReadAccess) && ok;
    ok = store.WriteString(kSection, kZawartosc.name, v.Zawartosc) && ok;
    ok = store.WriteBool(kSection, kStyle.name, v.Style) && ok;
    ok = store.WriteString(kSection, kKodowanie.name, v.Kodowanie) && ok;
    ok = store.WriteBool(kSection, kAktywne.name, v.Aktywne) && ok;
    ok = store.WriteString(kSection, kAddress.name, v.Address) && ok;
    ok = store.WriteString(kSection, kRemotePort.name, v.RemotePort) && ok;
    ok = store.WriteString(kSection, kLocalPort.name, v.LocalPort) && ok;
    return ok;
}

}  // namespace sitowiak::proxy

#include "ProxySettings.h"

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
    return v;
}

bool StoreProxySettings(platform::RegistryStore& store, const ProxySettings& v) {
    bool ok = store.WriteBool(kSection, kIgnorowanieBlednych.name, v.IgnorowanieBlednych);
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

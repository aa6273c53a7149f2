#include "ProxySettings.h"

#include <netdb.h>

#include <algorithm>

#include "filter/Charsets.h"

namespace sitowiak::proxy {

using namespace settings;

const std::vector<SettingEntry>& SettingEntries() {
    static const std::vector<SettingEntry> entries = {
        {kLocalPort.name, &ProxySettings::LocalPort},
        {kRemotePort.name, &ProxySettings::RemotePort},
        {kAddress.name, &ProxySettings::Address},
        {kAktywne.name, nullptr, &ProxySettings::Aktywne},
        {kKodowanie.name, &ProxySettings::Kodowanie},
        {kStyle.name, nullptr, &ProxySettings::Style},
        {kZawartosc.name, &ProxySettings::Zawartosc},
        {kLogowanie.name, nullptr, &ProxySettings::Logowanie},
        {kReadAccess.name, &ProxySettings::ReadAccess},
        {kWriteAccess.name, &ProxySettings::WriteAccess},
        {kIgnorowanieBlednych.name, nullptr, &ProxySettings::IgnorowanieBlednych},
        {kSzyfrowanie.name, &ProxySettings::Szyfrowanie},
        {kOdciskSerwera.name, &ProxySettings::OdciskSerwera},
        {kKodowanieNieoznaczonych.name, &ProxySettings::KodowanieNieoznaczonych},
        {kSocksSerwer.name, &ProxySettings::SocksSerwer},
        {kSocksPoziom.name, &ProxySettings::SocksPoziom},
        {kSocksUzytkownik.name, &ProxySettings::SocksUzytkownik},
        {kSocksHaslo.name, &ProxySettings::SocksHaslo},
    };
    return entries;
}

const SettingEntry* FindSetting(std::string_view name) {
    for (const SettingEntry& e : SettingEntries())
        if (platform::RegNamesEqual(e.name, name)) return &e;
    return nullptr;
}

std::string ValueText(const ProxySettings& v, const SettingEntry& e) {
    if (e.text) return v.*e.text;
    return v.*e.flag ? "1" : "0";
}

void SetValueText(ProxySettings& v, const SettingEntry& e, const std::string& text) {
    if (e.text)
        v.*e.text = text;
    else
        v.*e.flag = platform::ParseDecimal(text).value_or(0) != 0;
}

namespace {

std::string Trimmed(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A port number, or a name the services file knows for TCP.
bool IsPort(const std::string& text) {
    if (!text.empty() &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::optional<int> n = text.size() <= 5 ? platform::ParseDecimal(text) : std::nullopt;
        return n && *n >= 1 && *n <= 65535;
    }
    return !text.empty() && ::getservbyname(text.c_str(), "tcp") != nullptr;
}

}  // namespace

std::string SettingProblem(const SettingEntry& e, std::string& text) {
    if (e.flag) {
        std::string t = Trimmed(text);
        if (t != "0" && t != "1") return "wartość musi być 0 albo 1";
        text = t;
        return {};
    }
    if (e.text == &ProxySettings::LocalPort || e.text == &ProxySettings::RemotePort) {
        text = Trimmed(text);
        if (!IsPort(text))
            return "„" + text + "” nie jest numerem portu (1–65535) ani nazwą usługi TCP";
        return {};
    }
    if (e.text == &ProxySettings::Address) {
        text = Trimmed(text);
        if (text.empty()) return "adres serwera grup nie może być pusty";
        return {};
    }
    if (e.text == &ProxySettings::Kodowanie || e.text == &ProxySettings::KodowanieNieoznaczonych) {
        text = Trimmed(text);
        if (!text.empty() && !filter::KnownCodePageOf(text))
            return "nieznany zestaw znaków „" + text + "”";
        return {};
    }
    if (e.text == &ProxySettings::Szyfrowanie) {
        switch (EncryptionOf(text)) {
            case Encryption::None:
                text.clear();
                return {};
            case Encryption::Tls:
                text = kSzyfrowanieTls;
                return {};
            case Encryption::StartTls:
                text = kSzyfrowanieStartTls;
                return {};
            case Encryption::Unknown:
                break;
        }
        return "„" + text + "” nie jest żadną z wartości: pusta, TLS, STARTTLS";
    }
    if (e.text == &ProxySettings::OdciskSerwera) {
        text = Trimmed(text);
        size_t digits = 0;
        for (char c : text) {
            if (IsHexDigit(c))
                ++digits;
            else if (c != ':')
                return "odcisk może mieć tylko cyfry szesnastkowe i dwukropki";
        }
        if (!text.empty() && digits != 64)
            return "odcisk SHA-256 ma 64 cyfry szesnastkowe, a podano " + std::to_string(digits);
        return {};
    }
    if (e.text == &ProxySettings::SocksPoziom) {
        text = Trimmed(text);
        for (char& c : text)
            if (c == 'a') c = 'A';
        if (!text.empty() && text != "5" && text != "4A" && text != "4")
            return "„" + text + "” nie jest poziomem SOCKS: 5, 4A albo 4";
        return {};
    }
    if (e.text == &ProxySettings::SocksSerwer) {
        text = Trimmed(text);
        return {};
    }
    return {};
}

ProxySettings LoadProxySettings(const platform::RegistryStore& store) {
    return LoadProxySettings(store.TakeSnapshot());
}

ProxySettings LoadProxySettings(const platform::RegistryStore::Snapshot& hive,
                                std::vector<std::string>* present) {
    ProxySettings v;
    for (const SettingEntry& e : SettingEntries()) {
        const std::optional<std::string> text = hive.ReadText(kSection, e.name);
        if (present && text) present->push_back(e.name);
        if (e.text)
            v.*e.text = text.value_or(v.*e.text);
        else if (text)
            v.*e.flag = platform::ParseDecimal(*text).value_or(v.*e.flag ? 1 : 0) != 0;
    }
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

bool StoreProxySettings(platform::RegistryStore& store, const ProxySettings& v,
                        const ProxySettings* base, const std::vector<std::string>* present) {
    bool ok = true;
    const std::vector<SettingEntry>& entries = SettingEntries();
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
        if (e->flag == &ProxySettings::Logowanie) continue;
        const std::string text = ValueText(v, *e);
        if (base && ValueText(*base, *e) == text && present &&
            std::find(present->begin(), present->end(), e->name) != present->end())
            continue;
        ok = store.WriteString(kSection, e->name, text) && ok;
    }
    return ok;
}

}  // namespace sitowiak::proxy

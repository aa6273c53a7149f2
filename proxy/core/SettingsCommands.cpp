#include "SettingsCommands.h"

#include "proxy/core/ProxySettings.h"

namespace sitowiak::proxy {

int PrintSettings(const platform::RegistryStore& store, std::FILE* out, std::FILE* err) {
    if (store.Unreadable()) {
        std::fprintf(err, "Nie można odczytać ustawień z pliku %s (%s).\n", store.File().c_str(),
                     store.Condition().reason.c_str());
        return 1;
    }
    const ProxySettings values = LoadProxySettings(store);
    for (const SettingEntry& e : SettingEntries())
        std::fprintf(out, "%s=%s\n", e.name, ValueText(values, e).c_str());
    return 0;
}

int SetSettings(platform::RegistryStore& store, const std::vector<std::string>& assignments,
                std::FILE* out, std::FILE* err) {
    auto refuse = [&](const std::string& why) {
        std::fprintf(err, "sitowiak --set: %s. Niczego nie zmieniono.\n", why.c_str());
        return 2;
    };
    if (assignments.empty()) return refuse("podaj co najmniej jedno NAZWA=WARTOŚĆ");
    std::vector<std::pair<const SettingEntry*, std::string>> values;
    for (const std::string& a : assignments) {
        const size_t eq = a.find('=');
        if (eq == std::string::npos) return refuse("„" + a + "” nie ma postaci NAZWA=WARTOŚĆ");
        const SettingEntry* entry = FindSetting(a.substr(0, eq));
        if (!entry) {
            std::string known;
            for (const SettingEntry& e : SettingEntries()) known += std::string(" ") + e.name;
            return refuse("nieznane ustawienie „" + a.substr(0, eq) + "” (znane:" + known + ")");
        }
        std::string value = a.substr(eq + 1);
        const std::string problem = SettingProblem(*entry, value);
        if (!problem.empty()) return refuse(std::string(entry->name) + ": " + problem);
        values.emplace_back(entry, value);
    }
    if (store.Unreadable())
        return refuse("nie można odczytać ustawień z pliku " + store.File().string() + " (" +
                      store.Condition().reason + ")");
    platform::RegistryStore::Batch batch(store);
    for (const auto& [entry, value] : values)
        store.WriteString(settings::kSection, entry->name, value);
    if (!batch.Commit()) return refuse("nie można zapisać pliku " + store.File().string());
    for (const auto& [entry, value] : values)
        std::fprintf(out, "%s=%s\n", entry->name, value.c_str());
    return 0;
}

}  // namespace sitowiak::proxy

// Loads the proxy's settings from hives of 1 000 to 64 000 values (other
// programs' values beside ours, as a shared user.reg may hold) and prints the
// time of each load and its ratio to the load of a quarter as many values:
// a load that costs in proportion to the file shows about 4, one that
// compares every value with every other about 16.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/core/RegistryStore.h"
#include "proxy/core/ProxySettings.h"

namespace {

using namespace sitowiak;

std::string Hive(int values) {
    std::string text =
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Inny]\n";
    for (int i = 0; i < values; ++i)
        text += "\"Wartość" + std::to_string(i) + "\"=\"" + std::string(40, 'x') + "\"\n";
    text +=
        "\n[HKEY_CURRENT_USER\\SOFTWARE\\Pląskun\\Sitowiak\\Parametry]\n\"LocalPort\"=\"1119\"\n";
    return text;
}

double SecondsToLoad(int values, const std::filesystem::path& file) {
    std::ofstream(file, std::ios::binary) << Hive(values);
    platform::RegistryStore store("Sitowiak");
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        auto start = std::chrono::steady_clock::now();
        proxy::ProxySettings settings = proxy::LoadProxySettings(store);
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (settings.LocalPort != "1119") std::fprintf(stderr, "wrong value read\n");
        best = std::min(best, took.count());
    }
    return best;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/sitowiak-settings-bench-XXXXXX";
    std::filesystem::path dir = mkdtemp(pattern);
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    std::filesystem::create_directories(dir / "sitowiak");
    const std::filesystem::path file = dir / "sitowiak" / "user.reg";
    std::printf("%8s %12s %10s\n", "values", "load (ms)", "x per 4x");
    double previous = 0;
    for (int values : {1000, 4000, 16000, 64000}) {
        double seconds = SecondsToLoad(values, file);
        if (previous > 0)
            std::printf("%8d %12.2f %10.2f\n", values, seconds * 1e3, seconds / previous);
        else
            std::printf("%8d %12.2f %10s\n", values, seconds * 1e3, "-");
        previous = seconds;
    }
    std::filesystem::remove_all(dir);
    return 0;
}

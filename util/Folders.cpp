#include "Folders.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/core/Registry.h"

namespace sitowiak::util {
namespace {

constexpr char kCurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// $HOME + `relative`; empty when HOME is not set.
std::string InHome(const char* relative) {
    std::string home = Environment("HOME");
    return home.empty() ? "" : home + relative;
}

// An XDG base folder: the variable when set to an absolute path, else
// $HOME + the fallback.
std::string XdgFolder(const char* variable, const char* fallback) {
    std::string value = Environment(variable);
    if (!value.empty() && value.front() == '/') return value;
    return InHome(fallback);
}

std::string InXdgFolder(const char* variable, const char* fallback, const char* relative) {
    std::string base = XdgFolder(variable, fallback);
    return base.empty() ? "" : base + relative;
}

std::string WithoutTrailingSeparator(std::string text) {
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

}  // namespace

std::string WithTrailingSeparator(std::string text) {
    if (!text.empty() && text.back() != '/') text += '/';
    return text;
}

std::string GetSpecialFolder(void*, int folder) {
    switch (folder) {
        case CSIDL_DESKTOP:
            return InHome("/Desktop");
        case CSIDL_PROGRAMS:
            return InXdgFolder("XDG_DATA_HOME", "/.local/share", "/applications");
        case CSIDL_PERSONAL:
            return Environment("HOME");
        case CSIDL_STARTUP:
            return InXdgFolder("XDG_CONFIG_HOME", "/.config", "/autostart");
        case CSIDL_APPDATA:
            return XdgFolder("XDG_CONFIG_HOME", "/.config");
        case CSIDL_LOCAL_APPDATA:
            return XdgFolder("XDG_DATA_HOME", "/.local/share");
        case CSIDL_WINDOWS:
            return WithoutTrailingSeparator(WindowsFolder());
        case CSIDL_SYSTEM:
            return WithoutTrailingSeparator(SystemFolder());
        case CSIDL_PROGRAM_FILES:
            return WithoutTrailingSeparator(ProgramFilesFolder());
        case CSIDL_PROGRAM_FILES_COMMON:
            return WithoutTrailingSeparator(CommonFilesFolder());
        default:
            return "";
    }
}

std::string ReadWindowsSetting(const std::string& name) {
    platform::RegistryHive hive = platform::OpenHive(platform::RegRoot::kLocalMachine);
    std::error_code ec;
    // A hive we could read but not write counts as a key the system refused
    // to open with full access.
    if (std::filesystem::exists(hive.File(), ec) && ::access(hive.File().c_str(), W_OK) != 0)
        return "";
    auto value = hive.ReadValue(
        platform::FullKeyPath(platform::RegRoot::kLocalMachine, kCurrentVersionKey), name);
    return value && value->IsString() ? value->data : "";
}

std::string CommonFilesFolder() {
    std::string folder = ReadWindowsSetting("CommonFilesDir");
    return WithTrailingSeparator(folder.empty() ? "/usr/local" : folder);
}

std::string TempFolder() {
    std::string folder = Environment("TMPDIR");
    return WithTrailingSeparator(folder.empty() ? "/tmp" : folder);
}

std::string WindowsFolder() {
    return "/usr/lib/";
}

std::string SystemFolder() {
    return WindowsFolder() + SITOWIAK_MULTIARCH + "/";
}

std::string ProgramFilesFolder() {
    std::string folder = ReadWindowsSetting("ProgramFilesDir");
    if (folder.empty()) folder = ReadWindowsSetting("ProgramFilesPath");
    return WithTrailingSeparator(folder.empty() ? "/opt" : folder);
}

bool ForceFolders(const std::string& path) {
    std::string folder = WithTrailingSeparator(path);
    if (folder.empty()) return false;
    folder.pop_back();
    if (folder.empty()) return true;  // the root folder
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return std::filesystem::is_directory(folder, ec);
}

}  // namespace sitowiak::util

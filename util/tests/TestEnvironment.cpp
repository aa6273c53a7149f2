#include "TestEnvironment.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/core/Registry.h"

namespace sitowiak::util::testing {

TempHome::TempHome() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/sitowiak-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_root = pattern + "/";
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "TMPDIR"})
        std::filesystem::create_directories(m_root + name);
    SetEnv("HOME", m_root + "HOME");
    SetEnv("XDG_CONFIG_HOME", m_root + "XDG_CONFIG_HOME");
    SetEnv("XDG_DATA_HOME", m_root + "XDG_DATA_HOME");
    SetEnv("TMPDIR", m_root + "TMPDIR");
}

TempHome::~TempHome() {
    for (const auto& [name, value] : m_saved) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    std::error_code ec;
    std::filesystem::remove_all(m_root, ec);
}

void TempHome::SetEnv(const std::string& name, const std::string& value) {
    if (!m_saved.count(name)) {
        const char* old = std::getenv(name.c_str());
        m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    ::setenv(name.c_str(), value.c_str(), 1);
}

void WriteFile(const std::string& file, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary) << content;
}

std::string ReadFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteScript(const std::string& file, const std::string& body) {
    WriteFile(file, "#!/bin/sh\n" + body + "\n");
    ::chmod(file.c_str(), 0755);
}

void SetWindowsSetting(const std::string& name, const std::string& value) {
    using platform::RegRoot;
    platform::OpenHive(RegRoot::kLocalMachine)
        .WriteValue(platform::FullKeyPath(RegRoot::kLocalMachine,
                                          "Software\\Microsoft\\Windows\\CurrentVersion"),
                    name, platform::RegValue::String(value));
}

}  // namespace sitowiak::util::testing

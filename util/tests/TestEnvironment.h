// A temporary home for one test: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and
// TMPDIR point into a fresh folder, which is removed with the object and the
// variables restored. Nothing a test does reaches the real home.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace sitowiak::util::testing {

class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    // The folder, with a trailing "/".
    const std::string& Root() const { return m_root; }
    std::string Path(const std::string& relative) const { return m_root + relative; }
    // Sets a variable for the object's lifetime.
    void SetEnv(const std::string& name, const std::string& value);

private:
    std::string m_root;
    std::map<std::string, std::optional<std::string>> m_saved;
};

// Writes `content` to `file`, creating its folders.
void WriteFile(const std::string& file, const std::string& content);
// The file's content, or "<missing>".
std::string ReadFile(const std::string& file);
// Writes a shell script with execute permission.
void WriteScript(const std::string& file, const std::string& body);
// Writes a string value under HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion.
void SetWindowsSetting(const std::string& name, const std::string& value);

}  // namespace sitowiak::util::testing

// "-zarejestruj": registers the program to start with the desktop session and
// starts a second copy of it in normal mode.
//
// On the Windows NT family (Linux counts as one, platform identifier 2) the
// registration is a shortcut in the Startup folder, here the XDG autostart
// entry "Sitowiak.desktop"; on any other platform it is a value under
// HKEY_LOCAL_MACHINE "...\RunServices". Both pass the autostart argument:
// a double quote, "-d", the program's folder with its trailing "/", a double
// quote, so that a folder with spaces stays one argument.
#pragma once

#include <sys/types.h>

#include <string>

namespace sitowiak::proxy {

inline constexpr int kPlatformWindowsNt = 2;

class RegistrationMode {
public:
    explicit RegistrationMode(std::string programFile, int platformId = kPlatformWindowsNt);

    // Registers, shows the outcome, then starts the second copy whatever the
    // outcome. Returns the copy's pid, or -1 when it could not be started.
    pid_t Run();
    // After Run: whether the program was registered. The registration
    // mode's exit code is 1 when it was not, or when no copy started.
    bool Registered() const { return m_registered; }

    std::string ProgramFolder() const;
    std::string ProgramFileName() const;
    std::string AutostartArgument() const;

private:
    bool CreateAutostartEntry(std::string* error) const;
    bool WriteRunServicesValue() const;
    void ReportOutcome(bool success, const std::string& entryError) const;
    pid_t StartSecondCopy() const;

    std::string m_programFile;
    int m_platformId;
    bool m_registered = false;
};

}  // namespace sitowiak::proxy

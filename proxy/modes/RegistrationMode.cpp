#include "RegistrationMode.h"

#include "platform/core/Registry.h"
#include "platform/gui/MessageBox.h"
#include "util/Folders.h"
#include "util/Process.h"
#include "util/Shortcut.h"

namespace sitowiak::proxy {
namespace {

constexpr char kProductName[] = "Sitowiak";
constexpr char kRunServicesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";

}  // namespace

RegistrationMode::RegistrationMode(std::string programFile, int platformId)
    : m_programFile(std::move(programFile)), m_platformId(platformId) {}

std::string RegistrationMode::ProgramFolder() const {
    return m_programFile.substr(0, m_programFile.rfind('/') + 1);
}

std::string RegistrationMode::ProgramFileName() const {
    return m_programFile.substr(m_programFile.rfind('/') + 1);
}

std::string RegistrationMode::AutostartArgument() const {
    return "\"-d" + ProgramFolder() + "\"";
}

pid_t RegistrationMode::Run() {
    std::string entryError;
    bool success = m_platformId == kPlatformWindowsNt ? CreateAutostartEntry(&entryError)
                                                      : WriteRunServicesValue();
    ReportOutcome(success, entryError);
    m_registered = success;
    return StartSecondCopy();
}

// An entry that cannot be written makes the registration fail, so the user
// learns that the program will not start with the session.
bool RegistrationMode::CreateAutostartEntry(std::string* error) const {
    return util::CreateShortcut(nullptr, util::CSIDL_STARTUP, m_programFile, AutostartArgument(),
                                kProductName, error);
}

bool RegistrationMode::WriteRunServicesValue() const {
    using platform::RegRoot;
    std::string command = "\"" + m_programFile + "\" " + AutostartArgument();
    return platform::OpenHive(RegRoot::kLocalMachine)
        .WriteValue(platform::FullKeyPath(RegRoot::kLocalMachine, kRunServicesKey),
                    ProgramFileName(), platform::RegValue::String(command));
}

// Without a registry the failure is a file the user can mend: the box keeps
// its first line and names the entry and the reason on the next.
void RegistrationMode::ReportOutcome(bool success, const std::string& entryError) const {
    using namespace platform;
    if (!success) {
        MessageBox(entryError.empty() ? "Błąd podczas modyfikacji rejestru.\rZgłoś go producentowi!"
                                      : "Błąd podczas modyfikacji rejestru.\n" + entryError,
                   "Błąd", MB_OK);
        MessageBox("Któregoś z komponentów nie udało się zarejestrować. Rejestracja wstrzymana !",
                   "Błąd rejestracji", MB_OK | MB_ICONERROR);
        return;
    }
    MessageBox(ProgramFileName() + " został zarejestrowany.", "Rejestracja zakończona", MB_OK);
}

// The copy gets the autostart argument as one word, as the command line
// "program "-d<folder>"" gives it on Windows.
pid_t RegistrationMode::StartSecondCopy() const {
    pid_t pid = util::StartProgram(m_programFile, {"-d" + ProgramFolder()});
    if (pid < 0)
        platform::MessageBox("Nie udało się w tym momencie uruchomić serwera", "Błąd",
                             platform::MB_OK);
    return pid;
}

}  // namespace sitowiak::proxy

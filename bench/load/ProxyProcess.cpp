#include "ProxyProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Wire.h"

namespace sitowiak::load {
namespace {

constexpr auto kStartWait = std::chrono::seconds(15);
constexpr auto kStopWait = std::chrono::seconds(30);

// The values the run is started with; each must come back after SIGTERM.
const char* const kStoredValues[] = {
    "\"Kodowanie\"=\"utf-8\"",
    "\"Zawartosc\"=\"text/plain\"",
    "\"Address\"=\"127.0.0.1\"",
};

}  // namespace

ProxyProcess::ProxyProcess(std::string program, std::string configDir, int port, int upstreamPort)
    : m_program(std::move(program)),
      m_configDir(std::move(configDir)),
      m_port(port),
      m_upstreamPort(upstreamPort) {}

ProxyProcess::~ProxyProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

std::string ProxyProcess::SettingsPath() const {
    return m_configDir + "/sitowiak/user.reg";
}

void ProxyProcess::WriteSettings() const {
    std::filesystem::create_directories(m_configDir + "/sitowiak");
    std::ofstream out(SettingsPath(), std::ios::binary);
    out << "Windows Registry Editor Version 5.00\r\n\r\n"
        << "[HKEY_CURRENT_USER\\SOFTWARE\\Pl\xC4\x85skun\\Sitowiak\\Parametry]\r\n"
        << "\"LocalPort\"=\"" << m_port << "\"\r\n"
        << "\"RemotePort\"=\"" << m_upstreamPort << "\"\r\n"
        << "\"Address\"=\"127.0.0.1\"\r\n\"Aktywne\"=\"1\"\r\n"
        << "\"Kodowanie\"=\"utf-8\"\r\n\"Zawartosc\"=\"text/plain\"\r\n"
        << "\"Style\"=\"1\"\r\n\"IgnorowanieBlednych\"=\"1\"\r\n\"Logowanie\"=\"0\"\r\n"
        << "\"ReadAccess\"=\"*\"\r\n\"WriteAccess\"=\"127.0.0.1\"\r\n";
}

bool ProxyProcess::Start() {
    if (!std::filesystem::exists(SettingsPath())) WriteSettings();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::setenv("XDG_CONFIG_HOME", m_configDir.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        int log = ::open((m_configDir + "/proxy.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(log, 1);
        ::dup2(log, 2);
        ::execl(m_program.c_str(), m_program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (auto until = Clock::now() + kStartWait; Clock::now() < until;) {
        if (Wire::Connect(m_port).Valid()) return true;
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

int ProxyProcess::Terminate(std::string& what) {
    ::kill(m_pid, SIGTERM);
    int status = 0;
    pid_t done = 0;
    for (auto until = Clock::now() + kStopWait; done == 0 && Clock::now() < until;) {
        done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_t pid = m_pid;
    m_pid = -1;
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        what = "did not end within 30 s of SIGTERM";
        return -1;
    }
    if (WIFSIGNALED(status)) {
        what = "ended by signal " + std::to_string(WTERMSIG(status));
        return -1;
    }
    what = "exit code " + std::to_string(WEXITSTATUS(status));
    return WEXITSTATUS(status);
}

bool ProxyProcess::SettingsStored(time_t since, std::string& what) const {
    struct stat st {};
    if (::stat(SettingsPath().c_str(), &st) != 0) {
        what = "no settings file";
        return false;
    }
    if (st.st_mtime < since) {
        what = "settings file not written at exit";
        return false;
    }
    std::ifstream in(SettingsPath(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    for (const char* value : kStoredValues)
        if (text.str().find(value) == std::string::npos) {
            what = std::string("stored settings lack ") + value;
            return false;
        }
    if (text.str().find("\"Aktywne\"") == std::string::npos ||
        text.str().find("\"Aktywne\"=\"0\"") != std::string::npos ||
        text.str().find("\"Aktywne\"=dword:00000000") != std::string::npos) {
        what = "listening not stored as on";
        return false;
    }
    what = "settings stored";
    return true;
}

bool ProxyProcess::SetFileLimit(long soft) {
    rlimit now{};
    if (::prlimit(m_pid, RLIMIT_NOFILE, nullptr, &now) != 0) return false;
    if (m_savedSoftLimit < 0) m_savedSoftLimit = static_cast<long>(now.rlim_cur);
    now.rlim_cur = static_cast<rlim_t>(soft > 0 ? soft : m_savedSoftLimit);
    return ::prlimit(m_pid, RLIMIT_NOFILE, &now, nullptr) == 0;
}

Figures ProxyProcess::Read() const {
    Figures f;
    std::string proc = "/proc/" + std::to_string(m_pid);
    if (DIR* dir = ::opendir((proc + "/fd").c_str())) {
        f.fds = 0;
        while (dirent* e = ::readdir(dir))
            if (e->d_name[0] != '.') ++f.fds;
        ::closedir(dir);
    }
    std::ifstream status(proc + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("Threads:")) f.threads = std::stoi(line.substr(8));
        if (line.starts_with("VmRSS:")) f.rssKb = std::stol(line.substr(6));
    }
    return f;
}

}  // namespace sitowiak::load

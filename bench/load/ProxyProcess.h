// The proxy under load as a separate process: started headless with its
// settings in a private configuration folder, watched through /proc, stopped
// with SIGTERM.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <string>

namespace sitowiak::load {

struct Figures {
    int fds = -1;
    int threads = -1;
    long rssKb = -1;
};

class ProxyProcess {
public:
    ProxyProcess(std::string program, std::string configDir, int port, int upstreamPort);
    ~ProxyProcess();

    // Writes the settings the first time, then starts the program and waits
    // until it accepts connections. False when it does not come up.
    bool Start();
    // SIGTERM, then waits for the end. Returns the exit code, or -1 for a
    // crash or a process that had to be killed; `what` says which.
    int Terminate(std::string& what);
    // True when the settings file was written after `since` and still holds
    // the values the run was started with, listening on.
    bool SettingsStored(time_t since, std::string& what) const;
    // Sets the soft limit of open files of the running program (0: restore).
    bool SetFileLimit(long soft);

    Figures Read() const;
    pid_t Pid() const { return m_pid; }
    int Port() const { return m_port; }

private:
    std::string SettingsPath() const;
    void WriteSettings() const;

    std::string m_program, m_configDir;
    int m_port, m_upstreamPort;
    pid_t m_pid = -1;
    long m_savedSoftLimit = -1;
};

}  // namespace sitowiak::load

// One QApplication for a test process, on the offscreen platform, and a
// temporary configuration folder per test.
#pragma once

#include <stdlib.h>

#include <QApplication>

#include <filesystem>

namespace sitowiak::testing {

inline QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "tests";
    static char* argv[] = {name, nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QApplication app(argc, argv);
    return app;
}

class TempConfig {
public:
    TempConfig() {
        char pattern[] = "/tmp/sitowiak-config-XXXXXX";
        m_dir = mkdtemp(pattern);
        setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
    }
    ~TempConfig() { std::filesystem::remove_all(m_dir); }
    std::filesystem::path UserHive() const { return m_dir / "sitowiak" / "user.reg"; }

private:
    std::filesystem::path m_dir;
};

}  // namespace sitowiak::testing

// The two command-line modes run before the program has created its
// application object, yet their message boxes and the progress window need
// one. ModeApplication provides it for the mode's duration: the existing
// application when there is one, otherwise a QApplication of its own on the
// platform that suits the display (offscreen without one).
#pragma once

#include <memory>

class QApplication;

namespace sitowiak::proxy {

class ModeApplication {
public:
    ModeApplication(int argc, char** argv);
    ~ModeApplication();
    ModeApplication(const ModeApplication&) = delete;
    ModeApplication& operator=(const ModeApplication&) = delete;

private:
    int m_argc;  // QApplication keeps a reference to it
    std::unique_ptr<QApplication> m_app;
};

}  // namespace sitowiak::proxy

#include "ModeApplication.h"

#include <QApplication>

#include "platform/gui/Display.h"

namespace sitowiak::proxy {

ModeApplication::ModeApplication(int argc, char** argv) : m_argc(argc) {
    if (QCoreApplication::instance()) return;
    platform::SelectPlatformForDisplay();
    m_app = std::make_unique<QApplication>(m_argc, argv);
}

ModeApplication::~ModeApplication() = default;

}  // namespace sitowiak::proxy

#include "TFormaStandardowa.h"

#include <QApplication>

namespace sitowiak::frame {

TFormaStandardowa::TFormaStandardowa(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("?"));
    resize(544, 375);
    ReadVersionInfo(ProgramFile(), m_identity);
    QString title = QString::fromStdString(m_identity.ProductName);
    QApplication::setApplicationName(title);
    QApplication::setApplicationDisplayName(title);
    setWindowTitle(title);
}

TFormaStandardowa::~TFormaStandardowa() { FreeVersionInfo(m_identity); }

}  // namespace sitowiak::frame

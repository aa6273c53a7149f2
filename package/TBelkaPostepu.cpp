#include "TBelkaPostepu.h"

#include <QLabel>
#include <QProgressBar>

namespace sitowiak::package {

TBelkaPostepu::TBelkaPostepu(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QStringLiteral("Postęp trasmisji"));
    setFixedSize(475, 60);
    NazwaPliku = new QLabel(this);
    NazwaPliku->move(8, 8);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setGeometry(8, 32, 457, 16);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
}

}  // namespace sitowiak::package

// The progress window of a publish run: the name of the content file being
// copied and a bar from 0 to 100. One window serves the whole run and is
// shown only while a file is copied.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

namespace sitowiak::package {

class TBelkaPostepu : public QDialog {
    Q_OBJECT
public:
    explicit TBelkaPostepu(QWidget* parent = nullptr);

    QLabel* NazwaPliku;
    QProgressBar* ProgressBar1;
};

}  // namespace sitowiak::package

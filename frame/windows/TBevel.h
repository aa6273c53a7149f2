// A bevel that stands for a strip along its parent's left edge and draws
// only that strip's right edge, as a sunken line: it separates a column of
// controls from the rest of the window.
#pragma once

#include <QWidget>

namespace sitowiak::frame {

class TBevel : public QWidget {
    Q_OBJECT
public:
    // A strip `width` pixels wide, as tall as `parent` at any size.
    TBevel(QWidget* parent, int width);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace sitowiak::frame

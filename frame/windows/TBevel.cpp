#include "TBevel.h"

#include <QEvent>
#include <QPainter>

namespace sitowiak::frame {

TBevel::TBevel(QWidget* parent, int width) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, width, parent->height());
    parent->installEventFilter(this);
    lower();
}

bool TBevel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        resize(width(), parentWidget()->height());
    return QWidget::eventFilter(watched, event);
}

void TBevel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    int x = width() - 2;
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(x, 0, x, height());
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(x + 1, 0, x + 1, height());
}

}  // namespace sitowiak::frame

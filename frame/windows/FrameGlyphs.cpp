#include "FrameGlyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace sitowiak::frame {
namespace {

// Drawing is done on a 16-unit grid and scaled to the pixmap's size.
QPixmap Canvas(int size, QPainter& painter) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    painter.begin(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    return pixmap;
}

QPixmap ExitPixmap(int size) {
    QPainter p;
    QPixmap pixmap = Canvas(size, p);
    p.setPen(QPen(QColor(0x5a, 0x3a, 0x1e), 0.8));
    p.setBrush(QColor(0xb0, 0x7a, 0x45));
    p.drawRect(QRectF(2.5, 1.5, 7, 13));  // the door
    p.setBrush(QColor(0xf0, 0xd0, 0x60));
    p.drawEllipse(QPointF(8, 8), 0.8, 0.8);  // its knob
    QPainterPath arrow;
    arrow.moveTo(8.5, 6.5);
    arrow.lineTo(12, 6.5);
    arrow.lineTo(12, 4.5);
    arrow.lineTo(15.5, 8);
    arrow.lineTo(12, 11.5);
    arrow.lineTo(12, 9.5);
    arrow.lineTo(8.5, 9.5);
    arrow.closeSubpath();
    p.setPen(QPen(QColor(0x1d, 0x5e, 0x20), 0.7));
    p.setBrush(QColor(0x3c, 0xb0, 0x44));
    p.drawPath(arrow);
    p.end();
    return pixmap;
}

void DrawReed(QPainter& p, qreal x, qreal top, qreal lean) {
    p.setPen(QPen(QColor(0x2e, 0x7d, 0x32), 0.9, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(x, 14.5), QPointF(x + lean, top));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x6d, 0x4c, 0x2f));
    p.drawRoundedRect(QRectF(x + lean * 0.75 - 0.9, top + 1.2, 1.8, 4.2), 0.9, 0.9);
}

}  // namespace

QIcon ExitGlyph() {
    QIcon icon;
    for (int size : {16, 24}) icon.addPixmap(ExitPixmap(size));
    return icon;
}

QPixmap ProductIconPixmap(int size) {
    QPainter p;
    QPixmap pixmap = Canvas(size, p);
    QLinearGradient sky(0, 0, 0, 16);
    sky.setColorAt(0, QColor(0x9f, 0xd8, 0xe8));
    sky.setColorAt(1, QColor(0x2b, 0x86, 0x9b));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
    p.setBrush(QColor(0x1f, 0x5f, 0x78));
    p.drawRoundedRect(QRectF(0.5, 12, 15, 3.5), 1.5, 1.5);  // water
    DrawReed(p, 5, 2.5, -1.2);
    DrawReed(p, 8, 1.5, 0.3);
    DrawReed(p, 11, 3.5, 1.4);
    p.end();
    return pixmap;
}

QIcon ProductIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(ProductIconPixmap(size));
    return icon;
}

}  // namespace sitowiak::frame

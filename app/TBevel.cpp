#include "app/TBevel.h"

#include <QPainter>

TBevel::TBevel(QWidget* parent, TBevelShape shape, TBevelStyle style)
    : QWidget(parent), shape_(shape), style_(style)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TBevel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QColor highlight = palette().color(QPalette::Light);
    const QColor shadow = palette().color(QPalette::Dark);
    const QColor topLeft = style_ == bsLowered ? shadow : highlight;
    const QColor bottomRight = style_ == bsLowered ? highlight : shadow;
    const int right = width() - 1;
    const int bottom = height() - 1;
    if (shape_ == bsTopLine) {
        painter.setPen(topLeft);
        painter.drawLine(0, 0, right, 0);
        painter.setPen(bottomRight);
        painter.drawLine(0, 1, right, 1);
        return;
    }
    if (shape_ == bsFrame) {
        // Two offset one-pixel boxes give the etched look of a frame.
        painter.setPen(topLeft);
        painter.drawRect(0, 0, right - 1, bottom - 1);
        painter.setPen(bottomRight);
        painter.drawRect(1, 1, right - 1, bottom - 1);
        return;
    }
    painter.setPen(topLeft);
    painter.drawLine(0, 0, right, 0);
    painter.drawLine(0, 0, 0, bottom);
    painter.setPen(bottomRight);
    painter.drawLine(right, 0, right, bottom);
    painter.drawLine(0, bottom, right, bottom);
}

#include "app/TShape.h"

#include <QPainter>

TShape::TShape(QWidget* parent, QColor brush, QColor pen)
    : QWidget(parent), brush_(brush), pen_(pen)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), brush_);
    painter.setPen(pen_);
    painter.drawRect(0, 0, width() - 1, height() - 1);
}

#include "app/TStatusBar.h"

#include <QEvent>
#include <QPainter>

namespace {
constexpr int kBarHeight = 19;
}

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent)
{
    parent->installEventFilter(this);
    followParent();
}

void TStatusBar::SetSimpleText(const QString& text)
{
    if (simpleText_ == text)
        return;
    simpleText_ = text;
    if (simplePanel_)
        update();
}

void TStatusBar::SetSimplePanel(bool simple)
{
    if (simplePanel_ == simple)
        return;
    simplePanel_ = simple;
    update();
}

void TStatusBar::followParent()
{
    const QWidget* page = parentWidget();
    setGeometry(0, page->height() - kBarHeight, page->width(), kBarHeight);
}

bool TStatusBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        followParent();
    return QWidget::eventFilter(watched, event);
}

void TStatusBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    const QRect box = rect().adjusted(0, 2, -1, -1);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(box.topLeft(), box.topRight());
    painter.drawLine(box.topLeft(), box.bottomLeft());
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(box.bottomLeft(), box.bottomRight());
    painter.drawLine(box.topRight(), box.bottomRight());
    painter.setPen(palette().color(QPalette::WindowText));
    if (simplePanel_) {
        painter.drawText(box.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter, simpleText_);
        return;
    }
    int left = 0;
    for (const auto& panel : Panels) {
        const QRect cell(left, box.top(), panel.Width, box.height());
        painter.drawText(cell.adjusted(2, 0, -2, 0), panel.Alignment | Qt::AlignVCenter,
                         panel.Text);
        left += panel.Width;
    }
}

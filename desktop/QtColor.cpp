#include "desktop/QtColor.h"

#include <QApplication>
#include <QPalette>

namespace {

// The palette role that stands for a system colour.
QColor systemColor(int index)
{
    const QPalette palette = QApplication::palette();
    switch (index) {
    case 5:
        return palette.color(QPalette::Base); // clWindow
    case 6:
        return palette.color(QPalette::Shadow); // clWindowFrame
    case 7:
        return palette.color(QPalette::WindowText); // clMenuText
    case 8:
        return palette.color(QPalette::WindowText); // clWindowText
    case 13:
        return palette.color(QPalette::Highlight); // clHighlight
    case 14:
        return palette.color(QPalette::HighlightedText); // clHighlightText
    case 15:
        return palette.color(QPalette::Button); // clBtnFace
    case 16:
        return palette.color(QPalette::Dark); // clBtnShadow
    case 17:
        return palette.color(QPalette::Disabled, QPalette::WindowText); // clGrayText
    case 18:
        return palette.color(QPalette::ButtonText); // clBtnText
    case 20:
        return palette.color(QPalette::Light); // clBtnHighlight
    case 21:
        return palette.color(QPalette::Shadow); // cl3DDkShadow
    case 22:
        return palette.color(QPalette::Midlight); // cl3DLight
    case 23:
        return palette.color(QPalette::ToolTipText); // clInfoText
    case 24:
        return palette.color(QPalette::ToolTipBase); // clInfoBk
    case 4:
        return palette.color(QPalette::Window); // clMenu
    case 12:
        return palette.color(QPalette::Dark); // clAppWorkSpace
    default:
        return palette.color(QPalette::Window);
    }
}

} // namespace

QColor toQColor(TColor color)
{
    if (color & clSystemColor)
        return systemColor(color & 0xFF);
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

TColor ColorToRGB(TColor color)
{
    const QColor c = toQColor(color);
    return RGBColor(c.red(), c.green(), c.blue());
}

#include "controls/LabelText.h"

#include "desktop/TCanvas.h"

#include <QFont>
#include <QPainter>

unsigned LabelTextFlags(TAlignment alignment, bool wordWrap, bool showAccelChar)
{
    unsigned flags = DT_EXPANDTABS;
    switch (alignment) {
    case taLeftJustify:
        flags |= DT_LEFT;
        break;
    case taRightJustify:
        flags |= DT_RIGHT;
        break;
    case taCenter:
        flags |= DT_CENTER;
        break;
    }
    if (wordWrap)
        flags |= DT_WORDBREAK;
    if (!showAccelChar)
        flags |= DT_NOPREFIX;
    return flags;
}

QRect MeasureLabelText(const QFont& font, const QRect& rect, unsigned flags, const QString& text)
{
    TCanvas canvas;
    canvas.Font.Font = font;
    TRect bounds = TRect::fromQRect(rect);
    canvas.DrawText(text.toStdString(), bounds, flags | DT_CALCRECT);
    return bounds.toQRect();
}

QString MeasurableCaption(const QString& caption, bool showAccelChar)
{
    if (caption.isEmpty() || (showAccelChar && caption == QStringLiteral("&")))
        return caption + QLatin1Char(' ');
    return caption;
}

void DrawLabelText(QPainter& painter, const QFont& font, const QRect& rect, unsigned flags,
                   const QString& text, TColor color)
{
    TCanvas canvas(&painter);
    canvas.Font.Font = font;
    canvas.Font.Color = color;
    canvas.Brush.Style = bsClear;
    TRect bounds = TRect::fromQRect(rect);
    canvas.DrawText(text.toStdString(), bounds, flags);
}

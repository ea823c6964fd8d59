#include "desktop/DesignStyle.h"

#include "desktop/DesignFont.h"

#include <QPainter>

void DesignStyle::drawItemText(QPainter* painter, const QRect& rect, int flags,
                               const QPalette& palette, bool enabled, const QString& text,
                               QPalette::ColorRole textRole) const
{
    // Disabled text keeps the base style's own look.
    if (text.isEmpty() || !enabled || !DesignFont::NeedsEmboldening(painter->font())) {
        QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, textRole);
        return;
    }
    const QPen savedPen = painter->pen();
    if (textRole != QPalette::NoRole)
        painter->setPen(QPen(palette.brush(textRole), savedPen.widthF()));
    DesignFont::DrawText(*painter, rect, flags, text);
    painter->setPen(savedPen);
}

#pragma once

#include "core/TAlignment.h"
#include "imaging/GraphicsTypes.h"

#include <QRect>
#include <QString>

class QFont;
class QPainter;

// Text drawing shared by the title labels: the flags they draw with, and measuring a caption the
// way it will be drawn. Both go through the canvas's DrawText with the platform's flags.

// The horizontal alignment, tab expansion, word breaks when wordWrap is set, and no accelerator
// processing unless showAccelChar is set.
unsigned LabelTextFlags(TAlignment alignment, bool wordWrap, bool showAccelChar);

// The rectangle that text drawn into rect with flags takes: it starts at rect's top-left corner.
QRect MeasureLabelText(const QFont& font, const QRect& rect, unsigned flags, const QString& text);

// What a label measures in place of its caption: an empty caption, or a lone accelerator mark,
// still takes the height of one line.
QString MeasurableCaption(const QString& caption, bool showAccelChar);

// Draws text into rect in color without touching the background.
void DrawLabelText(QPainter& painter, const QFont& font, const QRect& rect, unsigned flags,
                   const QString& text, TColor color);

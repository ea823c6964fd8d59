#include "controls/TRxLabel.h"

#include "controls/LabelText.h"
#include "desktop/QtColor.h"
#include "imaging/GraphicsTypes.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>

namespace {

constexpr QSize kDefaultSize(65, 17);
constexpr int kMaxShadowSize = 255;

QPoint shadowOffset(TShadowPosition position, int size)
{
    switch (position) {
    case spLeftTop:
        return QPoint(-size, -size);
    case spLeftBottom:
        return QPoint(-size, size);
    case spRightBottom:
        return QPoint(size, size);
    case spRightTop:
        return QPoint(size, -size);
    }
    return QPoint();
}

} // namespace

TRxLabel::TRxLabel(QWidget* parent) : QWidget(parent)
{
    resize(kDefaultSize);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

TRxLabel::~TRxLabel() = default;

void TRxLabel::changed()
{
    adjustBounds();
    update();
}

void TRxLabel::SetCaption(const QString& caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    changed();
}

void TRxLabel::SetAlignment(TAlignment alignment)
{
    if (alignment == alignment_)
        return;
    alignment_ = alignment;
    update();
}

void TRxLabel::SetLayout(TTextLayout layout)
{
    if (layout == layout_)
        return;
    layout_ = layout;
    update();
}

void TRxLabel::SetAutoSize(bool autoSize)
{
    if (autoSize == autoSize_)
        return;
    autoSize_ = autoSize;
    changed();
}

void TRxLabel::SetShowAccelChar(bool showAccelChar)
{
    if (showAccelChar == showAccelChar_)
        return;
    showAccelChar_ = showAccelChar;
    changed();
}

void TRxLabel::SetWordWrap(bool wordWrap)
{
    if (wordWrap == wordWrap_)
        return;
    wordWrap_ = wordWrap;
    changed();
}

void TRxLabel::SetShadowColor(TColor color)
{
    if (color == shadowColor_)
        return;
    shadowColor_ = color;
    update();
}

void TRxLabel::SetShadowSize(int size)
{
    size = std::clamp(size, 0, kMaxShadowSize);
    if (size == shadowSize_)
        return;
    shadowSize_ = size;
    changed();
}

void TRxLabel::SetShadowPos(TShadowPosition position)
{
    if (position == shadowPos_)
        return;
    shadowPos_ = position;
    update();
}

void TRxLabel::SetTransparent(bool transparent)
{
    if (transparent == transparent_)
        return;
    transparent_ = transparent;
    setAttribute(Qt::WA_OpaquePaintEvent, !transparent_);
    update();
}

void TRxLabel::SetColor(TColor color)
{
    if (color == color_)
        return;
    color_ = color;
    update();
}

void TRxLabel::SetFontColor(TColor color)
{
    if (color == fontColor_)
        return;
    fontColor_ = color;
    update();
}

unsigned TRxLabel::textFlags() const
{
    return LabelTextFlags(alignment_, wordWrap_, showAccelChar_);
}

QSize TRxLabel::TextExtent() const
{
    const QRect room(1, 0, std::max(width() - 2, 0), height());
    const QRect measured =
        MeasureLabelText(font(), room, textFlags(), MeasurableCaption(caption_, showAccelChar_));
    return QSize(measured.width() + 2 + shadowSize_, measured.height() + shadowSize_);
}

void TRxLabel::adjustBounds()
{
    if (!autoSize_)
        return;
    const QSize extent = TextExtent();
    const int newWidth = wordWrap_ ? width() : extent.width();
    // A right-aligned label grows and shrinks to the left, so that its text keeps its place.
    const int left = alignment_ == taRightJustify ? x() + width() - newWidth : x();
    setGeometry(left, y(), newWidth, extent.height());
}

void TRxLabel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        changed();
    else if (event->type() == QEvent::EnabledChange || event->type() == QEvent::PaletteChange)
        update();
}

void TRxLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!transparent_)
        painter.fillRect(rect(), toQColor(color_));
    painter.setFont(font());

    const unsigned flags = textFlags();
    QRect textRect(1, 0, width() - 2, height());

    int size = shadowSize_;
    TShadowPosition position = shadowPos_;
    TColor shadowColor = shadowColor_;
    TColor textColor = fontColor_;
    if (!isEnabled()) {
        textColor = clGrayText;
        shadowColor = clBtnHighlight;
        // Without a shadow of its own, a disabled label still gets one, below and to the
        // right, which makes it look engraved.
        if (size == 0) {
            size = 1;
            position = spRightBottom;
        }
    }

    if (layout_ != tlTop) {
        const QRect measured =
            MeasureLabelText(font(), textRect, flags, MeasurableCaption(caption_, showAccelChar_));
        int offset = height() - (measured.bottom() + 1 + size);
        if (layout_ == tlCenter)
            offset /= 2;
        textRect.translate(0, offset);
    }

    DrawLabelText(painter, font(), textRect.translated(shadowOffset(position, size)), flags,
                  caption_, shadowColor);
    DrawLabelText(painter, font(), textRect, flags, caption_, textColor);
}

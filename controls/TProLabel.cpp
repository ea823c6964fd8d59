#include "controls/TProLabel.h"

#include "controls/LabelText.h"
#include "desktop/QtColor.h"
#include "imaging/GraphicsTypes.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>

namespace {

constexpr QSize kDefaultSize(65, 17);
// Depth and number of copies are small counts; the limit keeps a careless value from drawing
// the text thousands of times.
constexpr int kMaxShadowSteps = 255;

struct ShadowPreset {
    TDirection direction;
    int depth;
    int size;
    TColor color;
};

ShadowPreset presetOf(TShadowStyle style)
{
    switch (style) {
    case ssRaised:
        return {drUpLeft, 1, 1, clWhite};
    case ssRecessed:
        return {drDownRight, 1, 1, clWhite};
    case ssShadow:
        return {drDownRight, 2, 1, clBtnShadow};
    case ssThickShadow:
        return {drDownRight, 1, 4, clBtnShadow};
    case ssNone:
    case ssCustom:
        break;
    }
    return {drNone, 0, 0, clBtnShadow};
}

} // namespace

QPoint DirectionStep(TDirection direction)
{
    switch (direction) {
    case drNone:
        return QPoint(0, 0);
    case drUp:
        return QPoint(0, -1);
    case drDown:
        return QPoint(0, 1);
    case drLeft:
        return QPoint(-1, 0);
    case drRight:
        return QPoint(1, 0);
    case drUpLeft:
        return QPoint(-1, -1);
    case drUpRight:
        return QPoint(1, -1);
    case drDownLeft:
        return QPoint(-1, 1);
    case drDownRight:
        return QPoint(1, 1);
    }
    return QPoint(0, 0);
}

TProLabel::TProLabel(QWidget* parent) : QWidget(parent)
{
    resize(kDefaultSize);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

TProLabel::~TProLabel() = default;

void TProLabel::SetCaption(const QString& caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    adjustBounds();
    update();
}

void TProLabel::SetAlignment(TAlignment alignment)
{
    if (alignment == alignment_)
        return;
    alignment_ = alignment;
    update();
}

void TProLabel::SetAutoSize(bool autoSize)
{
    if (autoSize == autoSize_)
        return;
    autoSize_ = autoSize;
    adjustBounds();
    update();
}

void TProLabel::SetWordWrap(bool wordWrap)
{
    if (wordWrap == wordWrap_)
        return;
    wordWrap_ = wordWrap;
    adjustBounds();
    update();
}

void TProLabel::SetShowAccelChar(bool showAccelChar)
{
    if (showAccelChar == showAccelChar_)
        return;
    showAccelChar_ = showAccelChar;
    adjustBounds();
    update();
}

void TProLabel::SetTransparent(bool transparent)
{
    if (transparent == transparent_)
        return;
    transparent_ = transparent;
    setAttribute(Qt::WA_OpaquePaintEvent, !transparent_);
    update();
}

void TProLabel::SetColor(TColor color)
{
    if (color == color_)
        return;
    color_ = color;
    update();
}

void TProLabel::SetFontColor(TColor color)
{
    if (color == fontColor_)
        return;
    fontColor_ = color;
    update();
}

void TProLabel::SetShadowStyle(TShadowStyle style)
{
    if (style == shadowStyle_)
        return;
    shadowStyle_ = style;
    if (style != ssCustom) {
        const ShadowPreset preset = presetOf(style);
        shadowDirection_ = preset.direction;
        shadowDepth_ = preset.depth;
        shadowSize_ = preset.size;
        shadowColor_ = preset.color;
    }
    update();
}

void TProLabel::makeCustom()
{
    shadowStyle_ = ssCustom;
    update();
}

void TProLabel::SetShadowDirection(TDirection direction)
{
    if (direction == shadowDirection_)
        return;
    shadowDirection_ = direction;
    makeCustom();
}

void TProLabel::SetShadowDepth(int depth)
{
    depth = std::clamp(depth, 0, kMaxShadowSteps);
    if (depth == shadowDepth_)
        return;
    shadowDepth_ = depth;
    makeCustom();
}

void TProLabel::SetShadowSize(int size)
{
    size = std::clamp(size, 0, kMaxShadowSteps);
    if (size == shadowSize_)
        return;
    shadowSize_ = size;
    makeCustom();
}

void TProLabel::SetShadowColor(TColor color)
{
    if (color == shadowColor_)
        return;
    shadowColor_ = color;
    makeCustom();
}

void TProLabel::SetOffsetX(int offset)
{
    if (offset == offsetX_)
        return;
    offsetX_ = offset;
    update();
}

void TProLabel::SetOffsetY(int offset)
{
    if (offset == offsetY_)
        return;
    offsetY_ = offset;
    update();
}

void TProLabel::SetVerticalAlignment(TVerticalAlignment alignment)
{
    if (alignment == verticalAlignment_)
        return;
    verticalAlignment_ = alignment;
    update();
}

void TProLabel::SetAngle(int angle)
{
    if (angle == angle_)
        return;
    angle_ = angle;
    update();
}

unsigned TProLabel::textFlags() const
{
    return LabelTextFlags(alignment_, wordWrap_, showAccelChar_);
}

void TProLabel::adjustBounds()
{
    if (!autoSize_)
        return;
    const QRect measured =
        MeasureLabelText(font(), rect(), textFlags(), MeasurableCaption(caption_, showAccelChar_));
    const int newWidth = wordWrap_ ? width() : measured.width();
    const int left = alignment_ == taRightJustify ? x() + width() - newWidth : x();
    setGeometry(left, y(), newWidth, measured.height());
}

void TProLabel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        adjustBounds();
        update();
    } else if (event->type() == QEvent::EnabledChange || event->type() == QEvent::PaletteChange) {
        update();
    }
}

void TProLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!transparent_)
        painter.fillRect(rect(), toQColor(color_));
    painter.setFont(font());

    const unsigned flags = textFlags();
    QRect textRect = rect();
    if (verticalAlignment_ != vaTop || angle_ != 0) {
        const QRect measured =
            MeasureLabelText(font(), textRect, flags, MeasurableCaption(caption_, showAccelChar_));
        textRect.setHeight(measured.height());
        int offset = height() - measured.height();
        if (verticalAlignment_ == vaCenter)
            offset /= 2;
        if (verticalAlignment_ != vaTop)
            textRect.translate(0, offset);
        if (angle_ != 0) {
            // Rotated text is laid out around the middle of the label and turned about it.
            textRect = QRect(-measured.width() / 2, -measured.height() / 2, measured.width(),
                             measured.height());
            painter.translate(width() / 2, height() / 2);
            painter.rotate(-angle_);
        }
    }
    textRect.translate(offsetX_, offsetY_);

    if (shadowStyle_ != ssNone) {
        const QPoint step = DirectionStep(shadowDirection_);
        const TColor shadowColor = isEnabled() ? shadowColor_ : clGrayText;
        QRect shadowRect = textRect.translated(step * shadowDepth_);
        for (int copy = 0; copy < shadowSize_; ++copy) {
            DrawLabelText(painter, font(), shadowRect, flags, caption_, shadowColor);
            shadowRect.translate(step);
        }
    }
    DrawLabelText(painter, font(), textRect, flags, caption_,
                  isEnabled() ? fontColor_ : clGrayText);
}

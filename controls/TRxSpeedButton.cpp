#include "controls/TRxSpeedButton.h"

#include "desktop/QtColor.h"
#include "desktop/QtImage.h"
#include "desktop/TApplication.h"
#include "imaging/GraphicsTypes.h"

#include <QApplication>
#include <QDialog>
#include <QEnterEvent>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

namespace {

constexpr QSize kDefaultSize(25, 25);

// A one-pixel frame: topLeft along the top and left edges, bottomRight along the bottom and
// right edges, which own the two far corners.
void drawFrameLine(QImage& image, const QRect& rect, const QColor& topLeft,
                   const QColor& bottomRight)
{
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.fillRect(QRect(rect.left(), rect.top(), rect.width() - 1, 1), topLeft);
    painter.fillRect(QRect(rect.left(), rect.top(), 1, rect.height() - 1), topLeft);
    painter.fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), bottomRight);
    painter.fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), bottomRight);
}

// The checked look of a pressed, grouped button that is not flat: face and highlight pixels
// alternating.
void ditherFill(QImage& image, const QRect& rect, QRgb face, QRgb highlight)
{
    const QRect area = rect.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            image.setPixel(x, y, ((x + y) % 2 == 0 ? highlight : face) | 0xFF000000u);
}

} // namespace

TRxSpeedButton::TRxSpeedButton(QWidget* parent) : QWidget(parent)
{
    resize(kDefaultSize);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    glyph_.OnChange = [this] { update(); };
}

TRxSpeedButton::~TRxSpeedButton() = default;

void TRxSpeedButton::SetCaption(const QString& caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    update();
}

void TRxSpeedButton::SetGlyph(const QImage& glyph)
{
    glyph_.SetGlyph(glyph);
}

void TRxSpeedButton::SetGlyph(const TBitmap& glyph)
{
    glyph_.SetGlyph(glyph.Empty() ? QImage() : toQImage(glyph));
}

void TRxSpeedButton::SetLayout(TButtonLayout layout)
{
    if (layout == layout_)
        return;
    layout_ = layout;
    update();
}

void TRxSpeedButton::SetMargin(int margin)
{
    if (margin == margin_ || margin < -1)
        return;
    margin_ = margin;
    update();
}

void TRxSpeedButton::SetSpacing(int spacing)
{
    if (spacing == spacing_)
        return;
    spacing_ = spacing;
    update();
}

void TRxSpeedButton::SetFlat(bool flat)
{
    if (flat == flat_)
        return;
    flat_ = flat;
    update();
}

void TRxSpeedButton::SetGrayedInactive(bool grayedInactive)
{
    if (grayedInactive == grayedInactive_)
        return;
    grayedInactive_ = grayedInactive;
    update();
}

void TRxSpeedButton::SetTransparent(bool transparent)
{
    if (transparent == transparent_)
        return;
    transparent_ = transparent;
    setAttribute(Qt::WA_OpaquePaintEvent, !transparent_);
    update();
}

void TRxSpeedButton::SetDown(bool down)
{
    if (groupIndex_ == 0)
        down = false;
    if (down == down_)
        return;
    // In a group without AllowAllUp one button always stays down; it pops up only when another
    // goes down.
    if (down_ && !allowAllUp_)
        return;
    down_ = down;
    if (isEnabled())
        state_ = down_ ? rbsExclusive : rbsUp;
    if (down_)
        updateExclusive();
    update();
}

void TRxSpeedButton::SetGroupIndex(int groupIndex)
{
    if (groupIndex == groupIndex_)
        return;
    groupIndex_ = groupIndex;
    updateExclusive();
}

void TRxSpeedButton::SetAllowAllUp(bool allowAllUp)
{
    if (allowAllUp == allowAllUp_)
        return;
    allowAllUp_ = allowAllUp;
    updateExclusive();
}

void TRxSpeedButton::SetAllowTimer(bool allowTimer)
{
    if (allowTimer == allowTimer_)
        return;
    allowTimer_ = allowTimer;
    if (!allowTimer_)
        stopRepeat();
}

void TRxSpeedButton::SetDropDownMenu(QMenu* menu)
{
    if (menu == dropDownMenu_)
        return;
    dropDownMenu_ = menu;
    update();
}

void TRxSpeedButton::SetMarkDropDown(bool markDropDown)
{
    if (markDropDown == markDropDown_)
        return;
    markDropDown_ = markDropDown;
    update();
}

void TRxSpeedButton::SetHint(const QString& hint)
{
    if (hint == hint_)
        return;
    hint_ = hint;
    setToolTip(showHint_ ? hint_ : QString());
}

void TRxSpeedButton::SetShowHint(bool showHint)
{
    if (showHint == showHint_)
        return;
    showHint_ = showHint;
    setToolTip(showHint_ ? hint_ : QString());
}

void TRxSpeedButton::SetFontColor(TColor color)
{
    if (color == fontColor_)
        return;
    fontColor_ = color;
    update();
}

// Keeps the buttons of one group consistent: only one of them is down, and they share
// AllowAllUp.
void TRxSpeedButton::updateExclusive()
{
    if (groupIndex_ == 0 || parentWidget() == nullptr)
        return;
    const auto siblings = parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* widget : siblings) {
        auto* other = dynamic_cast<TRxSpeedButton*>(widget);
        if (other == nullptr || other == this || other->groupIndex_ != groupIndex_)
            continue;
        if (down_ && other->down_) {
            other->down_ = false;
            if (other->state_ != rbsDisabled)
                other->state_ = rbsUp;
            other->update();
        }
        other->allowAllUp_ = allowAllUp_;
    }
}

void TRxSpeedButton::callEvent(const TNotifyEvent& event)
{
    if (event)
        Application().Guard([&] { event(this); });
}

void TRxSpeedButton::Click()
{
    Application().Guard([&] {
        if (modalResult_ != 0)
            if (auto* dialog = qobject_cast<QDialog*>(window()))
                dialog->done(modalResult_);
        if (OnClick)
            OnClick(this);
    });
}

bool TRxSpeedButton::inside(QPoint position) const
{
    // The bottom edge counts as inside, the right edge does not.
    return position.x() >= 0 && position.x() < width() && position.y() >= 0 &&
           position.y() <= height();
}

void TRxSpeedButton::setState(TRxButtonState state)
{
    if (state == state_)
        return;
    state_ = state;
    update();
}

void TRxSpeedButton::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    if (!isEnabled() || QApplication::activeWindow() == nullptr)
        return;
    mouseInside_ = true;
    if (flat_)
        repaint();
    callEvent(OnMouseEnter);
}

void TRxSpeedButton::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    if (!isEnabled() || dragging_)
        return;
    mouseInside_ = false;
    if (flat_)
        update();
    callEvent(OnMouseLeave);
}

void TRxSpeedButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        QWidget::mousePressEvent(event);
        return;
    }
    mouseInside_ = true;
    if (!down_)
        state_ = rbsDown;
    repaint();

    if (dropDownMenu_) {
        // The menu takes the mouse from here on; the button comes up when it closes.
        QMenu* menu = dropDownMenu_;
        connect(
            menu, &QMenu::aboutToHide, this,
            [this] {
                dragging_ = false;
                mouseInside_ = false;
                state_ = down_ ? rbsExclusive : rbsUp;
                update();
            },
            Qt::SingleShotConnection);
        dragging_ = true;
        menu->popup(mapToGlobal(QPoint(0, height())));
        return;
    }

    dragging_ = true;
    if (allowTimer_) {
        if (repeatTimer_ == nullptr) {
            repeatTimer_ = new QTimer(this);
            connect(repeatTimer_, &QTimer::timeout, this, &TRxSpeedButton::repeatTimerExpired);
        }
        repeatTimer_->start(initPause_);
    }
}

void TRxSpeedButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click is not a press of its own, so a double click clicks
    // once.
    event->accept();
}

void TRxSpeedButton::mouseMoveEvent(QMouseEvent* event)
{
    QWidget::mouseMoveEvent(event);
    if (!dragging_ || dropDownMenu_)
        return;
    TRxButtonState state = down_ ? rbsExclusive : rbsUp;
    if (inside(event->position().toPoint()) && !down_)
        state = rbsDown;
    setState(state);
}

void TRxSpeedButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !dragging_) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    dragging_ = false;
    stopRepeat();
    const bool clicked = inside(event->position().toPoint());
    if (groupIndex_ != 0 && clicked)
        SetDown(!down_);
    state_ = down_ ? rbsExclusive : rbsUp;
    mouseInside_ = false;
    repaint();
    if (clicked)
        Click();
}

void TRxSpeedButton::repeatTimerExpired()
{
    repeatTimer_->setInterval(repeatInterval_);
    if (dragging_ && state_ == rbsDown)
        Click();
}

void TRxSpeedButton::stopRepeat()
{
    if (repeatTimer_ != nullptr)
        repeatTimer_->stop();
}

void TRxSpeedButton::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::EnabledChange:
        if (!isEnabled()) {
            state_ = rbsDisabled;
            mouseInside_ = false;
            dragging_ = false;
            stopRepeat();
        } else if (state_ == rbsDisabled) {
            state_ = down_ && groupIndex_ != 0 ? rbsExclusive : rbsUp;
        }
        update();
        break;
    case QEvent::FontChange:
    case QEvent::PaletteChange:
        update();
        break;
    default:
        break;
    }
}

void TRxSpeedButton::paintButton(QImage& image)
{
    const QColor face = toQColor(clBtnFace);
    const QColor highlight = toQColor(clBtnHighlight);
    const QColor shadow = toQColor(clBtnShadow);
    const QColor frame = toQColor(clWindowFrame);

    TRxButtonState state = state_;
    if (!isEnabled())
        state = rbsDisabled;
    else if (state == rbsDisabled)
        state = down_ && groupIndex_ != 0 ? rbsExclusive : rbsUp;
    const TRxButtonState frameState = flat_ && !mouseInside_ ? rbsInactive : state;
    const bool pressed = state == rbsDown || state == rbsExclusive;

    if (transparent_)
        image.fill(Qt::transparent);
    else
        image.fill(face);

    QRect content = image.rect();
    if (frameState != rbsInactive || state == rbsExclusive) {
        if (flat_) {
            if (pressed)
                drawFrameLine(image, content, frame, highlight);
            else
                drawFrameLine(image, content, highlight, shadow);
            content.adjust(1, 1, -1, -1);
        } else {
            const QRect inner = content.adjusted(1, 1, -1, -1);
            if (pressed) {
                drawFrameLine(image, content, frame, highlight);
                drawFrameLine(image, inner, shadow, face);
            } else {
                drawFrameLine(image, content, highlight, frame);
                drawFrameLine(image, inner, face, shadow);
            }
            content.adjust(2, 2, -2, -2);
        }
        content.adjust(1, 1, -1, -1);
    } else {
        content.adjust(2, 2, -2, -2);
    }

    if (!flat_ && state == rbsExclusive)
        ditherFill(image, content, face.rgb(), highlight.rgb());
    if (pressed)
        content.translate(1, 1);

    const TRxButtonState glyphState = grayedInactive_ && state != rbsDisabled ? frameState : state;
    const bool dropDownMark = dropDownMenu_ && markDropDown_;

    QPainter painter(&image);
    painter.setFont(font());
    glyph_.Draw(painter, content, caption_, layout_, margin_, spacing_, dropDownMark, glyphState,
                state, fontColor_);

    if (dropDownMark) {
        // A small arrow at the right, pointing down to where the menu will open.
        const int x = content.right() - 7;
        const int y = content.top() + content.height() / 2 - 1;
        painter.setPen(Qt::NoPen);
        painter.setBrush(state == rbsDisabled ? shadow : toQColor(fontColor_));
        const QPoint arrow[3] = {QPoint(x, y), QPoint(x + 5, y), QPoint(x + 2, y + 3)};
        painter.drawPolygon(arrow, 3);
    }
}

void TRxSpeedButton::paintEvent(QPaintEvent*)
{
    // The button is drawn whole into an off-screen image first, so that it never flickers
    // through its intermediate layers.
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    paintButton(image);
    QPainter painter(this);
    painter.drawImage(0, 0, image);
}

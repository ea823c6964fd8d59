#include "shell/ASLink.h"

#include "core/AsciiCase.h"
#include "desktop/QtColor.h"
#include "desktop/ShellExecute.h"
#include "desktop/TApplication.h"
#include "platform/WinExec.h"

#include <QApplication>
#include <QEnterEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>

namespace {

// The union of two rectangles; an empty one adds nothing.
TRect unionRect(const TRect& a, const TRect& b)
{
    if (a.IsEmpty())
        return b;
    if (b.IsEmpty())
        return a;
    return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
            std::max(a.Bottom, b.Bottom)};
}

void offsetRect(TRect& r, int dx, int dy)
{
    r.Left += dx;
    r.Right += dx;
    r.Top += dy;
    r.Bottom += dy;
}

// Draws text twice: first its shadow in shadowColor, shifted to the side that position names
// by size pixels, then the text itself over it in the canvas's font colour. rect becomes the
// area both cover, which is what a measurement (DT_CALCRECT) reports.
void drawShadowText(TCanvas& canvas, const std::string& text, TRect& rect, unsigned flags, int size,
                    TColor shadowColor, TShadowPosition position)
{
    TRect textRect = rect;
    TRect shadowRect = rect;
    const TColor textColor = canvas.Font.Color;
    canvas.Font.Color = shadowColor;
    switch (position) {
    case spLeftTop:
        offsetRect(textRect, size, size);
        break;
    case spLeftBottom:
        offsetRect(textRect, size, 0);
        offsetRect(shadowRect, 0, size);
        break;
    case spRightBottom:
        offsetRect(shadowRect, size, size);
        break;
    case spRightTop:
        offsetRect(textRect, 0, size);
        offsetRect(shadowRect, size, 0);
        break;
    }
    canvas.DrawText(text, shadowRect, flags);
    canvas.Font.Color = textColor;
    canvas.DrawText(text, textRect, flags);
    rect = unionRect(textRect, shadowRect);
}

// The character behind the caption's single "&", or 0 when it has none.
char acceleratorChar(const std::string& caption)
{
    for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&')
            continue;
        if (caption[i + 1] != '&')
            return caption[i + 1];
        ++i; // "&&" stands for one "&"
    }
    return 0;
}

unsigned alignmentFlag(TAlignment alignment)
{
    switch (alignment) {
    case taRightJustify:
        return DT_RIGHT;
    case taCenter:
        return DT_CENTER;
    default:
        return DT_LEFT;
    }
}

} // namespace

const char* TASLink::URLPrefix(TURLType type)
{
    static const char* const prefixes[] = {"file://", "ftp://", "gopher://", "http://", "https://",
                                           "mailto:", "news:",  "telnet:",   "wais:"};
    return prefixes[type];
}

TASLink::TASLink(QWidget* parent) : QWidget(parent)
{
    opaque_ = true;
    resize(65, 17);
    font_.Font = parent ? parent->font() : QApplication::font();
    font_.Color = clWindowText;
    rememberedColor_ = font_.Color;
    SetTransparent(true);
    setCursor(Qt::PointingHandCursor);
    setMouseTracking(true);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { FocusChanged(now); });
}

TASLink::~TASLink()
{
    if (focusControlDestroyed_)
        disconnect(focusControlDestroyed_);
}

void TASLink::SetAlignment(TAlignment value)
{
    if (value == alignment_)
        return;
    alignment_ = value;
    update();
}

void TASLink::SetAutoSize(bool value)
{
    if (value == autoSize_)
        return;
    autoSize_ = value;
    AdjustBounds();
}

void TASLink::SetFocusControl(QWidget* value)
{
    if (focusControlDestroyed_)
        disconnect(focusControlDestroyed_);
    focusControl_ = value;
    if (value)
        focusControlDestroyed_ = connect(value, &QObject::destroyed, this, [this](QObject* gone) {
            if (focusControl_.isNull() || focusControl_.data() == gone)
                SetFocusControl(nullptr);
        });
    if (showFocus_)
        update();
}

void TASLink::SetLayout(TTextLayout value)
{
    if (value == layout_)
        return;
    layout_ = value;
    update();
}

void TASLink::SetShadowColor(TColor value)
{
    if (value == shadowColor_)
        return;
    shadowColor_ = value;
    update();
}

void TASLink::SetShadowSize(std::uint8_t value)
{
    if (value == shadowSize_)
        return;
    shadowSize_ = value;
    AdjustBounds();
    update();
}

void TASLink::SetShadowPos(TShadowPosition value)
{
    if (value == shadowPos_)
        return;
    shadowPos_ = value;
    update();
}

void TASLink::SetShowAccelChar(bool value)
{
    if (value == showAccelChar_)
        return;
    showAccelChar_ = value;
    updateAccelerator();
    update();
}

void TASLink::SetShowFocus(bool value)
{
    if (value == showFocus_)
        return;
    showFocus_ = value;
    update();
}

void TASLink::SetTransparent(bool value)
{
    if (value == Transparent())
        return;
    opaque_ = !value;
    setAttribute(Qt::WA_OpaquePaintEvent, opaque_);
    update();
}

void TASLink::SetWordWrap(bool value)
{
    if (value == wordWrap_)
        return;
    wordWrap_ = value;
    AdjustBounds();
}

void TASLink::SetCaption(const std::string& value)
{
    if (value == caption_)
        return;
    caption_ = value;
    updateAccelerator();
    update();
    AdjustBounds();
}

void TASLink::SetColor(TColor value)
{
    if (value == color_)
        return;
    color_ = value;
    update();
}

void TASLink::SetFont(const TFont& value)
{
    font_ = value;
    QWidget::setFont(font_.Font);
    update();
    AdjustBounds();
}

void TASLink::SetFontColor(TColor value)
{
    TFont font = font_;
    font.Color = value;
    SetFont(font);
}

std::string TASLink::Target() const
{
    return urlTypeAdd_ ? URLPrefix(urlType_) + caption_ : caption_;
}

bool TASLink::OpenTarget()
{
    if (caption_.empty() || !urlEnabled_)
        return false;
    const unsigned result =
        desktop::ShellExecute(window(), "", Target(), "", "", platform::SW_SHOWNOACTIVATE);
    return int(result) > 32;
}

void TASLink::Click()
{
    if (OnClick)
        OnClick(this);
    OpenTarget();
    update();
}

void TASLink::MouseEnter()
{
    rememberedColor_ = font_.Color;
    font_.Color = linkColor_;
    update();
}

void TASLink::MouseLeave()
{
    font_.Color = rememberedColor_;
    update();
}

bool TASLink::DialogChar(char key)
{
    const char accelerator = acceleratorChar(caption_);
    if (!focusControl_ || !isEnabled() || !showAccelChar_ || accelerator == 0 ||
        core::asciiUpper(accelerator) != core::asciiUpper(key))
        return false;
    if (!focusControl_->isEnabled() || !focusControl_->isVisible() ||
        focusControl_->focusPolicy() == Qt::NoFocus)
        return false;
    focusControl_->setFocus(Qt::ShortcutFocusReason);
    return true;
}

void TASLink::FocusChanged(QWidget* now)
{
    const bool focused = focusControl_ && focusControl_.data() == now;
    if (focused == focused_)
        return;
    focused_ = focused;
    if (showFocus_)
        update();
}

void TASLink::updateAccelerator()
{
    delete accelerator_;
    accelerator_ = nullptr;
    const char key = acceleratorChar(caption_);
    if (!showAccelChar_ || key == 0)
        return;
    // The window's Alt+key reaches the link as a dialog character.
    accelerator_ = new QShortcut(QKeySequence(QStringLiteral("Alt+") + QChar(key)), this);
    accelerator_->setContext(Qt::WindowShortcut);
    connect(accelerator_, &QShortcut::activated, this, [this, key] { DialogChar(key); });
}

void TASLink::DoDrawText(TCanvas& canvas, TRect& rect, unsigned flags)
{
    std::string text = caption_;
    if ((flags & DT_CALCRECT) && (text.empty() || (showAccelChar_ && text == "&")))
        text += ' ';
    if (!showAccelChar_)
        flags |= DT_NOPREFIX;
    canvas.Font = font_;
    TShadowPosition position = shadowPos_;
    int size = shadowSize_;
    TColor shadowColor = shadowColor_;
    if (!isEnabled()) {
        // A disabled link looks engraved: grey text over a light shadow.
        if (size == 0) {
            position = spRightBottom;
            size = 1;
        }
        canvas.Font.Color = clGrayText;
        shadowColor = clBtnHighlight;
    }
    drawShadowText(canvas, text, rect, flags, size, ColorToRGB(shadowColor), position);
}

void TASLink::AdjustBounds()
{
    if (!autoSize_)
        return;
    TRect rect{1, 0, width() - 1, height()};
    TCanvas screen;
    DoDrawText(screen, rect, DT_EXPANDTABS | DT_CALCRECT | (wordWrap_ ? DT_WORDBREAK : 0u));
    const int newWidth = rect.Right + 1;
    const int newHeight = rect.Bottom;
    int left = x();
    if (alignment_ == taRightJustify)
        left = x() + width() - newWidth;
    setGeometry(left, y(), newWidth, newHeight);
}

void TASLink::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    canvas_.setPainter(&painter);
    const TRect client{0, 0, width(), height()};
    if (!Transparent()) {
        canvas_.Brush.Color = color_;
        canvas_.Brush.Style = bsSolid;
        canvas_.FillRect(client);
    }
    canvas_.Brush.Style = bsClear;
    TRect rect{1, 0, width() - 1, height()};
    const unsigned flags =
        DT_EXPANDTABS | (wordWrap_ ? DT_WORDBREAK : 0u) | alignmentFlag(alignment_);
    if (layout_ != tlTop) {
        DoDrawText(canvas_, rect, flags | DT_CALCRECT);
        rect.Left = client.Left;
        rect.Right = client.Right;
        const int shift =
            layout_ == tlBottom ? height() - rect.Bottom : (height() - rect.Bottom) / 2;
        offsetRect(rect, 0, shift);
    }
    DoDrawText(canvas_, rect, flags);
    if (showFocus_ && focused_) {
        // While the control it labels has the focus, a dotted frame marks the link.
        canvas_.Pen.Color = font_.Color;
        canvas_.Pen.Style = psDot;
        canvas_.Brush.Style = bsClear;
        canvas_.Rectangle(client);
    }
    canvas_.setPainter(nullptr);
}

void TASLink::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    MouseEnter();
}

void TASLink::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    MouseLeave();
}

void TASLink::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        update();
}

TShiftState TASLink::shiftState(const QMouseEvent* event)
{
    TShiftState shift = 0;
    if (event->modifiers() & Qt::ShiftModifier)
        shift |= ssShift;
    if (event->modifiers() & Qt::ControlModifier)
        shift |= ssCtrl;
    if (event->modifiers() & Qt::AltModifier)
        shift |= ssAlt;
    if (event->buttons() & Qt::LeftButton)
        shift |= ssLeft;
    if (event->buttons() & Qt::RightButton)
        shift |= ssRight;
    if (event->buttons() & Qt::MiddleButton)
        shift |= ssMiddle;
    return shift;
}

namespace {

bool toMouseButton(Qt::MouseButton button, TMouseButton& result)
{
    switch (button) {
    case Qt::LeftButton:
        result = mbLeft;
        return true;
    case Qt::RightButton:
        result = mbRight;
        return true;
    case Qt::MiddleButton:
        result = mbMiddle;
        return true;
    default:
        return false;
    }
}

} // namespace

void TASLink::mousePressEvent(QMouseEvent* event)
{
    TMouseButton button;
    if (!toMouseButton(event->button(), button))
        return;
    if (button == mbLeft)
        pressed_ = true;
    const QPoint at = event->position().toPoint();
    Application().Guard([&] {
        if (OnMouseDown)
            OnMouseDown(this, button, shiftState(event), at.x(), at.y());
    });
}

void TASLink::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    Application().Guard([&] {
        if (OnMouseMove)
            OnMouseMove(this, shiftState(event), at.x(), at.y());
    });
}

void TASLink::mouseReleaseEvent(QMouseEvent* event)
{
    TMouseButton button;
    if (!toMouseButton(event->button(), button))
        return;
    const QPoint at = event->position().toPoint();
    const bool clicked = button == mbLeft && pressed_ && rect().contains(at);
    if (button == mbLeft)
        pressed_ = false;
    Application().Guard([&] {
        if (clicked)
            Click();
    });
    Application().Guard([&] {
        if (OnMouseUp)
            OnMouseUp(this, button, shiftState(event), at.x(), at.y());
    });
}

void TASLink::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
        Application().Guard([&] {
            if (OnDblClick)
                OnDblClick(this);
        });
    }
}

#pragma once

#include "core/TAlignment.h"
#include "core/TShadowPosition.h"
#include "core/TShiftState.h"
#include "core/TTextLayout.h"
#include "desktop/TCanvas.h"

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

class QShortcut;

// The schemes that a link can put in front of its caption.
enum TURLType { utFile, utFtp, utGopher, utHttp, utHttps, utMailto, utNews, utTelnet, utWais };

// A label that acts as a hyperlink: it draws its caption with an optional drop shadow, takes
// LinkColor while the mouse is over it, shows the hand cursor, and on a click hands its
// caption (with the scheme of URLType in front when URLTypeAdd is on) to the shell's open
// operation.
class TASLink : public QWidget {
public:
    explicit TASLink(QWidget* parent = nullptr);
    ~TASLink() override;

    using TNotifyEvent = std::function<void(TASLink* Sender)>;
    using TMouseEvent =
        std::function<void(TASLink* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
    using TMouseMoveEvent = std::function<void(TASLink* Sender, TShiftState Shift, int X, int Y)>;

    // The prefix that URLTypeAdd puts in front of the caption for a scheme.
    static const char* URLPrefix(TURLType type);

    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment value);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool value);
    QWidget* FocusControl() const { return focusControl_; }
    void SetFocusControl(QWidget* value);
    TTextLayout Layout() const { return layout_; }
    void SetLayout(TTextLayout value);
    TColor ShadowColor() const { return shadowColor_; }
    void SetShadowColor(TColor value);
    std::uint8_t ShadowSize() const { return shadowSize_; }
    void SetShadowSize(std::uint8_t value);
    TShadowPosition ShadowPos() const { return shadowPos_; }
    void SetShadowPos(TShadowPosition value);
    bool ShowAccelChar() const { return showAccelChar_; }
    void SetShowAccelChar(bool value);
    bool ShowFocus() const { return showFocus_; }
    void SetShowFocus(bool value);
    // True exactly when the control does not paint its background.
    bool Transparent() const { return !opaque_; }
    void SetTransparent(bool value);
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool value);
    TColor LinkColor() const { return linkColor_; }
    void SetLinkColor(TColor value) { linkColor_ = value; }
    bool URLEnabled() const { return urlEnabled_; }
    void SetURLEnabled(bool value) { urlEnabled_ = value; }
    bool URLTypeAdd() const { return urlTypeAdd_; }
    void SetURLTypeAdd(bool value) { urlTypeAdd_ = value; }
    TURLType URLType() const { return urlType_; }
    void SetURLType(TURLType value) { urlType_ = value; }

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& value);
    TColor Color() const { return color_; }
    void SetColor(TColor value);
    const TFont& Font() const { return font_; }
    void SetFont(const TFont& value);
    // Only the font's colour; the same as a font change.
    void SetFontColor(TColor value);
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool value) { setEnabled(value); }
    void SetBounds(int left, int top, int width, int height)
    {
        setGeometry(left, top, width, height);
    }

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;

    // Hands the target to the shell; true when the shell reports success.
    bool OpenTarget();
    // The target a click opens: the caption, with the scheme prefix when URLTypeAdd is on.
    std::string Target() const;
    // A completed left click: OnClick, then the target is opened, then a repaint.
    void Click();

    // Notifications from the window.
    void MouseEnter();
    void MouseLeave();
    // An accelerator key pressed in the window; true when this link handled it.
    bool DialogChar(char key);
    // The keyboard focus moved to now (or away from every control).
    void FocusChanged(QWidget* now);
    // Whether FocusControl holds the focus, as last told.
    bool FocusControlFocused() const { return focused_; }
    // The colour the font returns to when the mouse leaves.
    TColor RememberedColor() const { return rememberedColor_; }

    // Draws the caption into rect (or measures it, with DT_CALCRECT) with the shadow rules;
    // rect becomes the area of text and shadow together.
    void DoDrawText(TCanvas& canvas, TRect& rect, unsigned flags);
    // Fits the size to the text when AutoSize is on.
    void AdjustBounds();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void updateAccelerator();
    static TShiftState shiftState(const QMouseEvent* event);

    TAlignment alignment_ = taLeftJustify;
    bool autoSize_ = true;
    QPointer<QWidget> focusControl_;
    QMetaObject::Connection focusControlDestroyed_;
    TTextLayout layout_ = tlTop;
    TColor shadowColor_ = clBtnHighlight;
    std::uint8_t shadowSize_ = 1;
    TShadowPosition shadowPos_ = spLeftTop;
    bool showAccelChar_ = true;
    bool showFocus_ = false;
    bool opaque_ = false;
    bool wordWrap_ = false;
    TColor linkColor_ = clBlue;
    bool urlEnabled_ = true;
    bool urlTypeAdd_ = true;
    TURLType urlType_ = utMailto;
    std::string caption_;
    TColor color_ = clBtnFace;
    TFont font_;
    TColor rememberedColor_ = clWindowText;
    bool focused_ = false;
    bool pressed_ = false;
    QShortcut* accelerator_ = nullptr;
    TCanvas canvas_;
};

#pragma once

#include "controls/TRxButtonGlyph.h"
#include "core/TAlignment.h"
#include "imaging/GraphicsTypes.h"
#include "imaging/TBitmap.h"

#include <QMenu>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QTimer;

// A push button without a window of its own that shows a glyph and a caption. In its flat form
// it shows no frame and a grey glyph until the mouse comes over it, a thin raised frame and the
// coloured glyph while the mouse is over it, and a thin sunken frame with its content one pixel
// lower and further right while it is held down. Buttons of one parent that share a GroupIndex
// act as a radio group; AllowTimer repeats the click while the button is held.
class TRxSpeedButton : public QWidget {
public:
    using TNotifyEvent = std::function<void(QObject* Sender)>;

    explicit TRxSpeedButton(QWidget* parent = nullptr);
    ~TRxSpeedButton() override;

    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    const QImage& Glyph() const { return glyph_.Glyph(); }
    void SetGlyph(const QImage& glyph);
    // Takes a copy of the bitmap's pixels.
    void SetGlyph(const TBitmap& glyph);
    int NumGlyphs() const { return glyph_.NumGlyphs(); }
    void SetNumGlyphs(int numGlyphs) { glyph_.SetNumGlyphs(numGlyphs); }
    TButtonLayout Layout() const { return layout_; }
    void SetLayout(TButtonLayout layout);
    TAlignment Alignment() const { return glyph_.Alignment(); }
    void SetAlignment(TAlignment alignment) { glyph_.SetAlignment(alignment); }
    int Margin() const { return margin_; }
    void SetMargin(int margin);
    int Spacing() const { return spacing_; }
    void SetSpacing(int spacing);
    bool Flat() const { return flat_; }
    void SetFlat(bool flat);
    bool GrayedInactive() const { return grayedInactive_; }
    void SetGrayedInactive(bool grayedInactive);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool transparent);
    bool WordWrap() const { return glyph_.WordWrap(); }
    void SetWordWrap(bool wordWrap) { glyph_.SetWordWrap(wordWrap); }
    // A button is held down only inside a group; setting Down pops the other buttons of the
    // group up.
    bool Down() const { return down_; }
    void SetDown(bool down);
    int GroupIndex() const { return groupIndex_; }
    void SetGroupIndex(int groupIndex);
    bool AllowAllUp() const { return allowAllUp_; }
    void SetAllowAllUp(bool allowAllUp);
    bool AllowTimer() const { return allowTimer_; }
    void SetAllowTimer(bool allowTimer);
    int InitPause() const { return initPause_; }
    void SetInitPause(int milliseconds) { initPause_ = milliseconds; }
    int RepeatInterval() const { return repeatInterval_; }
    void SetRepeatInterval(int milliseconds) { repeatInterval_ = milliseconds; }
    QMenu* DropDownMenu() const { return dropDownMenu_; }
    void SetDropDownMenu(QMenu* menu);
    bool MarkDropDown() const { return markDropDown_; }
    void SetMarkDropDown(bool markDropDown);
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int modalResult) { modalResult_ = modalResult; }
    const QString& Hint() const { return hint_; }
    void SetHint(const QString& hint);
    bool ShowHint() const { return showHint_; }
    void SetShowHint(bool showHint);
    // The colour of the caption; the default follows the palette's window text.
    TColor FontColor() const { return fontColor_; }
    void SetFontColor(TColor color);

    TNotifyEvent OnClick;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

    // Hands ModalResult to the window the button sits in, then calls OnClick.
    void Click();

    // Run-time state, for whoever draws or tests the button.
    TRxButtonState State() const { return state_; }
    bool MouseInside() const { return mouseInside_; }
    bool Dragging() const { return dragging_; }
    TRxButtonGlyph& ButtonGlyph() { return glyph_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool inside(QPoint position) const;
    void setState(TRxButtonState state);
    void updateExclusive();
    void repeatTimerExpired();
    void stopRepeat();
    void callEvent(const TNotifyEvent& event);
    // Paints the whole button into image.
    void paintButton(QImage& image);

    TRxButtonGlyph glyph_;
    QString caption_;
    TButtonLayout layout_ = blGlyphTop;
    int margin_ = -1;
    int spacing_ = 1;
    bool flat_ = false;
    bool grayedInactive_ = true;
    bool transparent_ = false;
    bool down_ = false;
    int groupIndex_ = 0;
    bool allowAllUp_ = false;
    bool allowTimer_ = false;
    int initPause_ = 500;
    int repeatInterval_ = 100;
    QPointer<QMenu> dropDownMenu_;
    bool markDropDown_ = true;
    int modalResult_ = 0;
    QString hint_;
    bool showHint_ = true;
    TColor fontColor_ = clWindowText;

    TRxButtonState state_ = rbsUp;
    bool mouseInside_ = false;
    bool dragging_ = false;
    QTimer* repeatTimer_ = nullptr;
};

#pragma once

#include "core/TAlignment.h"
#include "imaging/GraphicsTypes.h"

#include <QPoint>
#include <QString>
#include <QWidget>

// Presets of a label's shadow; ssCustom keeps the shadow values as they are set.
enum TShadowStyle { ssNone, ssCustom, ssRaised, ssRecessed, ssShadow, ssThickShadow };
// The direction in which shadow copies step away from the text.
enum TDirection {
    drNone,
    drUp,
    drDown,
    drLeft,
    drRight,
    drUpLeft,
    drUpRight,
    drDownLeft,
    drDownRight
};
// Vertical placement of a label's text.
enum TVerticalAlignment { vaTop, vaCenter, vaBottom };

// One step in a direction, in pixels, y growing downwards.
QPoint DirectionStep(TDirection direction);

// A label without a window of its own with configurable shadows: ShadowSize copies of the text
// in ShadowColor, the first ShadowDepth steps away in ShadowDirection and each further one a
// step further, under the text itself; the whole drawing can be shifted by OffsetX and OffsetY
// and placed at the top, middle or bottom of the label.
class TProLabel : public QWidget {
public:
    explicit TProLabel(QWidget* parent = nullptr);
    ~TProLabel() override;

    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment alignment);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool autoSize);
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool wordWrap);
    bool ShowAccelChar() const { return showAccelChar_; }
    void SetShowAccelChar(bool showAccelChar);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool transparent);
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    TColor FontColor() const { return fontColor_; }
    void SetFontColor(TColor color);

    // Setting a style other than ssCustom sets direction, depth, size and colour at once.
    TShadowStyle ShadowStyle() const { return shadowStyle_; }
    void SetShadowStyle(TShadowStyle style);
    // Setting any single shadow value makes the style ssCustom, so that the value is drawn as
    // set.
    TDirection ShadowDirection() const { return shadowDirection_; }
    void SetShadowDirection(TDirection direction);
    int ShadowDepth() const { return shadowDepth_; }
    void SetShadowDepth(int depth);
    int ShadowSize() const { return shadowSize_; }
    void SetShadowSize(int size);
    TColor ShadowColor() const { return shadowColor_; }
    void SetShadowColor(TColor color);
    int OffsetX() const { return offsetX_; }
    void SetOffsetX(int offset);
    int OffsetY() const { return offsetY_; }
    void SetOffsetY(int offset);
    TVerticalAlignment VerticalAlignment() const { return verticalAlignment_; }
    void SetVerticalAlignment(TVerticalAlignment alignment);
    // Rotation of the text in degrees, counter-clockwise, about the middle of the label.
    int Angle() const { return angle_; }
    void SetAngle(int angle);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    unsigned textFlags() const;
    void adjustBounds();
    void makeCustom();

    QString caption_;
    TAlignment alignment_ = taLeftJustify;
    bool autoSize_ = true;
    bool wordWrap_ = false;
    bool showAccelChar_ = true;
    bool transparent_ = false;
    TColor color_ = clBtnFace;
    TColor fontColor_ = clWindowText;
    TShadowStyle shadowStyle_ = ssNone;
    TDirection shadowDirection_ = drNone;
    int shadowDepth_ = 0;
    int shadowSize_ = 0;
    TColor shadowColor_ = clBtnShadow;
    int offsetX_ = 0;
    int offsetY_ = 0;
    TVerticalAlignment verticalAlignment_ = vaTop;
    int angle_ = 0;
};

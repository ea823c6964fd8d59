#pragma once

#include "core/TAlignment.h"
#include "core/TShadowPosition.h"
#include "core/TTextLayout.h"
#include "imaging/GraphicsTypes.h"

#include <QString>
#include <QWidget>

// A label without a window of its own that draws its caption twice: first a shadow copy in
// ShadowColor, ShadowSize pixels towards ShadowPos, then the text in the font's colour. With
// the default highlight-coloured shadow to the upper left the text looks embossed; a disabled
// label looks engraved.
class TRxLabel : public QWidget {
public:
    explicit TRxLabel(QWidget* parent = nullptr);
    ~TRxLabel() override;

    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment alignment);
    TTextLayout Layout() const { return layout_; }
    void SetLayout(TTextLayout layout);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool autoSize);
    bool ShowAccelChar() const { return showAccelChar_; }
    void SetShowAccelChar(bool showAccelChar);
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool wordWrap);
    TColor ShadowColor() const { return shadowColor_; }
    void SetShadowColor(TColor color);
    int ShadowSize() const { return shadowSize_; }
    // Takes 0 to 255.
    void SetShadowSize(int size);
    TShadowPosition ShadowPos() const { return shadowPos_; }
    void SetShadowPos(TShadowPosition position);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool transparent);
    // The background, drawn unless Transparent.
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    TColor FontColor() const { return fontColor_; }
    void SetFontColor(TColor color);

    // The size the label takes with AutoSize: the text's extent with the one-pixel margins at
    // both sides and room for the shadow.
    QSize TextExtent() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    unsigned textFlags() const;
    void adjustBounds();
    void changed();

    QString caption_;
    TAlignment alignment_ = taLeftJustify;
    TTextLayout layout_ = tlTop;
    bool autoSize_ = true;
    bool showAccelChar_ = true;
    bool wordWrap_ = false;
    TColor shadowColor_ = clBtnHighlight;
    int shadowSize_ = 1;
    TShadowPosition shadowPos_ = spLeftTop;
    bool transparent_ = false;
    TColor color_ = clBtnFace;
    TColor fontColor_ = clWindowText;
};

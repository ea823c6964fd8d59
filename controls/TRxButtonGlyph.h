#pragma once

#include "core/TAlignment.h"
#include "imaging/GraphicsTypes.h"

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>
#include <functional>

class QPainter;
class GlyphImageCache;

// Where a button's glyph stands relative to its caption.
enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

// The visual states of a glyph button. The inactive state is the look of a flat button while the
// mouse is elsewhere.
enum TRxButtonState { rbsUp, rbsDisabled, rbsDown, rbsExclusive, rbsInactive };
constexpr int kButtonStateCount = 5;

// Measures caption text for the layout. The font-based implementation below is what buttons
// use; the layout arithmetic is independent of any font.
class CaptionMetrics {
public:
    virtual ~CaptionMetrics() = default;
    // Width of one line of text as drawn.
    virtual int LineWidth(const QString& line) const = 0;
    // Extent of a whole caption laid out in the given width, centred, with word breaks when
    // wordWrap is set.
    virtual QSize Extent(const QString& text, int width, bool wordWrap) const = 0;
};

class FontCaptionMetrics : public CaptionMetrics {
public:
    explicit FontCaptionMetrics(const QFont& font);
    ~FontCaptionMetrics() override;
    int LineWidth(const QString& line) const override;
    QSize Extent(const QString& text, int width, bool wordWrap) const override;

private:
    QFont font_;
};

// Where glyph and caption go within a button's content rectangle, and the caption as it will be
// drawn (shortened lines, at most 255 characters).
struct ButtonLayoutResult {
    QPoint GlyphPos;
    QRect TextBounds;
    QString Caption;
};

// Lays out a glyph of glyphSize and a caption in the content rectangle client. Margin and
// Spacing of -1 centre and spread the pair; dropDownMark leaves room for the drop-down arrow
// beside a caption that stands left or right of the glyph.
ButtonLayoutResult CalcButtonLayout(const QRect& client, QSize glyphSize, const QString& caption,
                                    TButtonLayout layout, int margin, int spacing, bool wordWrap,
                                    bool dropDownMark, const CaptionMetrics& metrics);

// Shortens each line of a caption that is wider than width: the line keeps its first
// (length - 2) characters followed by "...", then one character fewer at a time, until it fits or
// only "..." remains. Lines are joined again with line breaks and trailing blanks removed.
QString ShortenCaption(const QString& caption, int width, const CaptionMetrics& metrics);

// The glyph of a button and everything derived from it: the images of the five states, made on
// first use and kept in an image cache shared by every glyph of the same size, and the drawing
// of glyph and caption.
class TRxButtonGlyph {
public:
    TRxButtonGlyph();
    ~TRxButtonGlyph();
    TRxButtonGlyph(const TRxButtonGlyph&) = delete;
    TRxButtonGlyph& operator=(const TRxButtonGlyph&) = delete;

    const QImage& Glyph() const { return glyph_; }
    // Takes a new picture: its lower-left pixel becomes the transparent colour and, when its
    // width is a whole multiple of its height below 6, that multiple becomes NumGlyphs.
    void SetGlyph(const QImage& glyph);
    int NumGlyphs() const { return numGlyphs_; }
    void SetNumGlyphs(int numGlyphs);
    // The colour that is see-through in the glyph, as 0xRRGGBB.
    QRgb TransparentColor() const { return transparentColor_; }
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment alignment);
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool wordWrap);

    // Size of one state image; empty without a glyph.
    QSize GlyphSize() const;
    // The image shown in a state (transparent where the glyph has its transparent colour).
    // Made from the glyph the first time it is asked for, then taken from the cache.
    QImage StateImage(TRxButtonState state);
    // Index of a state's image in the cache's list for this glyph size, -1 while not yet made.
    int StateIndex(TRxButtonState state) const { return indexes_[state]; }

    // Lays out and draws glyph and caption into client (in painter coordinates). The glyph is
    // drawn in glyphState, the caption enabled or disabled as captionState says. Returns the
    // rectangle the caption went to.
    QRect Draw(QPainter& painter, const QRect& client, const QString& caption, TButtonLayout layout,
               int margin, int spacing, bool dropDownMark, TRxButtonState glyphState,
               TRxButtonState captionState, TColor fontColor);

    // Called after any change that alters the drawing.
    std::function<void()> OnChange;

private:
    void invalidate();
    void changed();
    QImage slice(int index) const;

    QImage glyph_;
    int numGlyphs_ = 1;
    QRgb transparentColor_ = 0xFF00FF;
    TAlignment alignment_ = taCenter;
    bool wordWrap_ = false;
    std::array<int, kButtonStateCount> indexes_;
    // The size whose image list holds this glyph's images.
    QSize cachedSize_;
    QPointer<GlyphImageCache> cache_;
};

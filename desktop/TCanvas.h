#pragma once

#include "desktop/QtColor.h"
#include "imaging/DrawTarget.h"
#include "imaging/GraphicsTypes.h"

#include <functional>
#include <string>
#include <vector>

#include <QFont>

class QImage;
class QPainter;
class QPaintDevice;
class TGraphic;

enum TBrushStyle { bsSolid, bsClear };
enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear };
// How a copied bitmap combines with the destination; only cmSrcCopy is used here.
enum TCopyMode { cmSrcCopy };

// Flags of DrawText, with the platform's values.
enum : unsigned {
    DT_TOP = 0x0,
    DT_LEFT = 0x0,
    DT_CENTER = 0x1,
    DT_RIGHT = 0x2,
    DT_VCENTER = 0x4,
    DT_BOTTOM = 0x8,
    DT_WORDBREAK = 0x10,
    DT_SINGLELINE = 0x20,
    DT_EXPANDTABS = 0x40,
    DT_NOCLIP = 0x100,
    DT_CALCRECT = 0x400,
    DT_NOPREFIX = 0x800,
};

struct TFont {
    QFont Font; // family, size, bold, italic, underline
    TColor Color = clWindowText;
};

struct TBrush {
    TColor Color = clWhite;
    TBrushStyle Style = bsSolid;
};

struct TPen {
    TColor Color = clBlack;
    int Width = 1;
    TPenStyle Style = psSolid;
};

// A drawing surface with the current font, brush and pen, over a Qt painter. A widget makes
// one around the painter of its paint event (keeping the same canvas between paints keeps its
// font, brush and pen); a bitmap has one that draws on its pixels.
class TCanvas : public DrawTarget {
public:
    // Draws through painter, which stays the caller's. Attach another one later with
    // setPainter (a widget does so in each paint event).
    explicit TCanvas(QPainter* painter = nullptr);
    // Draws on whatever device begin returns, opening a painter for each operation and calling
    // end after it (a bitmap's canvas).
    TCanvas(std::function<QPaintDevice*()> begin, std::function<void()> end);
    ~TCanvas() override;
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    void setPainter(QPainter* painter) { painter_ = painter; }
    QPainter* painter() const { return painter_; }

    TFont Font;
    TBrush Brush;
    TPen Pen;
    TCopyMode CopyMode = cmSrcCopy;

    // Fills rect with the brush (nothing for bsClear or an empty rectangle).
    void FillRect(const TRect& rect);
    // Draws a one-pixel border inside rect in the brush colour.
    void FrameRect(const TRect& rect);
    // Outline with the pen, inside filled with the brush.
    void Rectangle(const TRect& rect);
    void Ellipse(const TRect& rect);
    void MoveTo(int x, int y);
    // A line from the pen position up to, not including, (x, y).
    void LineTo(int x, int y);
    void Polyline(const std::vector<TPoint>& points);
    void Polygon(const std::vector<TPoint>& points);
    TColor Pixel(int x, int y);
    void SetPixel(int x, int y, TColor color);

    // Text with its top-left corner at (x, y), on the brush colour unless the brush is bsClear.
    void TextOut(int x, int y, const std::string& text);
    // Like TextOut, clipped to rect.
    void TextRect(const TRect& rect, int x, int y, const std::string& text);
    int TextWidth(const std::string& text);
    int TextHeight(const std::string& text);
    // Formatted text in rect with the DT_ flags; with DT_CALCRECT it only measures, widening
    // or lowering rect. Returns the text's height.
    int DrawText(const std::string& text, TRect& rect, unsigned flags);

    // Draws graphic at its natural size with its top-left corner at (x, y).
    void Draw(int x, int y, TGraphic& graphic);
    // Draws graphic stretched into rect.
    void StretchDraw(const TRect& rect, TGraphic& graphic);

    // Stretches image into rect, dropping or repeating whole rows and columns (no smoothing).
    void stretchImage(const TRect& rect, const RgbImage& image) override;

private:
    class Scope;

    QPainter* painter_ = nullptr;
    std::function<QPaintDevice*()> begin_;
    std::function<void()> end_;
    TPoint penPos_;
};

// Draws a raised or sunken frame width pixels wide just inside rect: top and left edges in
// topColor, bottom and right edges in bottomColor. Shrinks rect by the frame.
void Frame3D(TCanvas& canvas, TRect& rect, TColor topColor, TColor bottomColor, int width);

#pragma once

#include <cstdint>
#include <string>

#include <QRect>

// Rectangles, points and colours in the form the drawing code works with.

struct TPoint {
    int X = 0;
    int Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

// A rectangle given by its edges; Right and Bottom lie just outside it.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    // The same area as a Qt rectangle (Qt's right and bottom lie inside).
    QRect toQRect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
    static TRect fromQRect(const QRect& r)
    {
        return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
    friend bool operator==(const TRect&, const TRect&) = default;
};

inline TRect Rect(int left, int top, int right, int bottom)
{
    return {left, top, right, bottom};
}
inline TRect Bounds(int left, int top, int width, int height)
{
    return {left, top, left + width, top + height};
}

// The largest rectangle of a pw x ph picture's proportions that fits w x h (never enlarged),
// at (0, 0).
inline TRect FitRect(int w, int h, int pw, int ph)
{
    // Quotients in extended precision, cut toward zero.
    using Extended = long double;
    int rw = 0, rh = 0;
    if (h < ph && w < pw) {
        rh = int(Extended(w) / Extended(pw) * Extended(ph));
        rw = w;
        if (rh > h) {
            rw = int(Extended(h) / Extended(rh) * Extended(w));
            rh = h;
        }
    } else if (h < ph) {
        rw = int(Extended(h) / Extended(ph) * Extended(pw));
        rh = h;
    } else if (w < pw) {
        rw = w;
        rh = int(Extended(w) / Extended(pw) * Extended(ph));
    } else {
        rw = pw;
        rh = ph;
    }
    return {0, 0, rw, rh};
}

// A colour: 0x00BBGGRR for a plain colour, or 0x80000000 | index for a system colour that is
// resolved through the application palette when drawn.
using TColor = std::int32_t;

constexpr TColor RGBColor(int r, int g, int b)
{
    return TColor(r | (g << 8) | (b << 16));
}

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

constexpr TColor clSystemColor = TColor(0x80000000u);
constexpr TColor clScrollBar = clSystemColor | 0;
constexpr TColor clBackground = clSystemColor | 1;
constexpr TColor clActiveCaption = clSystemColor | 2;
constexpr TColor clInactiveCaption = clSystemColor | 3;
constexpr TColor clMenu = clSystemColor | 4;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowFrame = clSystemColor | 6;
constexpr TColor clMenuText = clSystemColor | 7;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clCaptionText = clSystemColor | 9;
constexpr TColor clActiveBorder = clSystemColor | 10;
constexpr TColor clInactiveBorder = clSystemColor | 11;
constexpr TColor clAppWorkSpace = clSystemColor | 12;
constexpr TColor clHighlight = clSystemColor | 13;
constexpr TColor clHighlightText = clSystemColor | 14;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clBtnShadow = clSystemColor | 16;
constexpr TColor clGrayText = clSystemColor | 17;
constexpr TColor clBtnText = clSystemColor | 18;
constexpr TColor clInactiveCaptionText = clSystemColor | 19;
constexpr TColor clBtnHighlight = clSystemColor | 20;
constexpr TColor cl3DDkShadow = clSystemColor | 21;
constexpr TColor cl3DLight = clSystemColor | 22;
constexpr TColor clInfoText = clSystemColor | 23;
constexpr TColor clInfoBk = clSystemColor | 24;
constexpr TColor clNone = 0x1FFFFFFF;

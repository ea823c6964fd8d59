#pragma once

#include "imaging/GraphicsTypes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

// A colour as the picture framework computes with it: 0xAARRGGBB, the layout Qt's QRgb has,
// so that pixels pass to and from Qt's images unchanged.
using QRgbValue = std::uint32_t;

constexpr QRgbValue rgbOf(int red, int green, int blue)
{
    return 0xFF000000u | (QRgbValue(red & 0xFF) << 16) | (QRgbValue(green & 0xFF) << 8) |
           QRgbValue(blue & 0xFF);
}
constexpr int redOf(QRgbValue c)
{
    return int((c >> 16) & 0xFF);
}
constexpr int greenOf(QRgbValue c)
{
    return int((c >> 8) & 0xFF);
}
constexpr int blueOf(QRgbValue c)
{
    return int(c & 0xFF);
}

// Pixels as 32-bit colours, rows top first and not padded: the form in which bitmaps are
// drawn and converted. An image too large for memory comes out empty (null), as Qt's does.
class RgbImage {
public:
    RgbImage() = default;
    RgbImage(int width, int height, QRgbValue fill = rgbOf(0, 0, 0))
    {
        if (width <= 0 || height <= 0)
            return;
        try {
            pixels_.assign(std::size_t(width) * std::size_t(height), fill);
        } catch (const std::bad_alloc&) {
            return;
        } catch (const std::length_error&) {
            return;
        }
        width_ = width;
        height_ = height;
    }

    bool isNull() const { return pixels_.empty(); }
    int width() const { return width_; }
    int height() const { return height_; }
    QRgbValue* scanLine(int y) { return pixels_.data() + std::size_t(y) * std::size_t(width_); }
    const QRgbValue* scanLine(int y) const
    {
        return pixels_.data() + std::size_t(y) * std::size_t(width_);
    }
    QRgbValue pixel(int x, int y) const { return scanLine(y)[x]; }
    void fill(QRgbValue colour) { std::fill(pixels_.begin(), pixels_.end(), colour); }
    friend bool operator==(const RgbImage&, const RgbImage&) = default;

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<QRgbValue> pixels_;
};

// The part inside visible of source stretched to width by height pixels (visible is given in
// the stretched picture's own coordinates), one source pixel per pixel: column x takes source
// column x * source width / width, so shrinking drops whole rows and columns and enlarging
// repeats them.
inline RgbImage stretchedPart(const RgbImage& source, int width, int height, const TRect& visible)
{
    RgbImage part(visible.Width(), visible.Height());
    if (part.isNull() || source.isNull() || width <= 0 || height <= 0)
        return part;
    const int sw = source.width(), sh = source.height();
    std::vector<int> columns(std::size_t(part.width()));
    for (int x = 0; x < part.width(); ++x)
        columns[std::size_t(x)] = int((long long)(visible.Left + x) * sw / width);
    for (int y = 0; y < part.height(); ++y) {
        const QRgbValue* in = source.scanLine(int((long long)(visible.Top + y) * sh / height));
        QRgbValue* out = part.scanLine(y);
        for (int x = 0; x < part.width(); ++x)
            out[x] = in[columns[std::size_t(x)]];
    }
    return part;
}

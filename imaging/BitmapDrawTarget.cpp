#include "imaging/BitmapDrawTarget.h"

#include "imaging/TBitmap.h"

#include <algorithm>
#include <cstring>

void BitmapDrawTarget::stretchImage(const TRect& rect, const RgbImage& image)
{
    if (bitmap_.Empty() || image.isNull() || rect.IsEmpty())
        return;
    const TRect visible{std::max(rect.Left, 0), std::max(rect.Top, 0),
                        std::min(rect.Right, bitmap_.Width()),
                        std::min(rect.Bottom, bitmap_.Height())};
    if (visible.IsEmpty())
        return;
    const RgbImage part = stretchedPart(image, rect.Width(), rect.Height(),
                                        Bounds(visible.Left - rect.Left, visible.Top - rect.Top,
                                               visible.Width(), visible.Height()));
    RgbImage pixels = bitmap_.pixels();
    if (part.isNull() || pixels.isNull())
        return;
    for (int y = 0; y < part.height(); ++y)
        std::memcpy(pixels.scanLine(visible.Top + y) + visible.Left, part.scanLine(y),
                    std::size_t(part.width()) * sizeof(QRgbValue));
    bitmap_.storePixels(pixels);
}

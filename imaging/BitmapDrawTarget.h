#pragma once

#include "imaging/DrawTarget.h"

class TBitmap;

// Draws on the pixels of a bitmap without a screen, as a canvas of the bitmap draws an opaque
// picture: what is drawn replaces the pixels it covers inside the bitmap, which keeps its own
// form (see TBitmap::storePixels).
class BitmapDrawTarget : public DrawTarget {
public:
    explicit BitmapDrawTarget(TBitmap& bitmap) : bitmap_(bitmap) {}

    void stretchImage(const TRect& rect, const RgbImage& image) override;

private:
    TBitmap& bitmap_;
};

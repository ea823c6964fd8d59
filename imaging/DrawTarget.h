#pragma once

#include "imaging/GraphicsTypes.h"
#include "imaging/RgbImage.h"

// What a graphic draws itself on: a canvas of the screen or of a bitmap, or the pixels of a
// bitmap themselves.
class DrawTarget {
public:
    virtual ~DrawTarget() = default;
    // Draws image stretched into rect, dropping or repeating whole rows and columns (no
    // smoothing), as stretchedPart does.
    virtual void stretchImage(const TRect& rect, const RgbImage& image) = 0;
};

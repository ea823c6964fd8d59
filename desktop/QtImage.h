#pragma once

#include "imaging/RgbImage.h"

#include <QImage>

class TBitmap;

// The picture framework's pixels as Qt's images and back, colour for colour.

// A Qt image of format RGB32 holding the pixels.
QImage qtImageOf(const RgbImage& image);
// The colours of a Qt image of any format, as an opaque 32-bit image.
RgbImage rgbImageOf(const QImage& image);
// A bitmap's pixels as a Qt image of format RGB32, top row first (null for an empty bitmap).
QImage toQImage(const TBitmap& bitmap);

#pragma once

#include "desktop/TCanvas.h"

#include <QImage>

class TBitmap;

// A canvas that draws on a bitmap, with Qt's painter. A device-independent bitmap is drawn
// on as 32-bit pixels and then stored back in its own format; a screen-compatible one is
// drawn on at its screen's depth. Each drawing call changes the bitmap at once.
class BitmapCanvas : public TCanvas {
public:
    explicit BitmapCanvas(TBitmap& bitmap);

private:
    QPaintDevice* begin();
    void end();

    TBitmap& bitmap_;
    QImage scratch_;
};

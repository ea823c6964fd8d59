#include "desktop/BitmapCanvas.h"

#include "desktop/QtImage.h"
#include "imaging/TBitmap.h"

namespace {

// The format of a Qt image that holds the colours of a screen of the depth.
QImage::Format screenImageFormat(int bits)
{
    switch (bits) {
    case 24:
        return QImage::Format_RGB888;
    case 15:
    case 16:
        return QImage::Format_RGB555;
    default:
        return QImage::Format_RGB32;
    }
}

} // namespace

BitmapCanvas::BitmapCanvas(TBitmap& bitmap)
    : TCanvas([this] { return begin(); }, [this] { end(); }), bitmap_(bitmap)
{
}

QPaintDevice* BitmapCanvas::begin()
{
    if (bitmap_.Empty())
        return nullptr;
    scratch_ = qtImageOf(bitmap_.pixels());
    if (const int bits = bitmap_.ScreenBits(); bits != 0)
        scratch_.convertTo(screenImageFormat(bits));
    return scratch_.isNull() ? nullptr : &scratch_;
}

void BitmapCanvas::end()
{
    if (!scratch_.isNull())
        bitmap_.storePixels(rgbImageOf(scratch_));
    scratch_ = QImage();
}

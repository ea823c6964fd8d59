#include "desktop/QtImage.h"

#include "imaging/TBitmap.h"

#include <cstring>

QImage qtImageOf(const RgbImage& image)
{
    if (image.isNull())
        return {};
    QImage result(image.width(), image.height(), QImage::Format_RGB32);
    if (result.isNull())
        return result;
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(result.scanLine(y), image.scanLine(y),
                    std::size_t(image.width()) * sizeof(QRgbValue));
    return result;
}

RgbImage rgbImageOf(const QImage& image)
{
    const QImage source = image.format() == QImage::Format_RGB32
                              ? image
                              : image.convertToFormat(QImage::Format_RGB32);
    RgbImage result(source.width(), source.height());
    if (result.isNull())
        return result;
    for (int y = 0; y < result.height(); ++y)
        std::memcpy(result.scanLine(y), source.constScanLine(y),
                    std::size_t(result.width()) * sizeof(QRgbValue));
    return result;
}

QImage toQImage(const TBitmap& bitmap)
{
    return qtImageOf(bitmap.pixels());
}

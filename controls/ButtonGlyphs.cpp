#include "controls/ButtonGlyphs.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int S = kButtonGlyphSize;
// The see-through colour of every picture; it fills the background, lower-left pixel included.
const QColor kKey(255, 0, 255);

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kGrey(128, 128, 128);
const QColor kSilver(192, 192, 192);
const QColor kDarkGrey(64, 64, 64);

QImage canvas()
{
    QImage image(S, S, QImage::Format_RGB32);
    image.fill(kKey);
    return image;
}

// Turns a picture drawn with few colours into a 256-colour one whose colour table holds exactly
// those colours.
QImage toIndexed(const QImage& image)
{
    QImage indexed(image.size(), QImage::Format_Indexed8);
    QVector<QRgb> table;
    std::map<QRgb, int> indexOf;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb colour = image.pixel(x, y) | 0xFF000000u;
            auto found = indexOf.find(colour);
            if (found == indexOf.end()) {
                if (table.size() == 256)
                    return image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
                found = indexOf.emplace(colour, int(table.size())).first;
                table.push_back(colour);
            }
            indexed.scanLine(y)[x] = uchar(found->second);
        }
    }
    while (table.size() < 256)
        table.push_back(qRgb(0, 0, 0));
    indexed.setColorTable(table);
    return indexed;
}

void outlinedRect(QPainter& p, const QRect& rect, const QColor& fill, const QColor& line)
{
    p.fillRect(rect, line);
    p.fillRect(rect.adjusted(1, 1, -1, -1), fill);
}

// A hard disk with a magnifying glass searching over it.
QImage drawAutoscan()
{
    QImage image = canvas();
    QPainter p(&image);
    // The disk: a flat box seen from the front, with its activity light.
    outlinedRect(p, QRect(1, 18, 24, 11), kSilver, kBlack);
    p.fillRect(QRect(2, 19, 22, 1), kWhite);
    p.fillRect(QRect(2, 27, 22, 1), kGrey);
    p.fillRect(QRect(4, 22, 12, 3), kGrey);
    p.fillRect(QRect(4, 22, 12, 1), kDarkGrey);
    p.fillRect(QRect(19, 23, 3, 2), QColor(0, 255, 0));
    // The glass: a ring with a glint, and its handle down to the right.
    p.setPen(QPen(kBlack, 1));
    p.setBrush(QColor(160, 224, 255));
    p.drawEllipse(QRect(12, 2, 13, 13));
    p.setPen(QPen(QColor(128, 64, 0), 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRect(13, 3, 11, 11));
    p.fillRect(QRect(15, 5, 3, 2), kWhite);
    p.fillRect(QRect(15, 7, 1, 2), kWhite);
    for (int i = 0; i < 7; ++i) {
        p.fillRect(QRect(23 + i, 14 + i, 2, 2), QColor(128, 64, 0));
        p.fillRect(QRect(24 + i, 14 + i, 1, 1), QColor(192, 128, 64));
    }
    return toIndexed(image);
}

// A red stop sign with a white bar.
QImage drawStop()
{
    QImage image = canvas();
    QPainter p(&image);
    const QPoint outer[8] = {{10, 1},  {21, 1},  {30, 10}, {30, 21},
                             {21, 30}, {10, 30}, {1, 21},  {1, 10}};
    p.setPen(QPen(QColor(128, 0, 0), 1));
    p.setBrush(QColor(255, 0, 0));
    p.drawPolygon(outer, 8);
    const QPoint inner[8] = {{11, 3},  {20, 3},  {28, 11}, {28, 20},
                             {20, 28}, {11, 28}, {3, 20},  {3, 11}};
    p.setPen(QPen(kWhite, 1));
    p.setBrush(Qt::NoBrush);
    p.drawPolygon(inner, 8);
    outlinedRect(p, QRect(7, 13, 18, 6), kWhite, kBlack);
    return toIndexed(image);
}

// A large picture with arrows pointing in to a smaller copy of it.
QImage drawResize()
{
    QImage image = canvas();
    QPainter p(&image);
    // The outline of the original size, dashed.
    for (int i = 1; i < 31; i += 2) {
        image.setPixel(i, 1, kGrey.rgb());
        image.setPixel(i, 30, kGrey.rgb());
        image.setPixel(1, i, kGrey.rgb());
        image.setPixel(30, i, kGrey.rgb());
    }
    // The fitted picture: sky, sun and a green hill.
    outlinedRect(p, QRect(9, 11, 15, 11), QColor(0, 128, 255), kBlack);
    p.fillRect(QRect(10, 17, 13, 4), QColor(0, 160, 0));
    p.fillRect(QRect(13, 15, 6, 2), QColor(0, 160, 0));
    p.fillRect(QRect(19, 13, 2, 2), QColor(255, 255, 0));
    // Arrows from two corners of the outline towards the picture.
    for (int i = 0; i < 5; ++i) {
        image.setPixel(4 + i, 4 + i, kBlack.rgb());
        image.setPixel(27 - i, 27 - i, kBlack.rgb());
    }
    p.fillRect(QRect(6, 8, 3, 1), kBlack);
    p.fillRect(QRect(8, 6, 1, 3), kBlack);
    p.fillRect(QRect(23, 23, 3, 1), kBlack);
    p.fillRect(QRect(23, 23, 1, 3), kBlack);
    return toIndexed(image);
}

// A monitor whose screen shows three sliders.
QImage drawControlPanel()
{
    QImage image = canvas();
    QPainter p(&image);
    outlinedRect(p, QRect(2, 2, 28, 22), kSilver, kBlack);
    p.fillRect(QRect(3, 3, 26, 1), kWhite);
    p.fillRect(QRect(3, 3, 1, 20), kWhite);
    outlinedRect(p, QRect(5, 5, 22, 16), QColor(0, 0, 128), kGrey);
    const int knobs[3] = {8, 14, 11};
    for (int i = 0; i < 3; ++i) {
        const int x = 9 + i * 7;
        p.fillRect(QRect(x, 7, 1, 12), kWhite);
        outlinedRect(p, QRect(x - 2, knobs[i], 5, 3), QColor(255, 255, 0), kBlack);
    }
    p.fillRect(QRect(12, 24, 8, 3), kGrey);
    outlinedRect(p, QRect(7, 27, 18, 3), kSilver, kBlack);
    return toIndexed(image);
}

// A floppy disk.
QImage drawSave()
{
    QImage image = canvas();
    QPainter p(&image);
    const QColor body(0, 0, 160);
    outlinedRect(p, QRect(2, 2, 28, 28), body, kBlack);
    image.setPixel(29, 2, kKey.rgb());
    // The metal shutter at the top with its window.
    outlinedRect(p, QRect(8, 2, 16, 10), kSilver, kBlack);
    p.fillRect(QRect(18, 4, 4, 6), kDarkGrey);
    // The paper label with its writing lines.
    outlinedRect(p, QRect(6, 16, 20, 14), kWhite, kBlack);
    for (int y = 19; y < 28; y += 3)
        p.fillRect(QRect(8, y, 16, 1), kGrey);
    p.fillRect(QRect(8, 19, 7, 1), QColor(255, 0, 0));
    return toIndexed(image);
}

// An open door with an arrow leading out of it.
QImage drawExit()
{
    QImage image = canvas();
    QPainter p(&image);
    // The frame and the dark room behind it.
    outlinedRect(p, QRect(4, 2, 16, 28), kBlack, QColor(128, 64, 0));
    // The door swung open towards the viewer.
    const QPoint door[4] = {{4, 2}, {12, 5}, {12, 31}, {4, 29}};
    p.setPen(QPen(kBlack, 1));
    p.setBrush(QColor(192, 128, 64));
    p.drawPolygon(door, 4);
    p.fillRect(QRect(10, 16, 1, 2), QColor(255, 255, 0));
    // The way out.
    const QColor green(0, 160, 0);
    p.fillRect(QRect(16, 14, 10, 5), green);
    const QPoint head[3] = {{25, 10}, {31, 16}, {25, 22}};
    p.setPen(QPen(green, 1));
    p.setBrush(green);
    p.drawPolygon(head, 3);
    p.fillRect(QRect(16, 14, 10, 1), QColor(128, 255, 128));
    return toIndexed(image);
}

// A monitor showing a shaded desktop, with the shortcut sign in its corner. This one keeps
// every shade of its gradients.
QImage drawDesktopShortcut()
{
    QImage image = canvas();
    QPainter p(&image);
    outlinedRect(p, QRect(1, 2, 30, 22), kSilver, kBlack);
    QLinearGradient sky(QPointF(0, 4), QPointF(0, 21));
    sky.setColorAt(0.0, QColor(0, 64, 160));
    sky.setColorAt(1.0, QColor(64, 192, 208));
    p.fillRect(QRect(4, 4, 24, 17), sky);
    QRadialGradient sun(QPointF(22, 9), 6);
    sun.setColorAt(0.0, QColor(255, 250, 200));
    sun.setColorAt(1.0, QColor(255, 250, 200, 0));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(sun);
    p.drawEllipse(QPointF(22, 9), 6, 6);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(12, 24, 8, 3), kGrey);
    outlinedRect(p, QRect(7, 27, 18, 3), kSilver, kBlack);
    // The shortcut sign: a white box with a curved arrow out of it.
    outlinedRect(p, QRect(4, 12, 11, 11), kWhite, kBlack);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath curve;
    curve.moveTo(7, 20);
    curve.quadTo(7, 15, 12, 15);
    p.setPen(QPen(kBlack, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawPath(curve);
    const QPointF head[3] = {{10, 13}, {13, 15.5}, {10, 18}};
    p.setPen(Qt::NoPen);
    p.setBrush(kBlack);
    p.drawPolygon(head, 3);
    return image;
}

} // namespace

QImage ButtonGlyph(std::string_view name)
{
    static const std::map<std::string_view, QImage (*)()> painters = {
        {"Autoscan", drawAutoscan},
        {"Stop", drawStop},
        {"Resize", drawResize},
        {"ControlPanel", drawControlPanel},
        {"Save", drawSave},
        {"Exit", drawExit},
        {"DesktopShortcut", drawDesktopShortcut},
    };
    const auto found = painters.find(name);
    return found == painters.end() ? QImage() : found->second();
}

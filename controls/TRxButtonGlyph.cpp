#include "controls/TRxButtonGlyph.h"

#include "desktop/QtColor.h"
#include "desktop/TCanvas.h"
#include "imaging/GraphicsTypes.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QObject>
#include <QPainter>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

// Every glyph of the same size keeps its state images in one list, so buttons that share a
// picture size share one store. The cache hangs below the application object while any glyph
// uses it and goes away with the last glyph.
class GlyphImageCache : public QObject {
public:
    static GlyphImageCache* acquire()
    {
        QObject* application = QCoreApplication::instance();
        GlyphImageCache* cache = nullptr;
        if (application != nullptr)
            cache = dynamic_cast<GlyphImageCache*>(
                application->findChild<QObject*>(kName, Qt::FindDirectChildrenOnly));
        if (cache == nullptr) {
            cache = new GlyphImageCache(application);
            cache->setObjectName(kName);
        }
        ++cache->users_;
        return cache;
    }

    void release()
    {
        if (--users_ == 0)
            delete this;
    }

    int add(QSize size, QImage image)
    {
        ImageList& list = lists_[key(size)];
        const auto free = std::find(list.used.begin(), list.used.end(), false);
        if (free != list.used.end()) {
            const auto index = int(free - list.used.begin());
            list.images[std::size_t(index)] = std::move(image);
            *free = true;
            return index;
        }
        list.images.push_back(std::move(image));
        list.used.push_back(true);
        return int(list.images.size()) - 1;
    }

    void remove(QSize size, int index)
    {
        const auto found = lists_.find(key(size));
        if (found == lists_.end() || index < 0 || index >= int(found->second.images.size()))
            return;
        ImageList& list = found->second;
        list.images[std::size_t(index)] = QImage();
        list.used[std::size_t(index)] = false;
        if (std::find(list.used.begin(), list.used.end(), true) == list.used.end())
            lists_.erase(found);
    }

    const QImage& image(QSize size, int index) const
    {
        return lists_.at(key(size)).images.at(std::size_t(index));
    }

private:
    static constexpr const char* kName = "crestwick-glyph-image-cache";

    struct ImageList {
        std::vector<QImage> images;
        std::vector<bool> used;
    };

    explicit GlyphImageCache(QObject* parent) : QObject(parent) {}
    static std::pair<int, int> key(QSize size) { return {size.width(), size.height()}; }

    std::map<std::pair<int, int>, ImageList> lists_;
    int users_ = 0;
};

namespace {

constexpr int kMaxCaptionLength = 255;
constexpr int kDropDownMarkWidth = 9;
const QString kEllipsis = QStringLiteral("...");

QRgb rgbOf(QRgb pixel)
{
    return pixel & 0xFFFFFF;
}

// The grey level that keeps a colour's brightness as the eye sees it.
int greyLevel(QRgb pixel)
{
    return (77 * qRed(pixel) + 150 * qGreen(pixel) + 29 * qBlue(pixel)) / 256;
}

QImage greyed(QImage image, QRgb face)
{
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(row[x]) == 0 || rgbOf(row[x]) == rgbOf(face))
                continue;
            const int grey = greyLevel(row[x]);
            row[x] = qRgb(grey, grey, grey);
        }
    }
    return image;
}

// The disabled look of a glyph that has no picture of its own for it: the darker part of the
// glyph cut out as one shape, drawn in the highlight colour one pixel down and right and in the
// shadow colour at its place, so that it seems pressed into the face.
QImage embossed(const QImage& image, QRgb highlight, QRgb shadow)
{
    constexpr int kShapeThreshold = 192;
    QImage result(image.size(), QImage::Format_ARGB32);
    result.fill(Qt::transparent);
    auto inShape = [&](int x, int y) {
        const QRgb pixel = image.pixel(x, y);
        return qAlpha(pixel) != 0 && greyLevel(pixel) < kShapeThreshold;
    };
    for (int y = 0; y + 1 < image.height(); ++y)
        for (int x = 0; x + 1 < image.width(); ++x)
            if (inShape(x, y))
                result.setPixel(x + 1, y + 1, highlight | 0xFF000000u);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (inShape(x, y))
                result.setPixel(x, y, shadow | 0xFF000000u);
    return result;
}

unsigned horizontalFlag(TAlignment alignment)
{
    switch (alignment) {
    case taLeftJustify:
        return DT_LEFT;
    case taRightJustify:
        return DT_RIGHT;
    case taCenter:
        break;
    }
    return DT_CENTER;
}

} // namespace

FontCaptionMetrics::FontCaptionMetrics(const QFont& font) : font_(font) {}
FontCaptionMetrics::~FontCaptionMetrics() = default;

int FontCaptionMetrics::LineWidth(const QString& line) const
{
    TCanvas canvas;
    canvas.Font.Font = font_;
    return canvas.TextWidth(line.toStdString());
}

QSize FontCaptionMetrics::Extent(const QString& text, int width, bool wordWrap) const
{
    TCanvas canvas;
    canvas.Font.Font = font_;
    TRect bounds = Rect(0, 0, width, 0);
    canvas.DrawText(text.toStdString(), bounds,
                    DT_CALCRECT | DT_CENTER | (wordWrap ? DT_WORDBREAK : 0u));
    return QSize(bounds.Width(), bounds.Height());
}

QString ShortenCaption(const QString& caption, int width, const CaptionMetrics& metrics)
{
    QStringList lines = caption.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (metrics.LineWidth(line) <= width)
            continue;
        for (int keep = std::max(int(line.size()) - 2, 0);; --keep) {
            const QString candidate = line.left(keep) + kEllipsis;
            if (keep == 0 || metrics.LineWidth(candidate) <= width) {
                line = candidate;
                break;
            }
        }
    }
    QString joined = lines.join(QLatin1Char('\n'));
    while (!joined.isEmpty() && joined.back() <= QLatin1Char(' '))
        joined.chop(1);
    return joined;
}

ButtonLayoutResult CalcButtonLayout(const QRect& client, QSize glyphSize, const QString& caption,
                                    TButtonLayout layout, int margin, int spacing, bool wordWrap,
                                    bool dropDownMark, const CaptionMetrics& metrics)
{
    const int W = client.width();
    const int H = client.height();
    const bool vertical = layout == blGlyphTop || layout == blGlyphBottom;

    // The room left for the caption along the main axis loses whatever margin and spacing are
    // fixed; -1 means they are worked out from what is left over.
    const int fixed = (margin != -1 ? margin : 0) + (spacing != -1 ? spacing : 0);
    int roomWidth = 0;
    int roomHeight = 0;
    if (vertical) {
        roomWidth = W - 2;
        roomHeight = H - glyphSize.height() - 2 - fixed;
    } else {
        roomWidth = W - glyphSize.width() - 2 - fixed - (dropDownMark ? kDropDownMarkWidth : 0);
        roomHeight = H - 2;
    }
    roomWidth = std::max(roomWidth, 0);
    roomHeight = std::max(roomHeight, 0);

    ButtonLayoutResult result;
    QString text = caption.left(kMaxCaptionLength);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (!wordWrap)
        text = ShortenCaption(text, roomWidth, metrics);
    result.Caption = text;

    QSize textSize(0, 0);
    if (!text.isEmpty())
        textSize =
            metrics.Extent(text, roomWidth, wordWrap).boundedTo(QSize(roomWidth, roomHeight));

    // Across the main axis both parts are centred on their own; each half is truncated on its
    // own, which places odd sizes one pixel differently from centring the difference.
    QPoint glyphPos;
    QPoint textPos;
    if (vertical) {
        glyphPos.setX(W / 2 - glyphSize.width() / 2);
        textPos.setX(W / 2 - textSize.width() / 2);
    } else {
        glyphPos.setY(H / 2 - glyphSize.height() / 2);
        textPos.setY(H / 2 - textSize.height() / 2);
    }

    if (textSize.width() == 0 || glyphSize.width() == 0)
        spacing = 0;
    const int size = vertical ? H : W;
    const int glyphLength = vertical ? glyphSize.height() : glyphSize.width();
    const int textLength = vertical ? textSize.height() : textSize.width();
    if (margin == -1) {
        if (spacing == -1) {
            margin = (size - (glyphLength + textLength)) / 3;
            spacing = margin;
        } else {
            margin = (size - (spacing + glyphLength + textLength)) / 2;
        }
    } else if (spacing == -1) {
        spacing = (size - margin - glyphLength - textLength) / 2;
    }

    switch (layout) {
    case blGlyphTop:
        glyphPos.setY(margin);
        textPos.setY(margin + glyphLength + spacing);
        break;
    case blGlyphBottom:
        glyphPos.setY(size - margin - glyphLength);
        textPos.setY(glyphPos.y() - spacing - textLength);
        break;
    case blGlyphLeft:
        glyphPos.setX(margin);
        textPos.setX(margin + glyphLength + spacing);
        break;
    case blGlyphRight:
        glyphPos.setX(size - margin - glyphLength);
        textPos.setX(glyphPos.x() - spacing - textLength);
        break;
    }

    result.GlyphPos = glyphPos + client.topLeft();
    result.TextBounds = QRect(textPos + client.topLeft(), textSize);
    return result;
}

TRxButtonGlyph::TRxButtonGlyph() : cache_(GlyphImageCache::acquire())
{
    indexes_.fill(-1);
}

TRxButtonGlyph::~TRxButtonGlyph()
{
    invalidate();
    if (cache_)
        cache_->release();
}

void TRxButtonGlyph::SetGlyph(const QImage& glyph)
{
    invalidate();
    glyph_ = glyph;
    if (glyph_.height() > 0) {
        transparentColor_ = rgbOf(glyph_.pixel(0, glyph_.height() - 1));
        if (glyph_.width() % glyph_.height() == 0) {
            const int count = glyph_.width() / glyph_.height();
            numGlyphs_ = count < 6 ? std::max(count, 1) : 1;
        }
    }
    changed();
}

void TRxButtonGlyph::SetNumGlyphs(int numGlyphs)
{
    numGlyphs = std::clamp(numGlyphs, 1, 5);
    if (numGlyphs == numGlyphs_)
        return;
    invalidate();
    numGlyphs_ = numGlyphs;
    changed();
}

void TRxButtonGlyph::SetAlignment(TAlignment alignment)
{
    if (alignment == alignment_)
        return;
    alignment_ = alignment;
    changed();
}

void TRxButtonGlyph::SetWordWrap(bool wordWrap)
{
    if (wordWrap == wordWrap_)
        return;
    wordWrap_ = wordWrap;
    changed();
}

QSize TRxButtonGlyph::GlyphSize() const
{
    if (glyph_.isNull() || glyph_.height() <= 0)
        return QSize(0, 0);
    return QSize(glyph_.width() / numGlyphs_, glyph_.height());
}

void TRxButtonGlyph::invalidate()
{
    for (int& index : indexes_) {
        if (index != -1 && cache_)
            cache_->remove(cachedSize_, index);
        index = -1;
    }
}

void TRxButtonGlyph::changed()
{
    if (OnChange)
        OnChange();
}

QImage TRxButtonGlyph::slice(int index) const
{
    const QSize size = GlyphSize();
    QImage image = glyph_.copy(index * size.width(), 0, size.width(), size.height())
                       .convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (rgbOf(row[x]) == transparentColor_)
                row[x] = 0;
    }
    return image;
}

QImage TRxButtonGlyph::StateImage(TRxButtonState state)
{
    const QSize size = GlyphSize();
    if (size.isEmpty())
        return QImage();
    if (indexes_[state] != -1 && cache_)
        return cache_->image(cachedSize_, indexes_[state]);

    QImage image;
    switch (state) {
    case rbsUp:
        image = slice(0);
        break;
    case rbsDisabled:
        image = numGlyphs_ >= 2 ? slice(1)
                                : embossed(slice(0), toQColor(clBtnHighlight).rgb(),
                                           toQColor(clBtnShadow).rgb());
        break;
    case rbsDown:
        image = slice(numGlyphs_ >= 3 ? 2 : 0);
        break;
    case rbsExclusive:
        image = slice(numGlyphs_ >= 4 ? 3 : 0);
        break;
    case rbsInactive:
        image = numGlyphs_ == 5 ? slice(4) : greyed(slice(0), toQColor(clBtnFace).rgb());
        break;
    }
    if (cache_) {
        cachedSize_ = size;
        indexes_[state] = cache_->add(size, image);
    }
    return image;
}

QRect TRxButtonGlyph::Draw(QPainter& painter, const QRect& client, const QString& caption,
                           TButtonLayout layout, int margin, int spacing, bool dropDownMark,
                           TRxButtonState glyphState, TRxButtonState captionState, TColor fontColor)
{
    const FontCaptionMetrics metrics(painter.font());
    const ButtonLayoutResult placed = CalcButtonLayout(client, GlyphSize(), caption, layout, margin,
                                                       spacing, wordWrap_, dropDownMark, metrics);
    if (!GlyphSize().isEmpty())
        painter.drawImage(placed.GlyphPos, StateImage(glyphState));

    if (!placed.Caption.isEmpty()) {
        TCanvas canvas(&painter);
        canvas.Font.Font = painter.font();
        canvas.Brush.Style = bsClear;
        const unsigned flags =
            DT_VCENTER | horizontalFlag(alignment_) | (wordWrap_ ? DT_WORDBREAK : 0u);
        const std::string text = placed.Caption.toStdString();
        TRect bounds = TRect::fromQRect(placed.TextBounds);
        if (captionState == rbsDisabled) {
            TRect shadow = TRect::fromQRect(placed.TextBounds.translated(1, 1));
            canvas.Font.Color = clWhite;
            canvas.DrawText(text, shadow, flags);
            canvas.Font.Color = clGray;
        } else {
            canvas.Font.Color = fontColor;
        }
        canvas.DrawText(text, bounds, flags);
    }
    return placed.TextBounds;
}

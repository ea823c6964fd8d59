#include "desktop/TCanvas.h"

#include "desktop/DesignFont.h"
#include "desktop/QtImage.h"
#include "imaging/TGraphic.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <optional>

// The painter for one drawing operation: the attached one, or one opened on the device that
// the canvas's owner hands out and closed again afterwards.
class TCanvas::Scope {
public:
    explicit Scope(TCanvas& canvas) : canvas_(canvas)
    {
        if (canvas.painter_ != nullptr) {
            painter_ = canvas.painter_;
            painter_->save();
        } else if (canvas.begin_) {
            if (QPaintDevice* device = canvas.begin_()) {
                own_.emplace(device);
                painter_ = &*own_;
            }
        }
    }
    ~Scope()
    {
        if (own_) {
            own_->end();
            own_.reset();
            if (canvas_.end_)
                canvas_.end_();
        } else if (painter_ != nullptr) {
            painter_->restore();
        }
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

    QPainter* operator->() const { return painter_; }
    explicit operator bool() const { return painter_ != nullptr; }
    QPainter& painter() const { return *painter_; }

private:
    TCanvas& canvas_;
    std::optional<QPainter> own_;
    QPainter* painter_ = nullptr;
};

namespace {

QString qText(const std::string& text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QPen qPen(const TPen& pen)
{
    if (pen.Style == psClear)
        return QPen(Qt::NoPen);
    QPen result(toQColor(pen.Color));
    result.setWidth(pen.Width <= 1 ? 0 : pen.Width);
    switch (pen.Style) {
    case psDash:
        result.setStyle(Qt::DashLine);
        break;
    case psDot:
        result.setStyle(Qt::DotLine);
        break;
    case psDashDot:
        result.setStyle(Qt::DashDotLine);
        break;
    case psDashDotDot:
        result.setStyle(Qt::DashDotDotLine);
        break;
    default:
        break;
    }
    return result;
}

QPolygon qPolygon(const std::vector<TPoint>& points)
{
    QPolygon polygon;
    for (const TPoint& p : points)
        polygon << QPoint(p.X, p.Y);
    return polygon;
}

int qtTextFlags(unsigned flags)
{
    int result = 0;
    if (flags & DT_CENTER)
        result |= Qt::AlignHCenter;
    else if (flags & DT_RIGHT)
        result |= Qt::AlignRight;
    else
        result |= Qt::AlignLeft;
    if ((flags & DT_SINGLELINE) && (flags & DT_VCENTER))
        result |= Qt::AlignVCenter;
    else if ((flags & DT_SINGLELINE) && (flags & DT_BOTTOM))
        result |= Qt::AlignBottom;
    else
        result |= Qt::AlignTop;
    if (flags & DT_WORDBREAK)
        result |= Qt::TextWordWrap;
    if (flags & DT_SINGLELINE)
        result |= Qt::TextSingleLine;
    if (flags & DT_EXPANDTABS)
        result |= Qt::TextExpandTabs;
    if (!(flags & DT_NOPREFIX))
        result |= Qt::TextShowMnemonic;
    if (flags & DT_NOCLIP)
        result |= Qt::TextDontClip;
    return result;
}

} // namespace

TCanvas::TCanvas(QPainter* painter) : painter_(painter)
{
    Font.Font = QApplication::font();
}

TCanvas::TCanvas(std::function<QPaintDevice*()> begin, std::function<void()> end)
    : begin_(std::move(begin)), end_(std::move(end))
{
    Font.Font = QApplication::font();
}

TCanvas::~TCanvas() = default;

void TCanvas::FillRect(const TRect& rect)
{
    if (Brush.Style == bsClear || rect.IsEmpty())
        return;
    Scope p(*this);
    if (p)
        p->fillRect(rect.toQRect(), toQColor(Brush.Color));
}

void TCanvas::FrameRect(const TRect& rect)
{
    if (rect.IsEmpty())
        return;
    Scope p(*this);
    if (!p)
        return;
    const QColor color = toQColor(Brush.Color);
    const QRect r = rect.toQRect();
    p->fillRect(QRect(r.left(), r.top(), r.width(), 1), color);
    p->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), color);
    p->fillRect(QRect(r.left(), r.top(), 1, r.height()), color);
    p->fillRect(QRect(r.right(), r.top(), 1, r.height()), color);
}

void TCanvas::Rectangle(const TRect& rect)
{
    if (rect.IsEmpty())
        return;
    Scope p(*this);
    if (!p)
        return;
    if (Brush.Style != bsClear)
        p->fillRect(rect.toQRect(), toQColor(Brush.Color));
    if (Pen.Style != psClear) {
        p->setPen(qPen(Pen));
        p->setBrush(Qt::NoBrush);
        p->drawRect(QRect(rect.Left, rect.Top, rect.Width() - 1, rect.Height() - 1));
    }
}

void TCanvas::Ellipse(const TRect& rect)
{
    Scope p(*this);
    if (!p)
        return;
    p->setPen(qPen(Pen));
    p->setBrush(Brush.Style == bsClear ? QBrush(Qt::NoBrush) : QBrush(toQColor(Brush.Color)));
    p->drawEllipse(QRect(rect.Left, rect.Top, rect.Width() - 1, rect.Height() - 1));
}

void TCanvas::MoveTo(int x, int y)
{
    penPos_ = {x, y};
}

void TCanvas::LineTo(int x, int y)
{
    const TPoint from = penPos_;
    penPos_ = {x, y};
    if (from == penPos_)
        return;
    Scope p(*this);
    if (!p)
        return;
    // The end point is not drawn; step back one pixel along the main direction.
    const int dx = x - from.X, dy = y - from.Y;
    int ex = x, ey = y;
    if (std::abs(dx) >= std::abs(dy))
        ex -= dx > 0 ? 1 : -1;
    else
        ey -= dy > 0 ? 1 : -1;
    if (std::abs(dx) >= std::abs(dy) && dy != 0)
        ey = from.Y + int((long long)(ex - from.X) * dy / dx);
    else if (std::abs(dx) < std::abs(dy) && dx != 0)
        ex = from.X + int((long long)(ey - from.Y) * dx / dy);
    p->setPen(qPen(Pen));
    p->drawLine(from.X, from.Y, ex, ey);
}

void TCanvas::Polyline(const std::vector<TPoint>& points)
{
    if (points.empty())
        return;
    const TPoint saved = penPos_;
    MoveTo(points[0].X, points[0].Y);
    for (std::size_t i = 1; i < points.size(); ++i)
        LineTo(points[i].X, points[i].Y);
    penPos_ = saved;
}

void TCanvas::Polygon(const std::vector<TPoint>& points)
{
    Scope p(*this);
    if (!p)
        return;
    p->setPen(qPen(Pen));
    p->setBrush(Brush.Style == bsClear ? QBrush(Qt::NoBrush) : QBrush(toQColor(Brush.Color)));
    p->drawPolygon(qPolygon(points));
}

TColor TCanvas::Pixel(int x, int y)
{
    Scope p(*this);
    if (!p)
        return clNone;
    auto* image = dynamic_cast<QImage*>(p->device());
    if (image == nullptr || !image->valid(x, y))
        return clNone;
    const QRgb rgb = image->pixel(x, y);
    return RGBColor(qRed(rgb), qGreen(rgb), qBlue(rgb));
}

void TCanvas::SetPixel(int x, int y, TColor color)
{
    Scope p(*this);
    if (p)
        p->fillRect(QRect(x, y, 1, 1), toQColor(color));
}

void TCanvas::TextOut(int x, int y, const std::string& text)
{
    Scope p(*this);
    if (!p)
        return;
    const QString s = qText(text);
    const QFontMetrics metrics(Font.Font);
    if (Brush.Style != bsClear)
        p->fillRect(QRect(x, y, metrics.horizontalAdvance(s), metrics.height()),
                    toQColor(Brush.Color));
    p->setFont(Font.Font);
    p->setPen(toQColor(Font.Color));
    DesignFont::DrawText(p.painter(), QPointF(x, y + metrics.ascent()), s);
}

void TCanvas::TextRect(const TRect& rect, int x, int y, const std::string& text)
{
    Scope p(*this);
    if (!p)
        return;
    p->setClipRect(rect.toQRect(), Qt::IntersectClip);
    const QString s = qText(text);
    const QFontMetrics metrics(Font.Font);
    if (Brush.Style != bsClear)
        p->fillRect(rect.toQRect(), toQColor(Brush.Color));
    p->setFont(Font.Font);
    p->setPen(toQColor(Font.Color));
    DesignFont::DrawText(p.painter(), QPointF(x, y + metrics.ascent()), s);
}

int TCanvas::TextWidth(const std::string& text)
{
    return QFontMetrics(Font.Font).horizontalAdvance(qText(text));
}

int TCanvas::TextHeight(const std::string& text)
{
    (void)text;
    return QFontMetrics(Font.Font).height();
}

int TCanvas::DrawText(const std::string& text, TRect& rect, unsigned flags)
{
    const QString s = qText(text);
    const QFontMetrics metrics(Font.Font);
    const int qtFlags = qtTextFlags(flags);
    QRect bounds = metrics.boundingRect(rect.toQRect(), qtFlags, s);
    if (flags & DT_CALCRECT) {
        const int width = (flags & DT_WORDBREAK) ? std::max(bounds.width(), 0) : bounds.width();
        rect.Right = rect.Left + width;
        rect.Bottom = rect.Top + bounds.height();
        return bounds.height();
    }
    Scope p(*this);
    if (!p)
        return bounds.height();
    if (!(flags & DT_NOCLIP))
        p->setClipRect(rect.toQRect(), Qt::IntersectClip);
    if (Brush.Style != bsClear)
        p->fillRect(bounds, toQColor(Brush.Color));
    p->setFont(Font.Font);
    p->setPen(toQColor(Font.Color));
    DesignFont::DrawText(p.painter(), rect.toQRect(), qtFlags, s);
    return bounds.height();
}

void TCanvas::Draw(int x, int y, TGraphic& graphic)
{
    graphic.Draw(*this, Bounds(x, y, graphic.Width(), graphic.Height()));
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic& graphic)
{
    graphic.Draw(*this, rect);
}

void TCanvas::stretchImage(const TRect& rect, const RgbImage& image)
{
    if (image.isNull() || rect.Width() <= 0 || rect.Height() <= 0)
        return;
    Scope p(*this);
    if (!p)
        return;
    const int sw = image.width(), sh = image.height();
    const int dw = rect.Width(), dh = rect.Height();
    if (sw == dw && sh == dh) {
        p->drawImage(QPoint(rect.Left, rect.Top), qtImageOf(image));
        return;
    }
    // Only the part of the target that can be seen is built.
    QRect visible = rect.toQRect();
    if (QPaintDevice* device = p->device()) {
        const QRect deviceRect(0, 0, device->width(), device->height());
        visible &= p->transform().inverted().mapRect(deviceRect);
    }
    if (p->hasClipping())
        visible &= p->clipBoundingRect().toAlignedRect();
    if (visible.isEmpty())
        return;
    const RgbImage part = stretchedPart(image, dw, dh,
                                        Bounds(visible.left() - rect.Left, visible.top() - rect.Top,
                                               visible.width(), visible.height()));
    p->drawImage(visible.topLeft(), qtImageOf(part));
}

void Frame3D(TCanvas& canvas, TRect& rect, TColor topColor, TColor bottomColor, int width)
{
    // Each ring: the left and top edges in the top colour, then the right and bottom edges in
    // the bottom colour, which takes the top-right and bottom-left corners.
    TRect r = rect;
    r.Right -= 1;
    r.Bottom -= 1;
    const TBrush savedBrush = canvas.Brush;
    canvas.Brush.Style = bsSolid;
    for (int i = 0; i < width; ++i) {
        if (r.Right < r.Left || r.Bottom < r.Top)
            break;
        canvas.Brush.Color = topColor;
        canvas.FillRect({r.Left, r.Top, r.Left + 1, r.Bottom + 1});
        canvas.FillRect({r.Left, r.Top, r.Right, r.Top + 1});
        canvas.Brush.Color = bottomColor;
        canvas.FillRect({r.Right, r.Top, r.Right + 1, r.Bottom + 1});
        canvas.FillRect({r.Left, r.Bottom, r.Right + 1, r.Bottom + 1});
        r.Left += 1;
        r.Top += 1;
        r.Right -= 1;
        r.Bottom -= 1;
    }
    canvas.Brush = savedBrush;
    canvas.Pen.Color = bottomColor;
    rect = {r.Left, r.Top, r.Right + 1, r.Bottom + 1};
}

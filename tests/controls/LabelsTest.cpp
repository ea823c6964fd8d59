#include "controls/TProLabel.h"
#include "controls/TRxLabel.h"

#include <QFontMetrics>
#include <QImage>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <utility>

namespace {

using PixelSet = std::set<std::pair<int, int>>;

constexpr QRgb kFace = 0xC0C0C0;
constexpr QRgb kWhite = 0xFFFFFF;
constexpr QRgb kBlack = 0x000000;
constexpr QRgb kGrey = 0x808080;

QFont plainFont()
{
    QFont font("DejaVu Sans");
    font.setPixelSize(16);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

PixelSet pixelsOf(const QImage& image, QRgb colour)
{
    PixelSet pixels;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == colour)
                pixels.insert({x, y});
    return pixels;
}

// Where copies of text, moved by each of the offsets, show from under the text itself.
PixelSet shadowOf(const PixelSet& text, std::initializer_list<QPoint> offsets, QSize size)
{
    PixelSet shadow;
    for (const auto& [x, y] : text)
        for (QPoint offset : offsets) {
            const int sx = x + offset.x();
            const int sy = y + offset.y();
            if (sx >= 0 && sy >= 0 && sx < size.width() && sy < size.height() &&
                !text.count({sx, sy}))
                shadow.insert({sx, sy});
        }
    return shadow;
}

QRect boundsOf(const PixelSet& pixels)
{
    QRect bounds;
    for (const auto& [x, y] : pixels)
        bounds |= QRect(x, y, 1, 1);
    return bounds;
}

QImage shot(QWidget& widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

class LabelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        parent = std::make_unique<QWidget>();
        parent->resize(300, 200);
        parent->setFont(plainFont());
        parent->show();
    }

    // A label of fixed size with room around its text, so that no shadow is cut off.
    TRxLabel* rxLabel(const char* caption)
    {
        auto* label = new TRxLabel(parent.get());
        label->SetAutoSize(false);
        label->setGeometry(10, 10, 90, 40);
        label->SetAlignment(taCenter);
        label->SetLayout(tlCenter);
        label->SetCaption(caption);
        label->show();
        return label;
    }

    TProLabel* proLabel(const char* caption)
    {
        auto* label = new TProLabel(parent.get());
        label->SetAutoSize(false);
        label->setGeometry(10, 60, 90, 40);
        label->SetAlignment(taCenter);
        label->SetVerticalAlignment(vaCenter);
        label->SetCaption(caption);
        label->show();
        return label;
    }

    std::unique_ptr<QWidget> parent;
};

} // namespace

TEST_F(LabelTest, ConstructorsSetTheDocumentedDefaults)
{
    TRxLabel rx;
    EXPECT_EQ(rx.size(), QSize(65, 17));
    EXPECT_EQ(rx.Caption(), QString());
    EXPECT_EQ(rx.Alignment(), taLeftJustify);
    EXPECT_EQ(rx.Layout(), tlTop);
    EXPECT_TRUE(rx.AutoSize());
    EXPECT_TRUE(rx.ShowAccelChar());
    EXPECT_FALSE(rx.WordWrap());
    EXPECT_EQ(rx.ShadowColor(), clBtnHighlight);
    EXPECT_EQ(rx.ShadowSize(), 1);
    EXPECT_EQ(rx.ShadowPos(), spLeftTop);
    EXPECT_FALSE(rx.Transparent());

    TProLabel pro;
    EXPECT_EQ(pro.size(), QSize(65, 17));
    EXPECT_EQ(pro.ShadowColor(), clBtnShadow);
    EXPECT_EQ(pro.ShadowStyle(), ssNone);
    EXPECT_EQ(pro.OffsetX(), 0);
    EXPECT_EQ(pro.OffsetY(), 0);
    EXPECT_EQ(pro.VerticalAlignment(), vaTop);
    EXPECT_EQ(pro.Angle(), 0);
}

TEST_F(LabelTest, RxLabelDrawsAHighlightCopyUpLeftThenTheText)
{
    TRxLabel* label = rxLabel("Hg");
    const QImage image = shot(*label);
    const PixelSet text = pixelsOf(image, kBlack);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(pixelsOf(image, kWhite), shadowOf(text, {{-1, -1}}, image.size()));
    EXPECT_EQ(pixelsOf(image, kFace).size() + text.size() + pixelsOf(image, kWhite).size(),
              std::size_t(image.width() * image.height()))
        << "nothing but face, text and shadow";
}

TEST_F(LabelTest, RxLabelShadowFollowsShadowPosAndShadowSize)
{
    const struct {
        TShadowPosition position;
        int size;
        QPoint offset;
    } cases[] = {
        {spLeftTop, 2, {-2, -2}},
        {spLeftBottom, 1, {-1, 1}},
        {spRightBottom, 2, {2, 2}},
        {spRightTop, 3, {3, -3}},
    };
    for (const auto& c : cases) {
        TRxLabel* label = rxLabel("Hg");
        label->SetShadowPos(c.position);
        label->SetShadowSize(c.size);
        const QImage image = shot(*label);
        const PixelSet text = pixelsOf(image, kBlack);
        EXPECT_EQ(pixelsOf(image, kWhite), shadowOf(text, {c.offset}, image.size()))
            << "position " << c.position << " size " << c.size;
        delete label;
    }
}

TEST_F(LabelTest, RxLabelWithoutShadowShowsOnlyTheTextUnlessDisabled)
{
    TRxLabel* label = rxLabel("Hg");
    label->SetShadowSize(0);
    QImage image = shot(*label);
    EXPECT_FALSE(pixelsOf(image, kBlack).empty());
    EXPECT_TRUE(pixelsOf(image, kWhite).empty());

    // Disabled: grey text over a highlight copy one pixel down and right, which looks engraved.
    label->setEnabled(false);
    image = shot(*label);
    const PixelSet grey = pixelsOf(image, kGrey);
    ASSERT_FALSE(grey.empty());
    EXPECT_TRUE(pixelsOf(image, kBlack).empty());
    EXPECT_EQ(pixelsOf(image, kWhite), shadowOf(grey, {{1, 1}}, image.size()));

    // With a shadow of its own a disabled label keeps its side for it.
    label->SetShadowSize(1);
    image = shot(*label);
    EXPECT_EQ(pixelsOf(image, kWhite), shadowOf(pixelsOf(image, kGrey), {{-1, -1}}, image.size()));
}

TEST_F(LabelTest, RxLabelLayoutMovesTheTextBlockDown)
{
    const int lineHeight = QFontMetrics(plainFont()).height();
    TRxLabel* label = rxLabel("Hg");
    label->SetAlignment(taLeftJustify);
    const int height = label->height();
    int tops[3] = {};
    const TTextLayout layouts[3] = {tlTop, tlCenter, tlBottom};
    for (int i = 0; i < 3; ++i) {
        label->SetLayout(layouts[i]);
        tops[i] = boundsOf(pixelsOf(shot(*label), kBlack)).top();
    }
    // The block is moved by the room left under the text and its one-pixel shadow.
    EXPECT_EQ(tops[2] - tops[0], height - (lineHeight + 1));
    EXPECT_EQ(tops[1] - tops[0], (height - (lineHeight + 1)) / 2);
}

TEST_F(LabelTest, RxLabelAutoSizeFitsTextMarginsAndShadow)
{
    const QFontMetrics metrics(plainFont());
    auto* label = new TRxLabel(parent.get());
    label->move(100, 100);
    label->SetCaption("System Info");
    const int textWidth =
        metrics.boundingRect(QRect(0, 0, 1000, 100), Qt::AlignLeft, "System Info").width();
    EXPECT_EQ(label->size(), QSize(textWidth + 2 + 1, metrics.height() + 1));
    label->SetShadowSize(3);
    EXPECT_EQ(label->height(), metrics.height() + 3);
    label->SetCaption("");
    EXPECT_EQ(label->height(), metrics.height() + 3) << "an empty caption keeps one line";

    // A right-aligned label keeps its right edge.
    label->SetAlignment(taRightJustify);
    label->SetCaption("ab");
    const int right = label->geometry().right();
    label->SetCaption("abcdefgh");
    EXPECT_EQ(label->geometry().right(), right);
    EXPECT_EQ(label->y(), 100);
}

TEST_F(LabelTest, ShadowStylePresetsSetAllFourValuesAndCustomKeepsThem)
{
    const struct {
        TShadowStyle style;
        TDirection direction;
        int depth, size;
        TColor color;
    } cases[] = {
        {ssRaised, drUpLeft, 1, 1, clWhite},        {ssRecessed, drDownRight, 1, 1, clWhite},
        {ssShadow, drDownRight, 2, 1, clBtnShadow}, {ssThickShadow, drDownRight, 1, 4, clBtnShadow},
        {ssNone, drNone, 0, 0, clBtnShadow},
    };
    for (const auto& c : cases) {
        TProLabel label;
        label.SetShadowStyle(c.style == ssNone ? ssRaised : ssNone);
        label.SetShadowStyle(c.style);
        label.SetShadowStyle(ssCustom);
        EXPECT_EQ(label.ShadowDirection(), c.direction) << c.style;
        EXPECT_EQ(label.ShadowDepth(), c.depth) << c.style;
        EXPECT_EQ(label.ShadowSize(), c.size) << c.style;
        EXPECT_EQ(label.ShadowColor(), c.color) << c.style;
    }

    // Changing one value by hand makes the style custom.
    TProLabel label;
    label.SetShadowStyle(ssShadow);
    label.SetShadowDepth(3);
    EXPECT_EQ(label.ShadowStyle(), ssCustom);
    EXPECT_EQ(label.ShadowDirection(), drDownRight);
}

TEST_F(LabelTest, ProLabelDrawsShadowCopiesSteppingAwayFromTheDepth)
{
    const struct {
        TDirection direction;
        int depth, size;
        std::initializer_list<QPoint> offsets;
    } cases[] = {
        {drDownRight, 1, 4, {{1, 1}, {2, 2}, {3, 3}, {4, 4}}},
        {drDownRight, 3, 2, {{3, 3}, {4, 4}}},
        {drLeft, 2, 1, {{-2, 0}}},
        {drUpRight, 1, 2, {{1, -1}, {2, -2}}},
        {drUp, 0, 1, {}},
    };
    for (const auto& c : cases) {
        TProLabel* label = proLabel("Hg");
        label->SetShadowStyle(ssCustom);
        label->SetShadowDirection(c.direction);
        label->SetShadowDepth(c.depth);
        label->SetShadowSize(c.size);
        const QImage image = shot(*label);
        const PixelSet text = pixelsOf(image, kBlack);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(pixelsOf(image, kGrey), shadowOf(text, c.offsets, image.size()))
            << "direction " << c.direction << " depth " << c.depth;
        delete label;
    }

    TProLabel* thick = proLabel("Hg");
    thick->SetShadowStyle(ssThickShadow);
    const QImage image = shot(*thick);
    EXPECT_EQ(pixelsOf(image, kGrey),
              shadowOf(pixelsOf(image, kBlack), {{1, 1}, {2, 2}, {3, 3}, {4, 4}}, image.size()));
}

TEST_F(LabelTest, ProLabelPlacesTextByVerticalAlignmentAndOffsets)
{
    const int lineHeight = QFontMetrics(plainFont()).height();
    TProLabel* label = proLabel("Hg");
    const int height = label->height();
    QRect bounds[3];
    const TVerticalAlignment alignments[3] = {vaTop, vaCenter, vaBottom};
    for (int i = 0; i < 3; ++i) {
        label->SetVerticalAlignment(alignments[i]);
        bounds[i] = boundsOf(pixelsOf(shot(*label), kBlack));
    }
    EXPECT_EQ(bounds[2].top() - bounds[0].top(), height - lineHeight);
    EXPECT_EQ(bounds[1].top() - bounds[0].top(), (height - lineHeight) / 2);

    label->SetOffsetX(3);
    label->SetOffsetY(-2);
    EXPECT_EQ(boundsOf(pixelsOf(shot(*label), kBlack)), bounds[2].translated(3, -2));

    // Turned a quarter, the text stands taller than wide about the middle of the label.
    label->setGeometry(10, 60, 60, 60);
    label->SetOffsetX(0);
    label->SetOffsetY(0);
    label->SetAngle(90);
    const QRect turned = boundsOf(pixelsOf(shot(*label), kBlack));
    EXPECT_GT(turned.height(), turned.width());
    EXPECT_NEAR(turned.center().y(), 30, 3);
}

TEST_F(LabelTest, MakersBannerShowsItsShadowUpLeftOfTheShiftedText)
{
    // The about page's banner: a light shadow one pixel up and left, the text on the bottom
    // edge moved one pixel right and down, drawn over the page.
    parent->setAutoFillBackground(true);
    auto* label = new TProLabel(parent.get());
    label->SetAutoSize(false);
    label->setGeometry(20, 20, 120, 40);
    label->SetCaption("Quill");
    label->SetShadowStyle(ssCustom);
    label->SetShadowDirection(drUpLeft);
    label->SetShadowDepth(1);
    label->SetShadowSize(1);
    label->SetShadowColor(RGBColor(172, 255, 255));
    label->SetOffsetX(1);
    label->SetOffsetY(1);
    label->SetVerticalAlignment(vaBottom);
    label->SetTransparent(true);
    label->SetFontColor(RGBColor(128, 128, 255));
    label->show();

    const QImage image =
        parent->grab(label->geometry()).toImage().convertToFormat(QImage::Format_RGB32);
    const PixelSet text = pixelsOf(image, 0x8080FF);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(pixelsOf(image, 0xACFFFF), shadowOf(text, {{-1, -1}}, image.size()));
    EXPECT_EQ(pixelsOf(image, kFace).size() + text.size() + pixelsOf(image, 0xACFFFF).size(),
              std::size_t(image.width() * image.height()))
        << "the page shows through";
}

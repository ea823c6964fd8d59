// The picture preview: the fit arithmetic, what painting puts where, and the load, fit and
// save operations.
#include "tests/imaging/BmpBytes.h"
#include "tests/imaging/JpegFixtures.h"

#include "controls/AdvImage.h"
#include "core/Exceptions.h"
#include "desktop/QtImage.h"
#include "imaging/TAnimatedGraphic.h"
#include "imaging/TBitmap.h"
#include "imaging/TPicture.h"
#include "tests/support/TempPrefix.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <filesystem>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

constexpr QRgb kUnpainted = 0xFFFF00FF; // what the control leaves alone shows through

// A BMP of one colour (24 bits).
std::string solidBmp(int width, int height, QRgb color)
{
    BmpSpec spec{width, height, 24, 0, {}, {}, false, 0};
    std::string pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.push_back(char(qBlue(color)));
            pixels.push_back(char(qGreen(color)));
            pixels.push_back(char(qRed(color)));
        }
        pixels.append(std::size_t(rowBytes(width, 24) - std::uint32_t(width) * 3), '\0');
    }
    return makeBmp(spec, pixels);
}

// An animated picture kind registered for ".gif" by these tests.
class TFakeAnimation : public TBitmap, public TAnimatedGraphic {
public:
    const char* ClassName() const override { return "TFakeAnimation"; }
    std::unique_ptr<TGraphic> NewInstance() const override
    {
        return std::make_unique<TFakeAnimation>();
    }
    void SetAnimated(bool animated) override { calls.push_back(animated ? "animate" : "stop"); }
    void SetAllFrameDelays(int delay) override
    {
        calls.push_back("delay " + std::to_string(delay));
    }
    // Stands for the next frame of an animation.
    void nextFrame() { Changed(this); }
    // Reads as a bitmap, and when told to, with one part of it spoiled.
    void LoadFromStream(TStream& stream) override
    {
        TBitmap::LoadFromStream(stream);
        if (spoilPart)
            PartFailed(EInvalidGraphic("Frame 2 has a bad colour"));
    }
    static inline std::vector<std::string> calls;
    static inline bool spoilPart = false;
};

class Viewer : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        viewer.resize(180, 114);
        // The main window's settings.
        viewer.SetColor(clBlack);
        viewer.SetCenterView(true);
        viewer.SetShowEmptyLabel(true);
        viewer.SetCheckColor(clBlack);
    }

    QImage render()
    {
        QImage image(viewer.size(), QImage::Format_RGB32);
        image.fill(kUnpainted);
        viewer.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }

    // Bounding box of the pixels that are neither of two colours.
    static QRect inkOf(const QImage& image, QRgb paper, QRgb other)
    {
        QRect box;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != paper && image.pixel(x, y) != other)
                    box |= QRect(x, y, 1, 1);
        return box;
    }

    // Bounding box of the pixels of one colour.
    static QRect boxOf(const QImage& image, QRgb color)
    {
        QRect box;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) == color)
                    box |= QRect(x, y, 1, 1);
        return box;
    }

    TAdvImage viewer;
};

} // namespace

TEST(AdvImageFit, FitRectShrinksKeepingProportionsAndTruncates)
{
    struct Case {
        int pw, ph, w, h;
    };
    const Case cases[] = {
        {640, 480, 152, 114}, {200, 100, 180, 90},  {100, 200, 57, 114},
        {300, 114, 180, 68},  {170, 120, 161, 114}, {181, 115, 180, 114},
        {100, 50, 100, 50},   {180, 114, 180, 114}, {0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const TRect r = TAdvImage::FitRect(180, 114, c.pw, c.ph);
        EXPECT_EQ(r, (TRect{0, 0, c.w, c.h})) << c.pw << " x " << c.ph;
    }
}

TEST(AdvImageFit, CenterRectHalvesWithTruncation)
{
    EXPECT_EQ(TAdvImage::CenterRect({0, 0, 180, 114}, {0, 0, 152, 114}), (TRect{14, 0, 166, 114}));
    EXPECT_EQ(TAdvImage::CenterRect({1, 1, 179, 113}, {0, 0, 7, 5}), (TRect{87, 55, 94, 60}));
    EXPECT_EQ(TAdvImage::CenterRect({0, 0, 180, 114}, {0, 0, 300, 200}),
              (TRect{-60, -43, 240, 157}));
}

TEST_F(Viewer, APictureIsDrawnCentredWithTheSurroundFilled)
{
    writeFile(temp() / "red.bmp", solidBmp(20, 10, qRgb(255, 0, 0)));
    viewer.SetImageName("red.bmp");
    EXPECT_EQ(viewer.ImageType(), itBmp);
    const QImage image = render();
    EXPECT_EQ(viewer.ImageRect(), (TRect{80, 52, 100, 62}));
    EXPECT_EQ(boxOf(image, qRgb(255, 0, 0)), QRect(80, 52, 20, 10));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(179, 113), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(79, 57), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(100, 57), qRgb(0, 0, 0));

    // Checked: the surround takes the check colour.
    viewer.SetCheckColor(clLime);
    viewer.SetChecked(true);
    const QImage checked = render();
    EXPECT_EQ(checked.pixel(0, 0), qRgb(0, 255, 0));
    EXPECT_EQ(checked.pixel(90, 57), qRgb(255, 0, 0));
}

TEST_F(Viewer, ALargePictureIsClippedAndTheInvertedSurroundSkipped)
{
    writeFile(temp() / "big.bmp", solidBmp(300, 200, qRgb(0, 0, 255)));
    viewer.SetImageName("big.bmp");
    const QImage image = render();
    EXPECT_EQ(viewer.ImageRect(), (TRect{-60, -43, 240, 157}));
    EXPECT_EQ(boxOf(image, qRgb(0, 0, 255)), QRect(0, 0, 180, 114));
}

TEST_F(Viewer, WithStretchRatioALargePictureIsShrunkAndASmallOneKeepsItsSize)
{
    writeFile(temp() / "big.bmp", solidBmp(360, 200, qRgb(0, 0, 255)));
    writeFile(temp() / "small.bmp", solidBmp(30, 20, qRgb(0, 0, 255)));
    viewer.SetStretchRatio(true);
    viewer.SetImageName("big.bmp");
    render();
    EXPECT_EQ(viewer.ImageRect(), (TRect{0, 7, 180, 107}));
    viewer.SetImageName("small.bmp");
    const QImage image = render();
    EXPECT_EQ(viewer.ImageRect(), (TRect{75, 47, 105, 67}));
    EXPECT_EQ(boxOf(image, qRgb(0, 0, 255)), QRect(75, 47, 30, 20));
}

TEST_F(Viewer, WithoutAPictureOnlyTheEmptyLabelIsDrawnInTheMiddle)
{
    const QImage image = render();
    // The label: dark text on the canvas's white brush, centred; nothing else is painted.
    const QRect white = boxOf(image, qRgb(255, 255, 255));
    ASSERT_FALSE(white.isEmpty());
    const int textWidth = viewer.Canvas().TextWidth("Empty");
    const int textHeight = viewer.Canvas().TextHeight("Empty");
    EXPECT_EQ(white.united(boxOf(image, qRgb(0, 0, 0))),
              QRect((180 - textWidth) / 2, (114 - textHeight) / 2, textWidth, textHeight));
    EXPECT_EQ(image.pixel(0, 0), kUnpainted);
    EXPECT_EQ(image.pixel(179, 113), kUnpainted);

    viewer.SetShowEmptyLabel(false);
    EXPECT_EQ(boxOf(render(), kUnpainted), QRect(0, 0, 180, 114));
}

TEST_F(Viewer, TheCaptionSitsBevelWidthAboveTheBottomEvenWithoutAFrame)
{
    writeFile(temp() / "red.bmp", solidBmp(20, 10, qRgb(255, 0, 0)));
    viewer.SetImageName("red.bmp");
    viewer.SetColor(clWhite); // the caption is dark text on the surround colour
    viewer.SetCaption("Caption");
    const QRgb white = qRgb(255, 255, 255), red = qRgb(255, 0, 0);
    const QRect one = inkOf(render(), white, red);
    viewer.SetBevelWidth(5);
    const QRect five = inkOf(render(), white, red);
    ASSERT_FALSE(one.isEmpty());
    EXPECT_EQ(five.translated(0, 4), one);
    EXPECT_LE(one.bottom(), 114 - 1 - 1);
    EXPECT_NEAR(one.center().x(), 90, 2);
    viewer.SetBevelWidth(1);
    // The picture moves up by half the caption's height.
    const int textHeight = viewer.Canvas().TextHeight("Caption");
    EXPECT_EQ(viewer.ImageRect().Top, (114 - textHeight) / 2 - 10 / 2);
}

TEST_F(Viewer, TheFrameIsRaised)
{
    viewer.SetShowFrame3D(true);
    viewer.SetBevelWidth(2);
    writeFile(temp() / "red.bmp", solidBmp(20, 10, qRgb(255, 0, 0)));
    viewer.SetImageName("red.bmp");
    const QImage image = render();
    const QRgb highlight = qRgb(255, 255, 255), shadow = qRgb(128, 128, 128);
    EXPECT_EQ(image.pixel(0, 0), highlight);
    EXPECT_EQ(image.pixel(1, 1), highlight);
    EXPECT_EQ(image.pixel(0, 50), highlight);
    EXPECT_EQ(image.pixel(179, 113), shadow);
    EXPECT_EQ(image.pixel(178, 112), shadow);
    EXPECT_EQ(image.pixel(0, 113), shadow); // bottom-left corner belongs to the bottom edge
    EXPECT_EQ(image.pixel(179, 0), shadow); // top-right corner to the right edge
    EXPECT_EQ(image.pixel(2, 2), qRgb(0, 0, 0));
    EXPECT_EQ(viewer.ImageRect(), (TRect{80, 52, 100, 62}));
}

TEST_F(Viewer, ImageNameLoadsClearsAndIgnoresTheSameValue)
{
    writeFile(temp() / "a.bmp", solidBmp(20, 10, qRgb(255, 0, 0)));
    viewer.SetImageName("a.bmp");
    const std::int64_t size = viewer.FileSize();
    EXPECT_EQ(size, std::int64_t(fs::file_size(temp() / "a.bmp")));

    // The same name again does nothing, even after the file changed.
    writeFile(temp() / "a.bmp", solidBmp(40, 10, qRgb(255, 0, 0)));
    viewer.SetImageName("a.bmp");
    EXPECT_EQ(viewer.Picture().Width(), 20);
    EXPECT_EQ(viewer.FileSize(), size);

    // A missing file empties the viewer; the size stays.
    viewer.SetImageName("missing.bmp");
    EXPECT_EQ(viewer.ImageName(), "");
    EXPECT_EQ(viewer.Picture().Graphic(), nullptr);
    EXPECT_EQ(viewer.ImageRect(), TRect{});
    EXPECT_EQ(viewer.FileSize(), size);

    // A file that is no valid picture: empty, but its size is taken.
    writeFile(temp() / "bad.bmp", "not a bitmap, really");
    writeFile(temp() / "notes.txt", "some text");
    viewer.SetImageName("bad.bmp");
    EXPECT_EQ(viewer.Picture().Graphic(), nullptr);
    EXPECT_EQ(viewer.FileSize(), 20);
    EXPECT_EQ(viewer.ImageName(), "bad.bmp");
    viewer.SetImageName("notes.txt");
    EXPECT_EQ(viewer.ImageType(), itUnknown);
    EXPECT_EQ(viewer.FileSize(), 9);

    // A file too short for its header: the error leaves the setter; the picture stays.
    viewer.SetImageName("a.bmp");
    writeFile(temp() / "short.bmp", "BM");
    EXPECT_THROW(viewer.SetImageName("short.bmp"), EReadError);
    EXPECT_EQ(viewer.ImageName(), "short.bmp");
    EXPECT_EQ(viewer.Picture().Width(), 40);
}

TEST_F(Viewer, AReadOnlyPicturePreviewsWithItsSize)
{
    writeFile(temp() / "ro.bmp", solidBmp(20, 10, qRgb(255, 0, 0)));
    fs::permissions(temp() / "ro.bmp", fs::perms::owner_read);
    viewer.SetImageName("ro.bmp");
    EXPECT_EQ(viewer.FileSize(), std::int64_t(fs::file_size(temp() / "ro.bmp")));
    EXPECT_EQ(viewer.Picture().Width(), 20);
}

TEST_F(Viewer, JpegSettingsApplyToTheNextLoad)
{
    writeFile(temp() / "p.jpg", makeJpeg({64, 48, false, false, 90}));
    viewer.SetJPEGScale(jsHalf);
    viewer.SetJPEGPixelFormat(jf8Bit);
    viewer.SetImageName("p.jpg");
    auto* jpeg = dynamic_cast<TJPEGImage*>(viewer.Picture().Graphic());
    ASSERT_NE(jpeg, nullptr);
    EXPECT_EQ(viewer.ImageType(), itJpeg);
    EXPECT_EQ(jpeg->Scale(), jsHalf);
    EXPECT_EQ(jpeg->PixelFormat(), jf8Bit);
    EXPECT_EQ(viewer.Picture().Width(), 32);
    viewer.SetJPEGScale(jsFullSize);
    EXPECT_EQ(jpeg->Scale(), jsHalf);
}

TEST_F(Viewer, FitToRectMakesAScreenBitmapOfTheFittedSize)
{
    writeFile(temp() / "big.bmp", solidBmp(360, 200, qRgb(0, 0, 255)));
    viewer.SetImageName("big.bmp");
    const std::int64_t size = viewer.FileSize();
    viewer.FitToRect(viewer.ClientRect());
    auto* bitmap = dynamic_cast<TBitmap*>(viewer.Picture().Graphic());
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->Width(), 180);
    EXPECT_EQ(bitmap->Height(), 100);
    EXPECT_EQ(bitmap->HandleType(), bmDDB);
    EXPECT_EQ(toQImage(*bitmap).pixel(179, 99), qRgb(0, 0, 255));
    EXPECT_EQ(viewer.ImageName(), "");
    EXPECT_EQ(viewer.FileSize(), size);

    // Saved, it takes the screen's depth.
    viewer.PrepareBitmapSave();
    viewer.Picture().SaveToFile("fit.bmp");
    const std::string out = readFile(temp() / "fit.bmp");
    EXPECT_EQ(std::uint8_t(out[28]), 32);
    EXPECT_EQ(std::uint8_t(out[18]), 180);

    // Selecting the same file again loads it anew.
    viewer.SetImageName("big.bmp");
    EXPECT_EQ(viewer.Picture().Width(), 360);
}

TEST_F(Viewer, FitToRectKeepsASmallPictureAndLeavesAnEmptyViewerEmpty)
{
    writeFile(temp() / "p.jpg", makeJpeg({64, 48, false, false, 90}));
    viewer.SetImageName("p.jpg");
    viewer.FitToRect(viewer.ClientRect());
    EXPECT_EQ(viewer.ImageType(), itBmp);
    EXPECT_EQ(viewer.Picture().Width(), 64);
    EXPECT_EQ(viewer.Picture().Height(), 48);

    TAdvImage empty;
    empty.resize(180, 114);
    empty.FitToRect(empty.ClientRect());
    EXPECT_EQ(empty.ImageType(), itBmp);
    EXPECT_EQ(empty.Picture().Width(), 0);
}

TEST_F(Viewer, SaveAsBitmapDecodesAJpegAndKeepsIt)
{
    writeFile(temp() / "p.jpg", makeJpeg({64, 48, false, false, 90}));
    viewer.SetImageName("p.jpg");
    viewer.SaveAsBitmap("out.bmp");
    EXPECT_EQ(viewer.ImageType(), itJpeg);
    TBitmap bitmap;
    bitmap.LoadFromFile("out.bmp");
    EXPECT_EQ(bitmap.Width(), 64);
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);

    TAdvImage empty;
    empty.SaveAsBitmap("empty.bmp");
    EXPECT_EQ(fs::file_size(temp() / "empty.bmp"), 0u);
}

TEST_F(Viewer, AnUndecodableJpegFailsToSaveAndLeavesTheOldFile)
{
    const std::string file = damagedSecondScan(makeJpeg({64, 48, false, true, 90}));
    writeFile(temp() / "bad.jpg", file);
    writeFile(temp() / "logo.bmp", "old logo");
    try {
        viewer.SetImageName("bad.jpg");
    } catch (const EJPEG&) {
        // The first draw decodes and reports the error.
    }
    EXPECT_THROW(viewer.SaveAsBitmap("logo.bmp"), EJPEG);
    EXPECT_EQ(readFile(temp() / "logo.bmp"), "old logo");
}

TEST_F(Viewer, PrepareBitmapSaveEmptiesAJpegAndKeepsABitmap)
{
    const std::string bmp = solidBmp(20, 10, qRgb(255, 0, 0));
    writeFile(temp() / "a.bmp", bmp);
    viewer.SetImageName("a.bmp");
    viewer.PrepareBitmapSave();
    viewer.Picture().SaveToFile("same.bmp");
    EXPECT_EQ(readFile(temp() / "same.bmp"), bmp);

    writeFile(temp() / "p.jpg", makeJpeg({64, 48, false, false, 90}));
    viewer.SetImageName("p.jpg");
    viewer.PrepareBitmapSave();
    EXPECT_EQ(viewer.ImageType(), itBmp);
    EXPECT_EQ(viewer.Picture().Width(), 0);
}

TEST_F(Viewer, AnimatedPicturesGetTheAnimationSettings)
{
    TPicture::RegisterFileFormat("gif", "Graphics Interchange Format",
                                 TGraphicClass::of<TFakeAnimation>("TFakeAnimation"));
    writeFile(temp() / "a.gif", solidBmp(20, 10, qRgb(255, 0, 0)));
    TFakeAnimation::calls.clear();
    viewer.SetGifAnimateSpeed(25);
    viewer.SetImageName("a.gif");
    EXPECT_EQ(viewer.ImageType(), itGif);
    viewer.SetGIFAnimate(true);
    viewer.SetGIFAnimate(true);
    viewer.SetGifAnimateSpeed(5);
    EXPECT_EQ(TFakeAnimation::calls,
              (std::vector<std::string>{"stop", "delay 25", "animate", "delay 5"}));
    EXPECT_TRUE(errors.empty());

    // A part the picture lost while it was read goes to the error box; the rest is shown.
    writeFile(temp() / "b.gif", solidBmp(20, 10, qRgb(255, 0, 0)));
    TFakeAnimation::spoilPart = true;
    viewer.SetImageName("b.gif");
    TFakeAnimation::spoilPart = false;
    EXPECT_EQ(errors, (std::vector<std::string>{"Frame 2 has a bad colour."}));
    EXPECT_EQ(viewer.Picture().Width(), 20);
    TPicture::UnregisterGraphicClass("TFakeAnimation");
}

TEST_F(Viewer, TheConstructorSetsTheDefaults)
{
    TAdvImage fresh;
    EXPECT_EQ(fresh.ImageName(), "");
    EXPECT_EQ(fresh.BevelWidth(), 1);
    EXPECT_EQ(fresh.CheckColor(), clRed);
    EXPECT_EQ(fresh.GifAnimateSpeed(), 10);
    EXPECT_EQ(fresh.EmptyLabel(), "Empty");
    EXPECT_EQ(fresh.JPEGCompressionQuality, 0);
    EXPECT_FALSE(fresh.CenterView());
    EXPECT_EQ(fresh.FileSize(), 0);
    EXPECT_EQ(fresh.ImageType(), itUnknown);
}

namespace {

class CountingViewer : public TAdvImage {
public:
    int paints = 0;

protected:
    void Paint() override
    {
        ++paints;
        TAdvImage::Paint();
    }
};

} // namespace

TEST_F(Viewer, AnAnimationRepaintsOnlyWhileGifAnimateIsOn)
{
    TPicture::RegisterFileFormat("gif", "Graphics Interchange Format",
                                 TGraphicClass::of<TFakeAnimation>("TFakeAnimation"));
    writeFile(temp() / "a.gif", solidBmp(20, 10, qRgb(255, 0, 0)));
    CountingViewer shown;
    shown.resize(180, 114);
    shown.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shown));
    shown.SetImageName("a.gif");
    auto* animation = dynamic_cast<TFakeAnimation*>(shown.Picture().Graphic());
    ASSERT_NE(animation, nullptr);
    const int afterLoad = shown.paints;
    EXPECT_GE(afterLoad, 1); // the load paints at once
    animation->nextFrame();
    EXPECT_EQ(shown.paints, afterLoad);
    shown.SetGIFAnimate(true);
    animation->nextFrame();
    EXPECT_EQ(shown.paints, afterLoad + 1);
    TPicture::UnregisterGraphicClass("TFakeAnimation");
}

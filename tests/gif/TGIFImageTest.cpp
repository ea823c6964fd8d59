#include "gif/MPGifImg.h"

#include "controls/AdvImage.h"
#include "core/Exceptions.h"
#include "desktop/QtImage.h"
#include "desktop/TCanvas.h"
#include "gif/MPTimer.h"
#include "imaging/TPicture.h"
#include "tests/gif/GifTestData.h"
#include "tests/support/TempPrefix.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using giftest::GifBuilder;

namespace {

constexpr std::uint32_t kRed = 0xFF0000;
constexpr std::uint32_t kGreen = 0x00FF00;
constexpr std::uint32_t kBlue = 0x0000FF;
constexpr std::uint32_t kWhite = 0xFFFFFF;
const std::vector<std::uint32_t> kFourColours = {kRed, kGreen, kBlue, kWhite};

// Two frames, each after a graphic control extension: a 2x2 image in all four colours and a
// 2x1 image in green.
std::string twoFrames(int firstDelay = 250, int secondDelay = 1000)
{
    return GifBuilder()
        .header(4, 2, kFourColours)
        .graphicControl(firstDelay)
        .image(2, 2, {0, 1, 2, 3})
        .graphicControl(secondDelay)
        .image(2, 1, {1, 1})
        .trailer()
        .bytes;
}

void load(TGIFImage& image, const std::string& bytes)
{
    TMemoryStream stream(bytes);
    image.LoadFromStream(stream);
}

std::uint32_t rgbAt(const TBitmap& bitmap, int x, int y)
{
    return toQImage(bitmap).pixel(x, y) & 0xFFFFFF;
}

template <class Error, class Action> std::string messageOf(Action&& action)
{
    try {
        action();
    } catch (const Error& error) {
        return error.Message;
    }
    return "(nothing raised)";
}

class GifImage : public TempPrefixTest {};

} // namespace

TEST_F(GifImage, ReadsFramesWithTheirBitmapsAndDelays)
{
    TGIFImage image;
    load(image, twoFrames());
    ASSERT_EQ(image.FrameCount(), 2);
    EXPECT_EQ(image.CurrentFrame(), 0);
    EXPECT_EQ(image.Width(), 4);
    EXPECT_EQ(image.Height(), 2);

    const TBitmap& first = image.FrameBitmap(0);
    EXPECT_EQ(first.Width(), 2);
    EXPECT_EQ(first.Height(), 2);
    EXPECT_EQ(rgbAt(first, 0, 0), kRed);
    EXPECT_EQ(rgbAt(first, 1, 0), kGreen);
    EXPECT_EQ(rgbAt(first, 0, 1), kBlue);
    EXPECT_EQ(rgbAt(first, 1, 1), kWhite);

    const TBitmap& second = image.FrameBitmap(1);
    EXPECT_EQ(second.Width(), 2);
    EXPECT_EQ(second.Height(), 1);
    EXPECT_EQ(rgbAt(second, 1, 0), kGreen);

    EXPECT_EQ(image.FrameDelay(0), 25);
    EXPECT_EQ(image.FrameDelay(1), 30);
}

TEST_F(GifImage, DelaysBecomeTenthsCappedAt30AndSetTheTriggerInterval)
{
    struct Case {
        int delayTime; // hundredths of a second, as in the file
        int frameDelay;
        int interval; // milliseconds
    };
    const Case cases[] = {{250, 25, 250}, {1000, 30, 300}, {0, 0, 55},
                          {9, 0, 55},     {299, 29, 290},  {65535, 30, 300}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delayTime);
        TGIFImage image;
        // The second frame is the one measured: showing it sets the interval.
        load(image, twoFrames(100, c.delayTime));
        EXPECT_EQ(image.FrameDelay(1), c.frameDelay);
        image.SetCurrentFrame(1);
        EXPECT_EQ(TGIFImage::TimerPool()->Trigger(image.TriggerHandle()).Interval(), c.interval);
    }
}

TEST_F(GifImage, SmallFrameIsStretchedOverTheWholeRectangle)
{
    TGIFImage image;
    load(image, GifBuilder()
                    .header(100, 50, kFourColours)
                    .image(10, 5, std::vector<std::uint8_t>(50, 1))
                    .trailer()
                    .bytes);
    EXPECT_EQ(image.Width(), 100);
    EXPECT_EQ(image.Height(), 50);
    EXPECT_EQ(image.FrameBitmap(0).Width(), 10);
    EXPECT_EQ(image.FrameBitmap(0).Height(), 5);

    QImage target(40, 20, QImage::Format_RGB32);
    target.fill(Qt::black);
    {
        QPainter painter(&target);
        TCanvas canvas(&painter);
        image.Draw(canvas, Rect(0, 0, 40, 20));
    }
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(target.pixel(x, y) & 0xFFFFFF, kGreen) << x << "," << y;
}

TEST_F(GifImage, LocalColourTableWinsOverTheGlobalOne)
{
    TGIFImage image;
    load(image, GifBuilder()
                    .header(2, 1, kFourColours)
                    .image(2, 1, {0, 1}, 2, 0, {0xFFFF00, 0x00FFFF})
                    .image(2, 1, {0, 1})
                    .trailer()
                    .bytes);
    ASSERT_EQ(image.FrameCount(), 2);
    EXPECT_EQ(rgbAt(image.FrameBitmap(0), 0, 0), 0xFFFF00u);
    EXPECT_EQ(rgbAt(image.FrameBitmap(0), 1, 0), 0x00FFFFu);
    EXPECT_EQ(rgbAt(image.FrameBitmap(1), 0, 0), kRed);
}

TEST_F(GifImage, InterlacedFrameRowsComeInFourPasses)
{
    // Eight rows of one pixel; the stream carries them in the order 0 4 2 6 1 3 5 7, each
    // pixel holding its own row number.
    TGIFImage image;
    load(image, GifBuilder()
                    .header(1, 8, {0, 1, 2, 3, 4, 5, 6, 7})
                    .image(1, 8, {0, 4, 2, 6, 1, 3, 5, 7}, 3, 0x40)
                    .trailer()
                    .bytes);
    const TBitmap& bitmap = image.FrameBitmap(0);
    for (int row = 0; row < 8; ++row)
        EXPECT_EQ(bitmap.ScanLine(row)[0], row);
}

TEST_F(GifImage, CommentBeforeTheTrailerAddsAnEmptyLastFrame)
{
    TGIFImage image;
    load(image, GifBuilder()
                    .header(2, 1, kFourColours)
                    .image(2, 1, {1, 2})
                    .comment("made by hand")
                    .trailer()
                    .bytes);
    ASSERT_EQ(image.FrameCount(), 2);
    EXPECT_TRUE(image.FrameBitmap(1).Empty());
    EXPECT_EQ(image.FrameDelay(1), 0);
}

TEST_F(GifImage, ExtensionsOfEveryKindAreReadAndSkipped)
{
    GifBuilder file;
    file.header(1, 1, kFourColours);
    file.u8(0x21).u8(0xFF);          // application extension
    file.u8(11).text("NETSCAPE2.0"); // identifier and authentication code
    file.u8(3).u8(1).u16(0).u8(0);   // loop count sub-block, terminator
    file.u8(0x21).u8(0x7A);          // an unknown extension label
    file.u8(2).u16(0xFFFF).u8(0);    // one sub-block, terminator
    file.comment("two").comment("comments");
    file.image(1, 1, {3}).trailer();
    TGIFImage image;
    load(image, file.bytes);
    ASSERT_EQ(image.FrameCount(), 1);
    EXPECT_EQ(rgbAt(image.FrameBitmap(0), 0, 0), kWhite);
}

TEST_F(GifImage, SignatureIsNotChecked)
{
    std::string bytes = twoFrames();
    bytes.replace(0, 6, "NOTGIF");
    TGIFImage image;
    load(image, bytes);
    EXPECT_EQ(image.FrameCount(), 2);
}

TEST_F(GifImage, DamagedLaterImageKeepsTheFramesBeforeIt)
{
    const std::string first = GifBuilder().header(2, 1, kFourColours).image(2, 1, {1, 2}).bytes;
    auto withSecond = [&](const GifBuilder& second) { return first + second.bytes; };
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"unknown block introducer", withSecond(GifBuilder().u8(0x99).trailer())},
        // Minimum code size 12, one data byte.
        {"LZW code size 12",
         withSecond(GifBuilder().descriptor(1, 1).u8(12).subBlocks({0xFF}).trailer())},
        {"clear code then end code",
         withSecond(GifBuilder()
                        .descriptor(1, 1)
                        .u8(2) // minimum code size
                        .subBlocks(giftest::CodeWriter(2).clear().end().bytes())
                        .trailer())},
        {"file ends inside the descriptor", withSecond(GifBuilder().u8(0x2C).u16(0))},
        {"file ends inside an extension", withSecond(GifBuilder().u8(0x21).u8(0xFE).u8(9))},
        {"no trailer", first},
    };
    for (const std::string& bytes : {std::string("GIF89a\x01\x00"), first.substr(0, 20)}) {
        TGIFImage image;
        load(image, bytes);
        EXPECT_EQ(image.FrameCount(), 0);
        EXPECT_EQ(image.CurrentFrame(), -1);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TGIFImage image;
        load(image, c.bytes);
        EXPECT_EQ(image.FrameCount(), 1);
        EXPECT_EQ(image.CurrentFrame(), 0);
        EXPECT_EQ(rgbAt(image.FrameBitmap(0), 1, 0), kBlue);
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(GifImage, FileEndingInsideImageDataKeepsThePixelsDecoded)
{
    std::vector<std::uint8_t> pixels(64 * 64);
    std::mt19937 random(3);
    for (auto& pixel : pixels)
        pixel = static_cast<std::uint8_t>(random() % 4);
    std::string bytes = GifBuilder().header(64, 64, kFourColours).image(64, 64, pixels).bytes;
    // Cut the file in its second data sub-block.
    bytes.resize(13 + 12 + 10 + 1 + 256 + 100);
    TGIFImage image;
    load(image, bytes);
    ASSERT_EQ(image.FrameCount(), 1);
    const TBitmap& bitmap = image.FrameBitmap(0);
    for (int x = 0; x < 64; ++x)
        EXPECT_EQ(bitmap.ScanLine(0)[x], pixels[static_cast<std::size_t>(x)]);
}

TEST_F(GifImage, HugeSizesAreRefusedBeforeAllocating)
{
    // A 65535x65535 frame is far beyond what a bitmap may hold: the frame is not made.
    TGIFImage huge;
    load(huge, GifBuilder()
                   .header(65535, 65535, kFourColours)
                   .image(2, 1, {1, 2})
                   .descriptor(65535, 65535)
                   .u8(2) // minimum code size
                   .subBlocks(giftest::lzwEncode({1}, 2))
                   .trailer()
                   .bytes);
    EXPECT_EQ(huge.Width(), 65535);
    EXPECT_EQ(huge.Height(), 65535);
    EXPECT_EQ(huge.FrameCount(), 1);

    // A long thin frame is fine.
    TGIFImage thin;
    load(thin, GifBuilder().header(65535, 1, kFourColours).image(65535, 1, {1}).trailer().bytes);
    ASSERT_EQ(thin.FrameCount(), 1);
    EXPECT_EQ(thin.FrameBitmap(0).Width(), 65535);
}

TEST_F(GifImage, CurrentFrameIsClampedAndNextFrameLoops)
{
    TGIFImage image;
    load(image, GifBuilder()
                    .header(1, 1, kFourColours)
                    .image(1, 1, {0})
                    .image(1, 1, {1})
                    .image(1, 1, {2})
                    .trailer()
                    .bytes);
    int changes = 0;
    image.OnChange = [&](TPersistent*) { ++changes; };
    struct Step {
        int set;
        int shown;
    };
    for (const Step& step : {Step{5, 2}, Step{-4, 0}, Step{1, 1}, Step{3, 2}}) {
        image.SetCurrentFrame(step.set);
        EXPECT_EQ(image.CurrentFrame(), step.shown) << step.set;
    }
    EXPECT_EQ(changes, 4);
    image.SetCurrentFrame(2); // no change, no notification
    EXPECT_EQ(changes, 4);
    std::vector<int> shown;
    for (int i = 0; i < 4; ++i) {
        image.NextFrame();
        shown.push_back(image.CurrentFrame());
    }
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 0}));
}

TEST_F(GifImage, NeverLoadedPictureIsEmpty)
{
    TGIFImage image;
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 0);
    EXPECT_EQ(image.FrameCount(), 0);
    EXPECT_EQ(image.CurrentFrame(), -1);
    image.SetCurrentFrame(0);
    EXPECT_EQ(image.CurrentFrame(), -1);
    TMemoryStream out;
    EXPECT_EQ(messageOf<EInvalidGraphicOperation>([&] { image.SaveToStream(out); }), "No GIF data");
    QImage target(4, 4, QImage::Format_RGB32);
    QPainter painter(&target);
    TCanvas canvas(&painter);
    EXPECT_EQ(messageOf<EInvalidGraphicOperation>([&] { image.Draw(canvas, Rect(0, 0, 4, 4)); }),
              "Invalid frame number -1 (0..-1)");

    // Loaded from a stream with no bytes left: still empty, but it saves (nothing).
    load(image, "");
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(image.FrameCount(), 0);
    image.SaveToStream(out);
    EXPECT_EQ(out.Size(), 0);
}

TEST_F(GifImage, FrameIndexesOutsideTheFramesRaise)
{
    TGIFImage image;
    load(image, twoFrames());
    for (int index : {-1, 2, 100}) {
        const std::string expected = "Invalid frame number " + std::to_string(index) + " (0..1)";
        EXPECT_EQ(messageOf<EInvalidGraphicOperation>([&] { image.FrameBitmap(index); }), expected);
        EXPECT_EQ(messageOf<EInvalidGraphicOperation>([&] { image.SetFrameDelay(index, 1); }),
                  expected);
    }
}

TEST_F(GifImage, SavesTheLoadedBytesUnchanged)
{
    // Bytes after the trailer belong to the file too.
    const std::string bytes = twoFrames() + "trailing bytes";
    TMemoryStream stream("prefix" + bytes);
    stream.SetPosition(6);
    TGIFImage image;
    image.LoadFromStream(stream);
    TMemoryStream out;
    image.SaveToStream(out);
    EXPECT_EQ(out.bytes(), bytes);
}

TEST_F(GifImage, StoredFormCarriesASizeBeforeTheBytes)
{
    const std::string bytes = twoFrames();
    TGIFImage image;
    load(image, bytes);
    TMemoryStream stored;
    image.WriteData(stored);
    const std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
    EXPECT_EQ(stored.bytes().substr(0, 4), std::string({char(size), char(size >> 8), 0, 0}));
    EXPECT_EQ(stored.bytes().substr(4), bytes);

    TGIFImage copy;
    stored.SetPosition(0);
    copy.ReadData(stored);
    EXPECT_EQ(copy.FrameCount(), 2);
    EXPECT_EQ(copy.CurrentFrame(), 0);

    TMemoryStream none;
    TGIFImage().WriteData(none);
    EXPECT_EQ(none.bytes(), std::string(4, '\0'));

    // A size beyond the stored bytes is a read error, found before anything is allocated.
    TMemoryStream lying(std::string("\xFF\xFF\xFF\x7F", 4) + "GIF");
    EXPECT_EQ(messageOf<EReadError>([&] { TGIFImage().ReadData(lying); }), "Stream read error");
}

TEST_F(GifImage, AssigningSharesTheDataOfAnotherGifPicture)
{
    TGIFImage source;
    load(source, twoFrames());
    source.SetCurrentFrame(1);
    TGIFImage copy;
    int changes = 0;
    copy.OnChange = [&](TPersistent*) { ++changes; };
    copy.Assign(&source);
    EXPECT_EQ(copy.Data(), source.Data());
    EXPECT_EQ(copy.CurrentFrame(), 1);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(&copy.FrameBitmap(0), &source.FrameBitmap(0));

    copy.Assign(nullptr);
    EXPECT_TRUE(copy.Empty());
    EXPECT_EQ(copy.CurrentFrame(), -1);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(source.FrameCount(), 2);

    TBitmap bitmap;
    EXPECT_EQ(messageOf<EInvalidGraphicOperation>([&] { copy.Assign(&bitmap); }),
              "Cannot assign to TGIFImage");

    // The picture framework copies a GIF picture the same way.
    TPicture picture;
    picture.SetGraphic(&source);
    auto* held = dynamic_cast<TGIFImage*>(picture.Graphic());
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->Data(), source.Data());
}

TEST_F(GifImage, FrameBitmapsCannotBeChanged)
{
    TGIFImage image;
    load(image, twoFrames());
    EXPECT_EQ(messageOf<EInvalidGraphicOperation>([&] { image.FrameBitmap(0).SetSize(5, 5); }),
              "Cannot modify TGIFFrame bitmap");
}

TEST_F(GifImage, PlainTextIsDrawnAndItsErrorsGoToTheOwner)
{
    auto plainText = [](int foreground) {
        GifBuilder file;
        file.header(8, 8, kFourColours);
        file.u8(0x21).u8(0x01);           // plain text extension
        file.u8(12);                      // block size
        file.u16(0).u16(0).u16(8).u16(8); // text grid
        file.u8(8).u8(8);                 // cell size
        file.u8(foreground).u8(3);        // foreground and background colour index
        file.u8(1).text("W").u8(0);       // one line, terminator
        return file.image(8, 8, std::vector<std::uint8_t>(64, 0)).trailer().bytes;
    };
    {
        SCOPED_TRACE("foreground index outside the table");
        TGIFImage image;
        std::vector<std::string> parts;
        image.OnPartError = [&](TPersistent* sender, const std::exception& error) {
            EXPECT_EQ(sender, &image);
            parts.push_back(error.what());
        };
        load(image, plainText(5));
        EXPECT_EQ(image.FrameCount(), 1);
        EXPECT_EQ(parts, (std::vector<std::string>{"Index 5 out of range [0..3]"}));
        // The decoder never opens the error box itself: its owner decides.
        EXPECT_TRUE(errors.empty());
    }
    errors.clear();
    {
        SCOPED_TRACE("valid colours");
        TGIFImage image;
        load(image, plainText(2));
        ASSERT_EQ(image.FrameCount(), 1);
        EXPECT_TRUE(errors.empty());
        // The background colour fills the text's cell; the frame was red.
        const QImage pixels = toQImage(image.FrameBitmap(0));
        bool white = false;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                white = white || (pixels.pixel(x, y) & 0xFFFFFF) == kWhite;
        EXPECT_TRUE(white);
    }
}

TEST_F(GifImage, AllPicturesShareOnePoolFreedWithTheLast)
{
    ASSERT_EQ(TGIFImage::TimerPool(), nullptr);
    auto first = std::make_unique<TGIFImage>();
    TMPTimerPool* pool = TGIFImage::TimerPool();
    ASSERT_NE(pool, nullptr);
    EXPECT_FALSE(pool->DefEnabled());
    auto second = std::make_unique<TGIFImage>();
    EXPECT_EQ(TGIFImage::TimerPool(), pool);
    EXPECT_EQ(pool->TriggerCount(), 2);
    EXPECT_NE(first->TriggerHandle(), second->TriggerHandle());
    // New pictures stand still.
    EXPECT_EQ(pool->EnabledTriggerCount(), 0);
    EXPECT_EQ(pool->Trigger(first->TriggerHandle()).Interval(), 55);
    first.reset();
    EXPECT_EQ(TGIFImage::TimerPool(), pool);
    EXPECT_EQ(pool->TriggerCount(), 1);
    second.reset();
    EXPECT_EQ(TGIFImage::TimerPool(), nullptr);
}

TEST_F(GifImage, AnimatedPictureStepsThroughItsFrames)
{
    TGIFImage image;
    load(image, twoFrames(0, 0));
    image.SetAllFrameDelays(6);
    EXPECT_EQ(image.FrameDelay(0), 6);
    EXPECT_EQ(image.FrameDelay(1), 6);
    std::vector<int> shown;
    image.OnChange = [&](TPersistent*) { shown.push_back(image.CurrentFrame()); };
    image.SetAnimated(true);
    EXPECT_TRUE(TGIFImage::TimerPool()->Trigger(image.TriggerHandle()).Enabled());
    for (int waited = 0; shown.size() < 3 && waited < 5000; waited += 10)
        QTest::qWait(10);
    ASSERT_GE(shown.size(), 3u);
    EXPECT_EQ(std::vector<int>(shown.begin(), shown.begin() + 3), (std::vector<int>{1, 0, 1}));
    // The delay set for all frames rules the interval from the first frame change on.
    EXPECT_EQ(TGIFImage::TimerPool()->Trigger(image.TriggerHandle()).Interval(), 60);
    image.SetAnimated(false);
    EXPECT_FALSE(TGIFImage::TimerPool()->HasTimer());
}

TEST_F(GifImage, RegisteredForTheGifExtension)
{
    RegisterGIFFormat();
    const TFileFormat* format = TPicture::FindFileFormat("C:\\PICS\\ANIM.GIF");
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->Extension, "gif");
    EXPECT_EQ(format->Description, "Graphics Interchange Format");
    EXPECT_EQ(format->GraphicClass.ClassName, "TGIFImage");

    writeFile(temp() / "anim.gif", twoFrames());
    TPicture picture;
    picture.LoadFromFile((temp() / "anim.gif").string());
    auto* gif = dynamic_cast<TGIFImage*>(picture.Graphic());
    ASSERT_NE(gif, nullptr);
    EXPECT_EQ(gif->FrameCount(), 2);
    EXPECT_EQ(picture.Width(), 4);

    UnregisterGIFFormat();
    EXPECT_EQ(TPicture::FindFileFormat("anim.gif"), nullptr);
}

TEST_F(GifImage, ViewerAnimatesAGifFileOnlyWhenAskedTo)
{
    RegisterGIFFormat();
    createDefaultPrefix();
    writeFile(windowsDir() / "anim.gif", twoFrames());
    const std::string path = "C:\\WINDOWS\\anim.gif";
    for (bool animate : {false, true}) {
        SCOPED_TRACE(animate);
        TAdvImage viewer;
        viewer.resize(180, 114);
        viewer.SetGIFAnimate(animate);
        viewer.SetImageName(path);
        ASSERT_EQ(viewer.ImageType(), itGif);
        auto* gif = dynamic_cast<TGIFImage*>(viewer.Picture().Graphic());
        ASSERT_NE(gif, nullptr);
        // The viewer's speed, 10 hundredths of a second, replaces the file's delays.
        EXPECT_EQ(gif->FrameDelay(0), 10);
        EXPECT_EQ(gif->FrameDelay(1), 10);
        std::vector<int> shown;
        for (int waited = 0; shown.size() < 2 && waited < (animate ? 5000 : 400); waited += 10) {
            QTest::qWait(10);
            if (shown.empty() || shown.back() != gif->CurrentFrame())
                shown.push_back(gif->CurrentFrame());
        }
        EXPECT_EQ(shown, (animate ? std::vector<int>{0, 1} : std::vector<int>{0}));
    }
    UnregisterGIFFormat();
}

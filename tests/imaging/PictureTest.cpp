// The picture framework: the registered file formats, loading by extension, and what a
// picture keeps when a load fails.
#include "tests/imaging/BmpBytes.h"

#include "core/Exceptions.h"
#include "imaging/TBitmap.h"
#include "imaging/TPicture.h"
#include "imaging/jpeg.h"
#include "tests/support/TempPrefix.h"

#include <gtest/gtest.h>

namespace {

// A graphic kind registered by a test.
class TFakeGraphic : public TBitmap {
public:
    const char* ClassName() const override { return "TFakeGraphic"; }
    std::unique_ptr<TGraphic> NewInstance() const override
    {
        return std::make_unique<TFakeGraphic>();
    }
};

class Picture : public TempPrefixTest {
protected:
    void TearDown() override
    {
        TPicture::UnregisterGraphicClass("TFakeGraphic");
        TempPrefixTest::TearDown();
    }
    enum class By { Extension, Content };
    std::string loadError(const std::string& name, By by = By::Extension)
    {
        TPicture picture;
        try {
            if (by == By::Content)
                picture.LoadFromFileByContent(name);
            else
                picture.LoadFromFile(name);
        } catch (const Exception& e) {
            return e.Message;
        }
        return picture.Graphic() ? picture.Graphic()->ClassName() : "none";
    }
};

} // namespace

TEST_F(Picture, TheRegisteredListStartsWithTheFrameworkAndJpegFormats)
{
    const auto& formats = TPicture::FileFormats();
    const std::pair<const char*, const char*> expected[] = {
        {"wmf", "Metafiles"}, {"emf", "Enhanced Metafiles"}, {"ico", "Icons"},
        {"bmp", "Bitmaps"},   {"jpeg", "JPEG Image File"},   {"jpg", "JPEG Image File"}};
    ASSERT_GE(formats.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(formats[i].Extension, expected[i].first);
        EXPECT_EQ(formats[i].Description, expected[i].second);
        EXPECT_EQ(formats[i].DescResID, 0);
    }
    EXPECT_EQ(formats[3].GraphicClass.ClassName, "TBitmap");
    EXPECT_EQ(formats[5].GraphicClass.ClassName, "TJPEGImage");
}

TEST_F(Picture, TheExtensionChoosesTheClass)
{
    writeFile(temp() / "a.BMP", makeBmp({5, 3, 24, 0, {}, {}, false, 0}));
    writeFile(temp() / "b.bmp", makeBmp({5, 3, 24, 0, {}, {}, false, 0}));
    writeFile(temp() / "c.wmf", "whatever");
    writeFile(temp() / "d.ico", "whatever");
    writeFile(temp() / "dir.d" / "noext", "whatever");
    const std::pair<const char*, const char*> cases[] = {
        {"a.BMP", "TBitmap"},
        {"b.bmp", "TBitmap"},
        {"c.wmf", "Metafile is not valid"},
        {"d.ico", "Icon image is not valid"},
        {"x.tif", "Unknown picture file extension (.tif)"},
        {"x.TIF", "Unknown picture file extension (.tif)"},
        {"noext", "Unknown picture file extension (.)"},
        {"dir.d\\noext", "Unknown picture file extension (.)"},
        {"c:name", "Unknown picture file extension (.)"},
        {"missing.bmp", "Cannot open file missing.bmp"},
    };
    for (const auto& [name, outcome] : cases)
        EXPECT_EQ(loadError(name), outcome) << name;
}

TEST_F(Picture, LoadingByContentTakesTheClassThatTheFirstBytesAnnounce)
{
    const std::string bmp = makeBmp({5, 3, 24, 0, {}, {}, false, 0});
    writeFile(temp() / "bitmap.jpg", bmp);
    writeFile(temp() / "bitmap", bmp);
    writeFile(temp() / "jpeg.bmp", "\xFF\xD8\xFF truncated");
    writeFile(temp() / "animation.bmp", "GIF89a no GIF class is registered");
    writeFile(temp() / "text.bmp", "neither");
    writeFile(temp() / "text.tif", "neither");
    writeFile(temp() / "empty.jpe", "");
    const std::pair<const char*, const char*> cases[] = {
        {"bitmap.jpg", "TBitmap"},
        {"bitmap", "TBitmap"},
        // The JPEG class reads the header, so its own error tells that the class was chosen.
        {"jpeg.bmp", "JPEG error #"},
        {"animation.bmp", "Bitmap image is not valid"},
        {"text.bmp", "Stream read error"},
        {"text.tif", "Unknown picture file extension (.tif)"},
        {"empty.jpe", "Unknown picture file extension (.jpe)"},
        {"missing.bmp", "Cannot open file missing.bmp"},
    };
    for (const auto& [name, outcome] : cases)
        EXPECT_EQ(loadError(name, By::Content).rfind(outcome, 0), 0u) << name;
}

TEST_F(Picture, ALaterRegistrationOfAnExtensionWins)
{
    writeFile(temp() / "a.bmp", makeBmp({5, 3, 24, 0, {}, {}, false, 0}));
    writeFile(temp() / "a.gif", makeBmp({5, 3, 24, 0, {}, {}, false, 0}));
    const std::size_t before = TPicture::FileFormats().size();
    TPicture::RegisterFileFormat("GIF", "Graphics Interchange Format",
                                 TGraphicClass::of<TFakeGraphic>("TFakeGraphic"));
    EXPECT_EQ(TPicture::FileFormats().back().Extension, "gif");
    EXPECT_EQ(loadError("a.gif"), "TFakeGraphic");
    TPicture::RegisterFileFormat("bmp", "Bitmaps", TGraphicClass::of<TFakeGraphic>("TFakeGraphic"));
    EXPECT_EQ(loadError("a.bmp"), "TFakeGraphic");
    TPicture::UnregisterGraphicClass("TFakeGraphic");
    EXPECT_EQ(TPicture::FileFormats().size(), before);
    EXPECT_EQ(loadError("a.bmp"), "TBitmap");
}

TEST_F(Picture, AFailedLoadKeepsThePreviousGraphic)
{
    writeFile(temp() / "good.bmp", makeBmp({5, 3, 24, 0, {}, {}, false, 0}));
    writeFile(temp() / "bad.bmp", "BX not a bitmap at all");
    TPicture picture;
    int changes = 0;
    picture.OnChange = [&](TPersistent* sender) {
        EXPECT_EQ(sender, &picture);
        ++changes;
    };
    picture.LoadFromFile("good.bmp");
    TGraphic* graphic = picture.Graphic();
    EXPECT_EQ(changes, 1);
    EXPECT_THROW(picture.LoadFromFile("bad.bmp"), EInvalidGraphic);
    EXPECT_THROW(picture.LoadFromFile("bad.png"), EInvalidGraphic);
    EXPECT_EQ(picture.Graphic(), graphic);
    EXPECT_EQ(picture.Width(), 5);
    EXPECT_EQ(changes, 1);
}

TEST_F(Picture, SavingWithoutAGraphicMakesNoFile)
{
    TPicture picture;
    picture.SaveToFile("none.bmp");
    EXPECT_FALSE(std::filesystem::exists(temp() / "none.bmp"));
}

TEST_F(Picture, TheBitmapFormReplacesAnotherKindByAnEmptyBitmap)
{
    TPicture picture;
    TJPEGImage jpeg;
    picture.SetGraphic(&jpeg);
    EXPECT_NE(dynamic_cast<TJPEGImage*>(picture.Graphic()), nullptr);
    EXPECT_TRUE(picture.Bitmap().Empty());
    EXPECT_NE(dynamic_cast<TBitmap*>(picture.Graphic()), nullptr);
}

TEST_F(Picture, WindowsPathsOfThePrefixAreFound)
{
    createDefaultPrefix();
    writeFile(windowsDir() / "system" / "oemlogo.bmp", makeBmp({5, 3, 24, 0, {}, {}, false, 0}));
    TPicture picture;
    picture.LoadFromFile("C:\\WINDOWS\\system\\oemlogo.bmp");
    EXPECT_EQ(picture.Width(), 5);
    picture.SaveToFile("C:\\WINDOWS\\system\\copy.bmp");
    EXPECT_TRUE(std::filesystem::exists(windowsDir() / "system" / "copy.bmp"));
}

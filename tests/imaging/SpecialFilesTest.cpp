// Pictures named by FIFOs, sockets and links to devices: every load fails as for a file that
// cannot be opened, and the viewer treats the name as no file at all.
#include "tests/support/SpecialFiles.h"
#include "controls/AdvImage.h"
#include "core/Exceptions.h"
#include "imaging/TBitmap.h"
#include "imaging/TPicture.h"
#include "imaging/jpeg.h"
#include "tests/support/TempPrefix.h"
#include "tests/support/Watchdog.h"

#include <gtest/gtest.h>

#include <functional>

namespace fs = std::filesystem;

namespace {

class PictureSpecialFiles : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
    }

    // Makes the special file C:\<stem><extension> and gives its Windows name.
    std::string make(SpecialKind kind, const std::string& extension)
    {
        const std::string name = "trap" + std::to_string(count_++) + extension;
        makeSpecialFile(kind, prefix() / "drive_c" / name);
        return "C:\\" + name;
    }

    static std::string loadError(const std::function<void()>& load)
    {
        try {
            load();
        } catch (const EFOpenError& e) {
            return e.Message;
        } catch (const Exception& e) {
            return "other error: " + e.Message;
        }
        return "loaded";
    }

private:
    int count_ = 0;
};

} // namespace

TEST_F(PictureSpecialFiles, LoadingByNameFailsWithCannotOpenFile)
{
    for (SpecialKind kind : kSpecialKinds) {
        for (const char* extension : {".bmp", ".jpg", ".BMP"}) {
            const std::string name = make(kind, extension);
            SCOPED_TRACE(describe(kind) + " " + name);
            Watchdog watchdog("loading " + describe(kind) + " " + name);
            const std::string expected = "Cannot open file " + name;

            TPicture picture;
            EXPECT_EQ(loadError([&] { picture.LoadFromFile(name); }), expected);
            EXPECT_EQ(picture.Graphic(), nullptr);
            TBitmap bitmap;
            EXPECT_EQ(loadError([&] { bitmap.LoadFromFile(name); }), expected);
            TJPEGImage jpeg;
            EXPECT_EQ(loadError([&] { jpeg.LoadFromFile(name); }), expected);
        }
    }
}

TEST_F(PictureSpecialFiles, TheViewerShowsNothingAndMeasuresNothing)
{
    for (SpecialKind kind : kSpecialKinds) {
        const std::string name = make(kind, ".bmp");
        SCOPED_TRACE(describe(kind));
        Watchdog watchdog("viewing " + describe(kind));
        TAdvImage viewer;
        viewer.SetImageName(name);
        EXPECT_EQ(viewer.Picture().Graphic(), nullptr);
        EXPECT_EQ(viewer.FileSize(), 0);
        EXPECT_EQ(viewer.ReadFileSize(name), 0);
    }
}

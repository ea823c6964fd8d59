// Crestwick: edits the OEM logo and the OEM support information of a Windows system.
#include "app/Unit1.h"
#include "desktop/DesignFont.h"
#include "desktop/TApplication.h"
#include "gif/MPGifImg.h"
#include "platform/Prefix.h"
#include "platform/Registry.h"

#include <QApplication>

int main(int argc, char** argv)
{
    // The machine's registry is read while Qt sets up; the window needs it from its start.
    platform::prefetchMachineRegistry();
    QApplication qtApplication(argc, argv);
    TApplication::RegisterFontSubstitutes();
    DesignFont::Install(qtApplication.devicePixelRatio());
    TApplication::UseClassicPalette();
    TApplication::UseScreenDepth();
    // A first start makes the machine's prefix; an existing one is left as it is.
    platform::Prefix::ensureExists();
    // GIF pictures join the picture formats that the framework registers itself.
    RegisterGIFFormat();
    int result = 0;
    {
        TForm1 Form1;
        Form1.ShowCentred();
        result = Application().Run();
    }
    return result;
}

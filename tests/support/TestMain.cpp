// Runs a subsystem's tests inside a headless application with a fixed palette and font, so
// that widget tests see the same pixels on every machine.
#include "desktop/TApplication.h"

#include <QApplication>
#include <QFont>

#include <cstdlib>
#include <gmock/gmock.h>

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QApplication::setApplicationName("crestwick");
    TApplication::RegisterFontSubstitutes();

    TApplication::UseClassicPalette();
    QFont font("DejaVu Sans");
    font.setPixelSize(11);
    QApplication::setFont(font);

    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}

// Runs a subsystem's tests inside a headless application with a fixed palette and font, so
// that widget tests see the same pixels on every machine.
#include "platform/TApplication.h"

#include <QApplication>
#include <QFont>
#include <QPalette>

#include <cstdlib>
#include <gmock/gmock.h>

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QApplication::setApplicationName("crestwick");
    TApplication::RegisterFontSubstitutes();

    QPalette palette;
    palette.setColor(QPalette::Button, QColor(0xC0, 0xC0, 0xC0));
    palette.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
    palette.setColor(QPalette::Light, QColor(0xFF, 0xFF, 0xFF));
    palette.setColor(QPalette::Midlight, QColor(0xDF, 0xDF, 0xDF));
    palette.setColor(QPalette::Dark, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Mid, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Shadow, QColor(0x00, 0x00, 0x00));
    palette.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x00));
    palette.setColor(QPalette::ButtonText, QColor(0x00, 0x00, 0x00));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    QApplication::setPalette(palette);
    QFont font("DejaVu Sans");
    font.setPixelSize(11);
    QApplication::setFont(font);

    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}

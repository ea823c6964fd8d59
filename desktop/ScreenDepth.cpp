#include "desktop/ScreenDepth.h"

#include <QGuiApplication>
#include <QScreen>

namespace desktop {

namespace {
int overriddenDepth = 0;
}

int screenBitsPerPixel()
{
    if (overriddenDepth > 0)
        return overriddenDepth;
    // A program that runs on a QCoreApplication (the command-line tool) has no screen.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
        return 32;
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int depth = screen ? screen->depth() : 32;
    return depth > 0 ? depth : 32;
}

void overrideScreenBitsPerPixel(int bits)
{
    overriddenDepth = bits > 0 ? bits : 0;
}

} // namespace desktop

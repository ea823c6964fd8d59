// The System Properties window of the machine that WINEPREFIX names: it shows the OEM logo and
// the OEM support information as the system keeps them on disk, so that what Crestwick saved
// can be seen. Started by the program's Control Panel buttons; it runs on its own.
//
// With "--grab FILE" it draws the window into FILE (PNG), prints the texts it shows, one per
// line, and ends; that is how tests and screenshots look at it without a display.
#include "sysprops/SysPropsWindow.h"

#include <QApplication>
#include <QPixmap>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("crestwick-sysprops");

    const char* grab = nullptr;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--grab") == 0)
            grab = argv[i + 1];

    SysPropsWindow window(OemDetails::read());
    if (grab) {
        window.show();
        QApplication::processEvents();
        if (!window.grab().save(QString::fromLocal8Bit(grab), "PNG"))
            return 1;
        for (const std::string& line : window.describe())
            std::printf("%s\n", line.c_str());
        return 0;
    }
    window.show();
    return QApplication::exec();
}

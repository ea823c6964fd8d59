// Writes the program's icon as PNG files for the desktop's icon theme, one per size, scaled
// from the program's own 32-pixel artwork: whole multiples by repeating pixels, so that the
// picture stays crisp, and the other sizes smoothly from the nearest larger multiple.
//   crestwick-icon-export FOLDER SIZE...   writes FOLDER/SIZExSIZE/apps/crestwick.png
#include "shell/CrestwickIcon.h"

#include <QByteArray>
#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FOLDER SIZE...\n", argv[0]);
        return 2;
    }
    const std::string bytes = CrestwickIconBytes();
    const QImage icon = QImage::fromData(QByteArray(bytes.data(), qsizetype(bytes.size())), "ICO")
                            .convertToFormat(QImage::Format_ARGB32);
    if (icon.isNull()) {
        std::fprintf(stderr, "%s: the icon artwork could not be read\n", argv[0]);
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size <= 0) {
            std::fprintf(stderr, "%s: not a size: %s\n", argv[0], argv[i]);
            return 2;
        }
        const int multiple = (size + icon.width() - 1) / icon.width();
        QImage image =
            icon.scaled(icon.size() * multiple, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        if (image.width() != size)
            image = image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QString folder =
            QString("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (!QDir().mkpath(folder) || !image.save(folder + "/crestwick.png", "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(folder));
            return 1;
        }
    }
    return 0;
}

// Writes the window icon as PNGs for the desktop icon theme:
//   morvane-draw-icon DIR  ->  DIR/16.png, DIR/24.png, DIR/32.png, DIR/48.png
#include "app/ui/Icon.h"

#include <QDir>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: morvane-draw-icon DIR\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    dir.mkpath(QStringLiteral("."));
    for (int size : morvane::IconSizes) {
        if (!morvane::drawIcon(size).save(dir.filePath(QStringLiteral("%1.png").arg(size)))) {
            std::fprintf(stderr, "morvane-draw-icon: cannot write %s\n", argv[1]);
            return 1;
        }
    }
    return 0;
}

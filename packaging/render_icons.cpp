// render_icons.cpp - writes the test client's window icon as PNG files for
// the desktop's icon theme, so the menu shows the same tile as the window.
//   render_icons DIR SIDE...     writes DIR/SIDE.png for each size
#include "glyphs.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    // Drawing text needs the application object but no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: render_icons DIR SIDE...\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "render_icons: cannot create %s\n", argv[1]);
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        const int side = std::atoi(argv[i]);
        if (side < 1 || side > 1024) {
            std::fprintf(stderr, "render_icons: %s is not a size from 1 to 1024\n", argv[i]);
            return 2;
        }
        const QString file = dir.filePath(QStringLiteral("%1.png").arg(side));
        if (!glyphs::applicationIconImage(side).save(file, "PNG")) {
            std::fprintf(stderr, "render_icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}

// Writes the program icon at the theme sizes, as a desktop installs them:
// DIRECTORY/NxN/apps/quillor.png.

#include "ui/Artwork.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    // Painting needs no screen; a build machine has none.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillor-make-icons DIRECTORY\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QIcon icon = Artwork::programIcon();
    for (int size : {16, 24, 32, 48, 64, 128}) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        const QPixmap pixmap = icon.pixmap(size, size);
        if (!QDir().mkpath(dir) || pixmap.size() != QSize(size, size) ||
            !pixmap.save(dir + QStringLiteral("/quillor.png"))) {
            std::fprintf(stderr, "quillor-make-icons: cannot write the %dx%d icon\n", size, size);
            return 1;
        }
    }
    return 0;
}

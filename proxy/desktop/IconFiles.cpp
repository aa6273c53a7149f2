// sitowiak-icon-files OUTDIR SIZE...: writes the product icon, drawn by the
// same code as the window icon, to OUTDIR/<SIZE>x<SIZE>/apps/sitowiak.png for
// each SIZE, in the layout of the hicolor icon theme. The build runs it; the
// install step copies the tree.
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "frame/windows/FrameGlyphs.h"
#include "platform/gui/Display.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTDIR SIZE...\n", argv[0]);
        return 2;
    }
    // Only the program's name goes to Qt; the icons are drawn off screen.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    sitowiak::platform::QuietEnvironmentNotes();
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    QDir out(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        int size = std::atoi(argv[i]);
        if (size < 16 || size > 1024) {
            std::fprintf(stderr, "%s: not an icon size: %s\n", argv[0], argv[i]);
            return 2;
        }
        QString folder = QStringLiteral("%1x%1/apps").arg(size);
        QString file = out.filePath(folder + QStringLiteral("/sitowiak.png"));
        QPixmap icon = sitowiak::frame::ProductIconPixmap(size);
        if (!out.mkpath(folder) || icon.size() != QSize(size, size) || !icon.save(file, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(file));
            return 1;
        }
    }
    return 0;
}

// Writes the agent's tray icon as the PNG sizes of the hicolor theme, so the
// launcher shows exactly what the tray shows:
//   tavlo-render-icons OUTDIR   ->  OUTDIR/<n>x<n>/apps/tavlopopup.png
#include "ui/AppIcon.h"

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QIcon icon = tavloIcon();
    for (const QSize& size : icon.availableSizes()) {
        const QString dir = QStringLiteral("%1x%2/apps").arg(size.width()).arg(size.height());
        if (!out.mkpath(dir) || !icon.pixmap(size).save(out.filePath(dir + QStringLiteral("/tavlopopup.png")))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(out.filePath(dir)));
            return 1;
        }
    }
    return 0;
}

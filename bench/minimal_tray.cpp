// The yardstick for the agent's start-up: the least a Qt Widgets program does
// to put an icon in the system tray. scripts/measure-resources.sh starts it
// and the agent the same way and compares how long each takes until its icon
// is embedded in the tray.
#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <cstdio>
#include <ctime>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QPixmap pm(22, 22);
    pm.fill(QColor(0xff, 0x9f, 0x1c));
    QSystemTrayIcon icon {QIcon(pm)};
    icon.show();
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::printf("Tray icon shown (visible: %d) at %lld.%09ld\n", icon.isVisible() ? 1 : 0,
                static_cast<long long>(now.tv_sec), now.tv_nsec);
    std::fflush(stdout);
    return app.exec();
}

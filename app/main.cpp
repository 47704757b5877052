#include "AppDelegate.h"
#include "Log.h"
#include "SingleInstance.h"

#include <QApplication>

namespace {

// Created once, lives for the whole process.
AppDelegate& appDelegate()
{
    static AppDelegate* delegate = new AppDelegate;
    return *delegate;
}

void preferXcbOnWayland()
{
    // Tray icons, always-on-top tool windows and placement by coordinates all
    // work through XWayland and not through most Wayland compositors.
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

} // namespace

int main(int argc, char** argv)
{
    preferXcbOnWayland();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TavloPopup"));
    QApplication::setOrganizationDomain(QStringLiteral("tavlo.app"));
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance;
    if (instance.notifyRunning())
        return 0;
    instance.listen();

    AppDelegate& delegate = appDelegate();
    QObject::connect(&instance, &SingleInstance::reopenRequested, &delegate,
                     [&delegate] { delegate.applicationShouldHandleReopen(false); });
    delegate.applicationDidFinishLaunching();
    return app.exec();
}

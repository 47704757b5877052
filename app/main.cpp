#include "AppDelegate.h"
#include "Log.h"
#include "Platform.h"
#include "QuitOnSignal.h"
#include "SingleInstance.h"

#include <QApplication>

namespace {

// Created once, lives for the whole process.
AppDelegate& appDelegate()
{
    static AppDelegate* delegate = new AppDelegate;
    return *delegate;
}

} // namespace

int main(int argc, char** argv)
{
    Platform::preferXcbOnWayland();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TavloPopup"));
    QApplication::setOrganizationDomain(QStringLiteral("tavlo.app"));
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance;
    if (instance.notifyRunning())
        return 0;
    instance.listen();
    QuitOnSignal::install();

    AppDelegate& delegate = appDelegate();
    QObject::connect(&instance, &SingleInstance::reopenRequested, &delegate,
                     [&delegate] { delegate.applicationShouldHandleReopen(false); });
    delegate.applicationDidFinishLaunching();
    return app.exec();
}

#include "app/AppDelegate.h"
#include "app/Platform.h"
#include "app/QuitOnSignal.h"
#include "app/SingleInstance.h"
#include "core/Log.h"
#include "ui/Theme.h"
#include "ui/Translations.h"

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
    Platform::logDisplayLoss();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TavloPopup"));
    QApplication::setOrganizationDomain(QStringLiteral("tavlo.app"));
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance;
    if (instance.claim() == SingleInstance::Role::secondary)
        return 0;
    QuitOnSignal::install();
    log(QStringLiteral("Running on the %1 platform").arg(QApplication::platformName()));
    Theme::followDesktop();
    Translations::install();

    AppDelegate& delegate = appDelegate();
    QObject::connect(&instance, &SingleInstance::reopenRequested, &delegate,
                     [&delegate] {
                         log(QStringLiteral("A later launch asked for the quick note"));
                         delegate.applicationShouldHandleReopen(false);
                     });
    delegate.applicationDidFinishLaunching();
    return app.exec();
}

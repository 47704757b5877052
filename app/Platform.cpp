#include "app/Platform.h"

#include "core/Log.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QString>
#include <QtGlobal>

namespace Platform {

namespace {

QtMessageHandler previousHandler = nullptr;

// Qt's xcb and wayland plugins say "The X11 connection broke" / "The Wayland
// connection broke" just before they call exit(1) or qFatal.
void onMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    thread_local bool inside = false;
    if (!inside && message.contains(QLatin1String("connection broke"))) {
        inside = true;
        log(QStringLiteral("Display connection lost (platform %1): %2; the agent ends")
                .arg(QGuiApplication::platformName(), message));
        inside = false;
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

void logDisplayLoss()
{
    previousHandler = qInstallMessageHandler(onMessage);
}

void preferXcbOnWayland()
{
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

} // namespace Platform

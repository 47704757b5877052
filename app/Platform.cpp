#include "app/Platform.h"

#include <QByteArray>
#include <QtGlobal>

namespace Platform {

void preferXcbOnWayland()
{
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

} // namespace Platform

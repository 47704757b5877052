#include "app/PresenceMonitor.h"

#include "core/Log.h"
#include "core/Timing.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QTimer>

#ifdef TAVLO_HAVE_XCB_SCREENSAVER
#include <xcb/screensaver.h>
#include <cstdlib>
#endif

namespace {
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// The X server's idle time. Only meaningful in an X11 session: under
// XWayland it counts only input sent to X clients, and would call a learner
// busy in Wayland windows away from the desk.
std::optional<double> x11IdleSeconds()
{
#ifdef TAVLO_HAVE_XCB_SCREENSAVER
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return std::nullopt;
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_screensaver_id);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!extension || !extension->present || !screen)
        return std::nullopt;
    xcb_screensaver_query_info_reply_t* info =
        xcb_screensaver_query_info_reply(c, xcb_screensaver_query_info(c, screen->root), nullptr);
    if (!info)
        return std::nullopt;
    const double seconds = info->ms_since_user_input / 1000.0;
    std::free(info);
    return seconds;
#else
    return std::nullopt;
#endif
}
} // namespace

PresenceMonitor::PresenceMonitor(QObject* parent) : QObject(parent)
{
    const QString locked = QStringLiteral("the screen is locked or the screensaver is active");
    sources_ = {
        {QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
         QStringLiteral("org.freedesktop.ScreenSaver"), {}, locked},
        {QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("/org/gnome/ScreenSaver"),
         QStringLiteral("org.gnome.ScreenSaver"), {}, locked},
        {QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
         QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Inhibited"), QStringLiteral("do-not-disturb is on")},
    };
    // GNOME's idle monitor sees Wayland input too; KDE answers on the
    // freedesktop name.
    idleSources_ = {
        {QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
         QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("GetIdletime"), 1, {}, {}, false},
        {QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
         QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("GetSessionIdleTime"), 1000, {}, {}, false},
    };
    plainX11_ = QGuiApplication::platformName() == QLatin1String("xcb") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                && qgetenv("XDG_SESSION_TYPE") != "wayland";
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        log(QStringLiteral("Presence: no session bus (%1); popups do not wait for a locked screen or do-not-disturb")
                .arg(bus.lastError().message()));
        return;
    }
    watcher_ = new QDBusServiceWatcher(this);
    watcher_->setConnection(bus);
    for (Source& s : sources_) {
        watcher_->addWatchedService(s.service);
        const bool property = !s.property.isEmpty();
        bus.connect(s.service, s.path, property ? kProperties : s.interface,
                    property ? QStringLiteral("PropertiesChanged") : QStringLiteral("ActiveChanged"), this,
                    SLOT(signalled(QDBusMessage)));
        query(s);
    }
    for (IdleSource& s : idleSources_) {
        watcher_->addWatchedService(s.service);
        queryIdle(s);
    }
    connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this](const QString& name) {
        for (Source& s : sources_)
            if (s.service == name)
                query(s);
        for (IdleSource& s : idleSources_)
            if (s.service == name)
                queryIdle(s);
    });
    connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString& name) {
        for (Source& s : sources_)
            if (s.service == name) {
                log(QStringLiteral("Presence: %1 left the session bus").arg(name));
                set(s, false);
            }
        for (IdleSource& s : idleSources_)
            if (s.service == name)
                idleAnswered(s, std::nullopt);
    });
    // Idle monitors send no signal for "still idle", so the answer is kept
    // fresh: an estimate is never more than one interval old.
    auto* poll = new QTimer(this);
    poll->setInterval(Timing::interval(Timing::presenceRecheck));
    connect(poll, &QTimer::timeout, this, [this] {
        for (IdleSource& s : idleSources_)
            if (s.idleMs)
                queryIdle(s);
    });
    poll->start();
}

std::optional<double> PresenceMonitor::idleSeconds() const
{
    for (const IdleSource& s : idleSources_)
        if (s.idleMs)
            return (*s.idleMs + double(s.answeredAt.elapsed())) / 1000.0;
    return plainX11_ ? x11IdleSeconds() : std::nullopt;
}

void PresenceMonitor::queryIdle(IdleSource& source)
{
    const QDBusMessage call = QDBusMessage::createMethodCall(source.service, source.path, source.interface, source.method);
    auto* pending = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    const QString service = source.service;
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, service](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusMessage reply = w->reply();
        for (IdleSource& s : idleSources_) {
            if (s.service != service)
                continue;
            bool number = false;
            const double value = reply.arguments().value(0).toDouble(&number);
            if (reply.type() == QDBusMessage::ErrorMessage || !number || value < 0) {
                // Some desktops own the name without the method; say so once.
                if (!s.complained && reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"))
                    log(QStringLiteral("Presence: no idle time from %1: %2")
                            .arg(service, number ? reply.errorMessage() : QStringLiteral("not a number")));
                s.complained = true;
                idleAnswered(s, std::nullopt);
            } else {
                idleAnswered(s, value * s.msPerUnit);
            }
        }
    });
}

void PresenceMonitor::idleAnswered(IdleSource& source, std::optional<double> idleMs)
{
    const bool wasAway = !reasonToWait().isEmpty();
    if (idleMs && !source.idleMs)
        log(QStringLiteral("Presence: %1 tells the idle time").arg(source.service));
    source.idleMs = idleMs;
    source.answeredAt.start();
    if (wasAway != !reasonToWait().isEmpty())
        emit changed();
}

QString PresenceMonitor::reasonToWait() const
{
    for (const Source& s : sources_)
        if (s.on)
            return s.reason;
    if (const auto idle = idleSeconds(); idle && *idle >= Timing::scaled(Timing::awayFromDesk))
        return QStringLiteral("nobody has used the keyboard or mouse for %1 minutes").arg(Timing::awayFromDesk / 60);
    return {};
}

void PresenceMonitor::refresh()
{
    if (!watcher_)
        return;
    for (Source& s : sources_)
        query(s);
    for (IdleSource& s : idleSources_)
        queryIdle(s);
}

void PresenceMonitor::query(Source& source)
{
    const bool property = !source.property.isEmpty();
    QDBusMessage call = QDBusMessage::createMethodCall(source.service, source.path, property ? kProperties : source.interface,
                                                       property ? QStringLiteral("Get") : QStringLiteral("GetActive"));
    if (property)
        call << source.interface << source.property;
    auto* pending = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    const QString service = source.service;
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, service](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusMessage reply = w->reply();
        for (Source& s : sources_) {
            if (s.service != service)
                continue;
            if (reply.type() == QDBusMessage::ErrorMessage) {
                // Most desktops offer only some of these; an absent one is no news.
                if (reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"))
                    log(QStringLiteral("Presence: %1 did not answer: %2").arg(service, reply.errorMessage()));
                set(s, false);
            } else {
                const QVariant value = reply.arguments().value(0);
                answered(s, value.canConvert<QDBusVariant>() ? value.value<QDBusVariant>().variant() : value);
            }
        }
    });
}

void PresenceMonitor::answered(Source& source, const QVariant& value)
{
    if (value.metaType().id() != QMetaType::Bool) {
        log(QStringLiteral("Presence: %1 answered garbage (%2); not waiting for it")
                .arg(source.service, QString::fromLatin1(value.typeName())));
        set(source, false);
        return;
    }
    set(source, value.toBool());
}

void PresenceMonitor::set(Source& source, bool on)
{
    if (source.on == on)
        return;
    source.on = on;
    log(QStringLiteral("Presence: %1 %2 %3").arg(source.service, on ? QStringLiteral("says") : QStringLiteral("no longer says"), source.reason));
    emit changed();
}

void PresenceMonitor::signalled(const QDBusMessage& message)
{
    const QList<QVariant> args = message.arguments();
    for (Source& s : sources_) {
        if (s.property.isEmpty() && message.interface() == s.interface && message.member() == QLatin1String("ActiveChanged")) {
            answered(s, args.value(0));
        } else if (!s.property.isEmpty() && message.member() == QLatin1String("PropertiesChanged")
                   && args.value(0).toString() == s.interface) {
            const QVariantMap changed = qdbus_cast<QVariantMap>(args.value(1));
            if (changed.contains(s.property))
                answered(s, changed.value(s.property));
        }
    }
}

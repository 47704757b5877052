#include "app/PresenceMonitor.h"

#include "core/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace {
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
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
    connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this](const QString& name) {
        for (Source& s : sources_)
            if (s.service == name)
                query(s);
    });
    connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString& name) {
        for (Source& s : sources_)
            if (s.service == name) {
                log(QStringLiteral("Presence: %1 left the session bus").arg(name));
                set(s, false);
            }
    });
}

QString PresenceMonitor::reasonToWait() const
{
    for (const Source& s : sources_)
        if (s.on)
            return s.reason;
    return {};
}

void PresenceMonitor::refresh()
{
    if (watcher_)
        for (Source& s : sources_)
            query(s);
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

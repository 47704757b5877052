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

#include <algorithm>

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
    // Idle monitors send no signal for "still idle", so while one answers its
    // answer is kept fresh: an estimate is never more than one interval old.
    idlePoll_ = new QTimer(this);
    idlePoll_->setInterval(Timing::interval(Timing::presenceRecheck));
    connect(idlePoll_, &QTimer::timeout, this, [this] {
        for (IdleSource& s : idleSources_)
            if (s.idleMs)
                queryIdle(s);
    });
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
                ++s.asked;
                set(s, false);
            }
        for (IdleSource& s : idleSources_)
            if (s.service == name)
                idleAnswered(s, std::nullopt);
    });
}

std::optional<double> PresenceMonitor::idleSeconds() const
{
    for (const IdleSource& s : idleSources_)
        if (s.idleMs)
            return (*s.idleMs + double(s.answeredAt.elapsed())) / 1000.0;
    return plainX11_ ? x11IdleSeconds() : std::nullopt;
}

void PresenceMonitor::ask(const QDBusMessage& call, std::function<void(const QDBusMessage&)> answer)
{
    auto* pending = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [answer = std::move(answer)](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        answer(w->reply());
    });
}

void PresenceMonitor::queryIdle(IdleSource& source)
{
    // The sources are fixed at construction: an index stays valid.
    const std::size_t index = std::size_t(&source - idleSources_.data());
    ask(QDBusMessage::createMethodCall(source.service, source.path, source.interface, source.method),
        [this, index](const QDBusMessage& reply) {
            IdleSource& s = idleSources_[index];
            bool number = false;
            const double value = reply.arguments().value(0).toDouble(&number);
            if (reply.type() == QDBusMessage::ErrorMessage || !number || value < 0) {
                // Some desktops own the name without the method; say so once.
                if (!s.complained && reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"))
                    log(QStringLiteral("Presence: no idle time from %1: %2")
                            .arg(s.service, number ? reply.errorMessage() : QStringLiteral("not a number")));
                s.complained = true;
                idleAnswered(s, std::nullopt);
            } else {
                idleAnswered(s, value * s.msPerUnit);
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
    const bool anyAnswers = std::any_of(idleSources_.begin(), idleSources_.end(), [](const IdleSource& s) { return s.idleMs.has_value(); });
    if (anyAnswers != idlePoll_->isActive())
        anyAnswers ? idlePoll_->start() : idlePoll_->stop();
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
    const std::size_t index = std::size_t(&source - sources_.data());
    ask(call, [this, index, asked = ++source.asked](const QDBusMessage& reply) {
        Source& s = sources_[index];
        if (s.asked != asked)
            return;
        if (reply.type() == QDBusMessage::ErrorMessage) {
            // Most desktops offer only some of these; an absent one is no news.
            if (reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"))
                log(QStringLiteral("Presence: %1 did not answer: %2").arg(s.service, reply.errorMessage()));
            set(s, false);
        } else {
            const QVariant value = reply.arguments().value(0);
            answered(s, value.canConvert<QDBusVariant>() ? value.value<QDBusVariant>().variant() : value);
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
            ++s.asked;
            answered(s, args.value(0));
        } else if (!s.property.isEmpty() && message.member() == QLatin1String("PropertiesChanged")
                   && args.value(0).toString() == s.interface) {
            const QVariantMap changed = qdbus_cast<QVariantMap>(args.value(1));
            if (changed.contains(s.property)) {
                ++s.asked;
                answered(s, changed.value(s.property));
            }
        }
    }
}

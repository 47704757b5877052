#include "app/StatusNotifierItem.h"

#include "app/DBusMenu.h"
#include "core/Log.h"
#include "core/Timing.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QPixmap>
#include <QtEndian>

namespace {
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");
const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

void registerTypes()
{
    static const bool once = [] {
        qDBusRegisterMetaType<DBusImage>();
        qDBusRegisterMetaType<DBusImageList>();
        qDBusRegisterMetaType<DBusToolTip>();
        qRegisterMetaType<DBusImageList>("DBusImageList");
        return true;
    }();
    Q_UNUSED(once);
}

QString describe(const QDBusError& error)
{
    if (error.type() == QDBusError::NoReply || error.type() == QDBusError::Timeout)
        return QStringLiteral("no answer within %1 s").arg(Timing::scaledDeadline(Timing::trayWatcherAnswer));
    return error.name() + QStringLiteral(": ") + error.message();
}
} // namespace

QDBusArgument& operator<<(QDBusArgument& arg, const DBusImage& image)
{
    arg.beginStructure();
    arg << image.width << image.height << image.pixels;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusImage& image)
{
    arg.beginStructure();
    arg >> image.width >> image.height >> image.pixels;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const DBusToolTip& tip)
{
    arg.beginStructure();
    arg << tip.iconName << tip.iconPixmap << tip.title << tip.description;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusToolTip& tip)
{
    arg.beginStructure();
    arg >> tip.iconName >> tip.iconPixmap >> tip.title >> tip.description;
    arg.endStructure();
    return arg;
}

QDBusObjectPath StatusNotifierItemObject::menu() const
{
    return QDBusObjectPath(kMenuPath);
}

void StatusNotifierItemObject::ContextMenu(int x, int y)
{
    emit owner_->contextMenuRequested(QPoint(x, y));
}

void StatusNotifierItemObject::Activate(int, int)
{
    // Hosts that skip ItemIsMenu (Plasma, COSMIC) show their menu when
    // Activate fails; anything drawn here would be a second menu.
    sendErrorReply(QDBusError::NotSupported, QStringLiteral("The item is a menu; show the menu instead"));
}

DBusImageList StatusNotifierItem::imagesOf(const QIcon& icon)
{
    DBusImageList images;
    for (int side : {16, 22, 24, 32, 48, 64}) {
        const QImage image = icon.pixmap(QSize(side, side), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull())
            continue;
        DBusImage out {image.width(), image.height(), QByteArray()};
        out.pixels.resize(qsizetype(image.width()) * image.height() * 4);
        auto* dst = reinterpret_cast<uchar*>(out.pixels.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x, dst += 4)
                qToBigEndian<quint32>(row[x], dst);
        }
        images.append(out);
    }
    return images;
}

StatusNotifierItem::StatusNotifierItem(QMenu* menu, const QDBusConnection& bus, QObject* parent)
    : QObject(parent), bus_(bus), object_(std::make_unique<StatusNotifierItemObject>(this)),
      menu_(std::make_unique<DBusMenuExporter>(menu))
{
    registerTypes();
    if (!bus_.isConnected()) {
        state_ = State::NoBus;
        log(QStringLiteral("No D-Bus session bus: a StatusNotifier tray cannot be reached"));
        return;
    }
    const auto what = QDBusConnection::ExportScriptableContents;
    exported_ = bus_.registerObject(kItemPath, object_.get(), what) && bus_.registerObject(kMenuPath, menu_.get(), what);
    if (!exported_)
        log(QStringLiteral("Cannot export the tray icon on the session bus: %1 is taken").arg(kItemPath));
    bus_.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"), QStringLiteral("org.freedesktop.DBus.Local"),
                 QStringLiteral("Disconnected"), this, SLOT(onBusGone()));
    bus_.connect(kWatcherService, kWatcherPath, kWatcherService, QStringLiteral("StatusNotifierHostRegistered"), this,
                 SLOT(onHostRegistered()));
    // Plasma's watcher outlives plasmashell: the host leaves, the watcher stays.
    bus_.connect(kWatcherService, kWatcherPath, kWatcherService, QStringLiteral("StatusNotifierHostUnregistered"), this,
                 SLOT(onHostUnregistered()));
    // Watching first: the bus answers in order, so no change falls between.
    watcher_ = new QDBusServiceWatcher(kWatcherService, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) { watcherOwnerChanged(owner); });
    QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                      QStringLiteral("/org/freedesktop/DBus"),
                                                      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    ask << kWatcherService;
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(ask), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, call, attempt = attempt_] {
        call->deleteLater();
        const QDBusPendingReply<QString> reply = *call;
        if (attempt == attempt_)
            watcherOwnerChanged(reply.isError() ? QString() : reply.value());
    });
}

StatusNotifierItem::~StatusNotifierItem()
{
    if (exported_ && bus_.isConnected()) {
        bus_.unregisterObject(kItemPath);
        bus_.unregisterObject(kMenuPath);
    }
}

void StatusNotifierItem::setIcon(const QIcon& icon, const QString& themeName)
{
    object_->icon_ = imagesOf(icon);
    object_->iconName_ = themeName;
    emit object_->NewIcon();
}

void StatusNotifierItem::setToolTip(const QString& text)
{
    object_->toolTip_ = text;
    emit object_->NewToolTip();
    emit object_->NewTitle();
}

void StatusNotifierItem::setState(State state, const QString& logLine)
{
    if (!logLine.isEmpty())
        log(logLine);
    if (state == state_)
        return;
    state_ = state;
    emit stateChanged(state);
}

void StatusNotifierItem::watcherOwnerChanged(const QString& newOwner)
{
    ++attempt_;
    if (state_ == State::NoBus)
        return;
    const bool hadOne = !watcherOwner_.isEmpty();
    watcherOwner_ = newOwner;
    if (newOwner.isEmpty()) {
        setState(State::NoWatcher, hadOne ? QStringLiteral("The StatusNotifierWatcher left the session bus")
                                          : QStringLiteral("No StatusNotifierWatcher on the session bus"));
        return;
    }
    registerWithWatcher();
}

void StatusNotifierItem::registerWithWatcher()
{
    if (!exported_) {
        setState(State::Refused);
        return;
    }
    setState(State::Registering, QStringLiteral("StatusNotifierWatcher %1 found; registering the tray icon").arg(watcherOwner_));
    // The unique name, not a well-known one: every host accepts it, and it
    // goes away with the agent.
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherService,
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << bus_.baseService();
    const int timeout = int(Timing::deadlineInterval(Timing::trayWatcherAnswer).count());
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call, timeout), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, pending, attempt = attempt_] {
        pending->deleteLater();
        if (attempt != attempt_)
            return;
        if (pending->isError()) {
            setState(State::Refused, QStringLiteral("The StatusNotifierWatcher did not register the tray icon (%1)")
                                         .arg(describe(pending->error())));
            return;
        }
        askForHost(attempt);
    });
}

void StatusNotifierItem::askForHost(quint64 attempt)
{
    QDBusMessage get = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    const int timeout = int(Timing::deadlineInterval(Timing::trayWatcherAnswer).count());
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(get, timeout), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, pending, attempt] {
        pending->deleteLater();
        if (attempt != attempt_)
            return;
        const QDBusPendingReply<QDBusVariant> reply = *pending;
        const QVariant value = reply.isError() ? QVariant() : reply.value().variant();
        // A watcher that cannot say is taken at its word that it shows items.
        if (value.typeId() == QMetaType::Bool && !value.toBool()) {
            setState(State::NoHost, QStringLiteral("The StatusNotifierWatcher has no tray host to show the icon yet"));
            return;
        }
        setState(State::Shown);
    });
}

void StatusNotifierItem::onHostRegistered()
{
    if (state_ == State::NoHost)
        askForHost(attempt_);
}

void StatusNotifierItem::onHostUnregistered()
{
    if (state_ == State::Shown)
        askForHost(attempt_);
}

void StatusNotifierItem::onBusGone()
{
    ++attempt_;
    watcherOwner_.clear();
    setState(State::NoBus, QStringLiteral("The D-Bus session bus went away: a StatusNotifier tray cannot be reached"));
}

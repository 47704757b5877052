#pragma once
// The tray icon as a StatusNotifierItem (org.kde.StatusNotifierItem at
// /StatusNotifierItem, its menu as com.canonical.dbusmenu at /MenuBar): the
// kind of tray KDE Plasma, GNOME's AppIndicator extension, waybar and Xfce's
// StatusNotifier plugin draw. Registered with org.kde.StatusNotifierWatcher
// whenever one is on the bus (at start, minutes later, after it restarts);
// hosts draw the menu themselves, left click included (ItemIsMenu).
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>

#include <memory>

class DBusMenuExporter;
class QDBusPendingCallWatcher;
class QDBusServiceWatcher;
class QMenu;
class StatusNotifierItemObject;

// (iiay): one image, ARGB32 pixels in network byte order.
struct DBusImage {
    int width = 0;
    int height = 0;
    QByteArray pixels;
};
using DBusImageList = QList<DBusImage>;
// (sa(iiay)ss): icon name, icon images, title, description.
struct DBusToolTip {
    QString iconName;
    DBusImageList iconPixmap;
    QString title;
    QString description;
};

QDBusArgument& operator<<(QDBusArgument& arg, const DBusImage& image);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusImage& image);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusToolTip& tip);

Q_DECLARE_METATYPE(DBusImage)
Q_DECLARE_METATYPE(DBusToolTip)

class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    enum class State {
        Checking,    // asking the bus whether a watcher is there
        NoBus,       // no session bus, or it went away
        NoWatcher,   // no org.kde.StatusNotifierWatcher on the bus
        Registering, // waiting for the watcher's answer
        NoHost,      // registered, but the watcher says no tray draws items
        Shown,       // registered with a watcher that has a host
        Refused,     // the watcher answered with an error or not at all
    };
    Q_ENUM(State)

    // The images sent for an icon: a few tray sizes, ARGB32 in network order.
    static DBusImageList imagesOf(const QIcon& icon);

    StatusNotifierItem(QMenu* menu, const QDBusConnection& bus, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // The images go out as IconPixmap; a name of the installed icon theme,
    // if there is one, as IconName for hosts that prefer a themed icon.
    void setIcon(const QIcon& icon, const QString& themeName = {});
    void setToolTip(const QString& text);
    State state() const { return state_; }
    // The bus name of the watcher the item is registered with, if any.
    QString watcherOwner() const { return watcherOwner_; }

signals:
    void stateChanged(StatusNotifierItem::State state);
    // A host that draws no menu of its own asked for it at this point.
    void contextMenuRequested(const QPoint& hint);

private slots:
    void onBusGone();
    void onHostRegistered();
    void onHostUnregistered();

private:
    void setState(State state, const QString& logLine = {});
    void watcherOwnerChanged(const QString& newOwner);
    void registerWithWatcher();
    void askForHost(quint64 attempt);

    QDBusConnection bus_;
    std::unique_ptr<StatusNotifierItemObject> object_;
    std::unique_ptr<DBusMenuExporter> menu_;
    QDBusServiceWatcher* watcher_ = nullptr;
    State state_ = State::Checking;
    QString watcherOwner_;
    // Bumped whenever the watcher changes: answers to older calls are stale.
    quint64 attempt_ = 0;
    bool exported_ = false;
};

// What hosts see at /StatusNotifierItem; the StatusNotifierItem above owns it.
class StatusNotifierItemObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ empty)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(DBusImageList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(DBusImageList OverlayIconPixmap READ noImages)
    Q_PROPERTY(QString AttentionIconName READ empty)
    Q_PROPERTY(DBusImageList AttentionIconPixmap READ noImages)
    Q_PROPERTY(QString AttentionMovieName READ empty)
    Q_PROPERTY(DBusToolTip ToolTip READ toolTip)
public:
    explicit StatusNotifierItemObject(StatusNotifierItem* owner) : owner_(owner) {}

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("tavlopopup"); }
    QString title() const { return QStringLiteral("TavloPopup"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString empty() const { return {}; }
    QDBusObjectPath menu() const;
    // The agent's icon has no action of its own: every click shows the menu.
    bool itemIsMenu() const { return true; }
    QString iconName() const { return iconName_; }
    DBusImageList iconPixmap() const { return icon_; }
    DBusImageList noImages() const { return {}; }
    DBusToolTip toolTip() const { return {QString(), {}, toolTip_, QString()}; }

    QString iconName_;
    DBusImageList icon_;
    QString toolTip_;

public slots:
    Q_SCRIPTABLE void ContextMenu(int x, int y);
    Q_SCRIPTABLE void Activate(int x, int y);
    Q_SCRIPTABLE void SecondaryActivate(int, int) {}
    Q_SCRIPTABLE void Scroll(int, const QString&) {}

signals:
    Q_SCRIPTABLE void NewTitle();
    Q_SCRIPTABLE void NewIcon();
    Q_SCRIPTABLE void NewAttentionIcon();
    Q_SCRIPTABLE void NewOverlayIcon();
    Q_SCRIPTABLE void NewToolTip();
    Q_SCRIPTABLE void NewStatus(const QString& status);

private:
    StatusNotifierItem* owner_;
};

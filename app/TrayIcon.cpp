#include "app/TrayIcon.h"

#include "core/Log.h"

#include <QAbstractNativeEventFilter>
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#ifdef TAVLO_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace {
// The package installs the icon in the hicolor theme under this name.
const QString kThemeIcon = QStringLiteral("tavlopopup");

QString installedThemeIcon()
{
    const QString file = QStringLiteral("icons/hicolor/scalable/apps/%1.svg").arg(kThemeIcon);
    return QStandardPaths::locate(QStandardPaths::GenericDataLocation, file).isEmpty() ? QString() : kThemeIcon;
}

} // namespace

// Tells the tray icon when an XEmbed tray manager may have come or gone: the
// MANAGER message a new one sends to the root window, or a destroyed window
// (the manager's among them). Qt's own tray tracker sees the same events.
class TrayIcon::ManagerWatch : public QAbstractNativeEventFilter {
public:
    explicit ManagerWatch(TrayIcon* tray) : tray_(tray)
    {
#ifdef TAVLO_HAVE_XCB
        auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t* c = x11 ? x11->connection() : nullptr;
        if (!c)
            return;
        const char name[] = "MANAGER";
        auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
        if (reply) {
            manager_ = reply->atom;
            std::free(reply);
        }
        QCoreApplication::instance()->installNativeEventFilter(this);
#endif
    }
    ~ManagerWatch() override
    {
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
#ifdef TAVLO_HAVE_XCB
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        const uint8_t kind = event->response_type & 0x7f;
        const bool managerCame = kind == XCB_CLIENT_MESSAGE && manager_ != XCB_ATOM_NONE &&
                                 reinterpret_cast<const xcb_client_message_event_t*>(event)->type == manager_;
        // Queued: Qt's tracker handles the same event first and docks again.
        if (managerCame || kind == XCB_DESTROY_NOTIFY)
            QMetaObject::invokeMethod(tray_, &TrayIcon::refresh, Qt::QueuedConnection);
#else
        Q_UNUSED(type);
        Q_UNUSED(message);
#endif
        return false;
    }

private:
    TrayIcon* tray_;
#ifdef TAVLO_HAVE_XCB
    xcb_atom_t manager_ = XCB_ATOM_NONE;
#endif
};

QPoint TrayIcon::menuPosition(const QRect& icon, const QSize& menu, const QRect& area)
{
    const int maxX = std::max(area.left(), area.right() + 1 - menu.width());
    const int maxY = std::max(area.top(), area.bottom() + 1 - menu.height());
    const int x = std::clamp(icon.left(), area.left(), maxX);
    // A panel at the bottom gets the menu above the icon, any other below it.
    const int y = icon.center().y() > area.center().y() ? icon.top() - menu.height() : icon.bottom() + 1;
    return {x, std::clamp(y, area.top(), maxY)};
}

TrayIcon::TrayIcon(QMenu* menu, const QIcon& icon, QObject* parent, const QDBusConnection& bus)
    : QObject(parent), menu_(menu), filtered_(menu), icon_(icon)
{
    if (menu_)
        menu_->installEventFilter(this);
    sni_ = new StatusNotifierItem(menu, bus, this);
    sni_->setIcon(icon, installedThemeIcon());
    connect(sni_, &StatusNotifierItem::stateChanged, this, &TrayIcon::refresh);
    connect(sni_, &StatusNotifierItem::contextMenuRequested, this, &TrayIcon::popUp);
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        managerWatch_ = std::make_unique<ManagerWatch>(this);
    refresh();
}

TrayIcon::~TrayIcon()
{
    if (menu_)
        menu_->removeEventFilter(this);
}

QRect TrayIcon::xembedGeometry() const
{
#ifdef TAVLO_HAVE_XCB
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!xembed_ || !xembed_->isVisible() || !c)
        return {};
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || !w->inherits("QSystemTrayIconSys"))
            continue;
        const auto window = xcb_window_t(w->winId());
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
        const bool docked = tree && tree->parent != root;
        std::free(tree);
        xcb_translate_coordinates_reply_t* at =
            docked ? xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, root, 0, 0), nullptr) : nullptr;
        if (!at)
            return {};
        const qreal ratio = w->devicePixelRatioF();
        const QRect placed(QPointF(at->dst_x / ratio, at->dst_y / ratio).toPoint(), w->size());
        std::free(at);
        return placed;
    }
#endif
    return {};
}

QMenu* TrayIcon::menu() const
{
    return menu_;
}

void TrayIcon::setIcon(const QIcon& icon)
{
    icon_ = icon;
    sni_->setIcon(icon, installedThemeIcon());
    if (xembed_)
        xembed_->setIcon(icon);
}

void TrayIcon::setToolTip(const QString& text)
{
    toolTip_ = text;
    sni_->setToolTip(text);
    if (xembed_)
        xembed_->setToolTip(text);
}

bool TrayIcon::showWarning(const QString& title, const QString& text, int msecs)
{
    if (kind_ != Kind::XEmbed)
        return false;
    xembed_->showMessage(title, text, QSystemTrayIcon::Warning, msecs);
    return true;
}

void TrayIcon::createXEmbedIcon()
{
    xembed_ = new QSystemTrayIcon(icon_, this);
    xembed_->setToolTip(toolTip_);
    // No context menu of Qt's: both buttons open the one menu beside the icon.
    connect(xembed_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // A quick second click arrives as DoubleClick; it asks for the menu too.
        if (reason == QSystemTrayIcon::MiddleClick || reason == QSystemTrayIcon::Unknown)
            return;
        if (!menu_)
            return;
        // On an X icon just clicked, the pointer is where the click was.
        QRect icon = xembedGeometry();
        if (!icon.isValid())
            icon = QRect(QCursor::pos(), QSize(1, 1));
        const QScreen* screen = QGuiApplication::screenAt(icon.center());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        popUp(menuPosition(icon, menu_->sizeHint(), screen->availableGeometry()));
    });
}

void TrayIcon::refresh()
{
    using State = StatusNotifierItem::State;
    const State state = sni_->state();
    // Nothing to say before the bus has answered, nor while a watcher found
    // at launch is still taking the icon.
    if (state == State::Checking || (state == State::Registering && !decided_))
        return;
    const bool statusNotifier = state == State::Shown;
    // Qt picks the kind of every QSystemTrayIcon once, when the first is made:
    // made while a watcher with a host is on the bus, it would be a second
    // D-Bus icon. So the XEmbed one is only made while none is there.
    const bool noWatcherHost = state == State::NoBus || state == State::NoWatcher || state == State::NoHost;
    if (!xembed_ && noWatcherHost && QGuiApplication::platformName() == QLatin1String("xcb"))
        createXEmbedIcon();
    if (xembed_)
        xembed_->setVisible(!statusNotifier);
    const Kind kind = statusNotifier ? Kind::StatusNotifier
                      : xembed_ && QSystemTrayIcon::isSystemTrayAvailable() ? Kind::XEmbed
                                                                           : Kind::None;
    if (decided_ && kind == kind_)
        return;
    decided_ = true;
    kind_ = kind;
    switch (kind) {
    case Kind::StatusNotifier:
        log(QStringLiteral("Tray icon shown: StatusNotifierItem, registered with the StatusNotifierWatcher %1")
                .arg(sni_->watcherOwner()));
        break;
    case Kind::XEmbed:
        log(QStringLiteral("Tray icon shown: XEmbed system tray"));
        break;
    case Kind::None:
        log(QStringLiteral("Tray icon missing: no StatusNotifier or XEmbed tray shows it yet; it appears when one "
                           "starts (a second launch opens the quick note meanwhile)"));
        break;
    }
    emit kindChanged(kind);
}

void TrayIcon::popUp(const QPoint& at)
{
    if (menu_)
        menu_->popup(at);
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != filtered_ || event->type() != QEvent::KeyPress)
        return false;
    // The menu grabs the keyboard while open, and Qt matches shortcuts only
    // against windows: without this, the shortcuts it shows do nothing.
    const auto* key = static_cast<QKeyEvent*>(event);
    const QKeySequence pressed(QKeyCombination(key->modifiers() & ~Qt::KeypadModifier, Qt::Key(key->key())));
    for (QAction* action : menu_->actions()) {
        if (action->isEnabled() && !action->shortcut().isEmpty() &&
            action->shortcut().matches(pressed) == QKeySequence::ExactMatch) {
            menu_->hide();
            QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
            return true;
        }
    }
    return false;
}

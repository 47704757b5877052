#pragma once
// The agent's one tray icon, whatever tray the desktop has and whenever it
// comes: a StatusNotifierItem while a StatusNotifierWatcher with a host is on
// the session bus (Plasma, GNOME's AppIndicator extension, waybar, Xfce's
// StatusNotifier plugin), otherwise a QSystemTrayIcon for an XEmbed tray,
// which Qt docks again whenever a tray manager appears. Never both at once.
// Both show the same QMenu: StatusNotifier hosts draw it from D-Bus and place
// it themselves; for XEmbed the agent opens it beside the icon on either
// button, and the shortcuts it shows work while it is open.
#include "app/StatusNotifierItem.h"

#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QMenu;
class QSystemTrayIcon;

class TrayIcon : public QObject {
    Q_OBJECT
public:
    enum class Kind { None, StatusNotifier, XEmbed };
    Q_ENUM(Kind)

    // Where the menu opens for an icon at `icon`: beside it, toward the
    // middle of the screen area, inside that area.
    static QPoint menuPosition(const QRect& icon, const QSize& menu, const QRect& area);

    TrayIcon(QMenu* menu, const QIcon& icon, QObject* parent = nullptr,
             const QDBusConnection& bus = QDBusConnection::sessionBus());
    ~TrayIcon() override;

    void setIcon(const QIcon& icon);
    void setToolTip(const QString& text);
    QMenu* menu() const;
    // Which tray shows the icon now (None: none does yet).
    Kind kind() const { return kind_; }
    // A warning balloon beside the icon where the tray can show one (XEmbed);
    // false where it cannot.
    bool showWarning(const QString& title, const QString& text, int msecs);

    // Where the XEmbed icon is docked on screen; empty while it is not.
    // (QSystemTrayIcon::geometry() is its place inside the tray's window:
    // Qt never learns of the docking.)
    QRect xembedGeometry() const;

    // For tests: the two kinds of icon (the XEmbed one exists once it may).
    QSystemTrayIcon* xembedIcon() const { return xembed_; }
    StatusNotifierItem* statusNotifierItem() const { return sni_; }

signals:
    void kindChanged(TrayIcon::Kind kind);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class ManagerWatch;
    void refresh();
    void createXEmbedIcon();
    void popUp(const QPoint& at);

    QPointer<QMenu> menu_;
    // The menu only as an address to compare: a QMenu being destroyed still
    // sends events, when it is no QMenu any more.
    const QObject* filtered_ = nullptr;
    StatusNotifierItem* sni_ = nullptr;
    QSystemTrayIcon* xembed_ = nullptr;
    std::unique_ptr<ManagerWatch> managerWatch_;
    QIcon icon_;
    QString toolTip_;
    Kind kind_ = Kind::None;
    bool decided_ = false;
};

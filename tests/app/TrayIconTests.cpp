// The tray icon on the desktops it meets: a StatusNotifierWatcher (a fake one
// on the test session bus, standing for Plasma, GNOME's AppIndicator
// extension, waybar and Xfce's StatusNotifier plugin) that is there at launch,
// comes later or restarts, answers badly or not at all; an XEmbed tray
// (trayer on the session's Xvfb, standing for Xfce's, MATE's and LXDE's
// trays) that comes later or restarts; a session bus that dies. The menu is
// read and clicked over D-Bus as a host does, and on X through xdotool.
#include "api/KeychainService.h"
#include "app/AppDelegate.h"
#include "app/DBusMenu.h"
#include "app/PopupWindowController.h"
#include "app/TrayIcon.h"
#include "core/Timing.h"
#include "ui/AppIcon.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

namespace {

using Kind = TrayIcon::Kind;

// A process the test starts and stops; what it printed, line by line.
class Helper {
public:
    Helper(QString program, QStringList args) : program_(std::move(program)), args_(std::move(args)) {}
    ~Helper() { stop(); }
    // Starts it and waits for `readyLine` when given.
    bool start(const QString& readyLine = {})
    {
        lines_.clear();
        process_ = std::make_unique<QProcess>();
        process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(process_.get(), &QProcess::readyReadStandardOutput, [this] {
            while (process_->canReadLine())
                lines_ << QString::fromUtf8(process_->readLine()).trimmed();
        });
        process_->start(program_, args_);
        return process_->waitForStarted() &&
               (readyLine.isEmpty() || waitUntil([&] { return lines_.contains(readyLine); }, 10000));
    }
    void stop()
    {
        if (process_ && process_->state() != QProcess::NotRunning) {
            process_->kill();
            process_->waitForFinished();
        }
    }
    void write(const char* line) { process_->write(line); }
    QStringList lines(const QString& prefix) const { return lines_.filter(QRegularExpression("^" + prefix)); }

private:
    QString program_;
    QStringList args_;
    std::unique_ptr<QProcess> process_;
    QStringList lines_;
};

QString python()
{
    // Debian's python3-dbus belongs to the system interpreter.
    const QString system = QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")});
    return system.isEmpty() ? QStringLiteral("python3") : system;
}

std::unique_ptr<Helper> watcher(const QString& mode = QStringLiteral("normal"), const QString& address = {})
{
    QStringList args {QStringLiteral(TAVLO_FAKE_WATCHER), QStringLiteral("--mode"), mode};
    if (!address.isEmpty())
        args << QStringLiteral("--address") << address;
    return std::make_unique<Helper>(python(), args);
}

// A tray host's own connection to the bus.
QDBusConnection hostBus()
{
    static QDBusConnection host = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("host"));
    return host;
}

// Calls the item the way a tray host does.
QDBusMessage hostCall(const QString& path, const QString& interface, const QString& method, const QVariantList& args)
{
    QDBusConnection host = hostBus();
    QDBusMessage call = QDBusMessage::createMethodCall(QDBusConnection::sessionBus().baseService(), path, interface, method);
    call.setArguments(args);
    QDBusPendingCall pending = host.asyncCall(call);
    waitUntil([&] { return pending.isFinished(); });
    return pending.reply();
}

QVariant itemProperty(const char* name)
{
    const QDBusMessage reply = hostCall(QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"), {QStringLiteral("org.kde.StatusNotifierItem"), QString::fromLatin1(name)});
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

// The menu as a host reads it: "label shortcut" per item, "-" for separators.
QString hostMenu(QMap<QString, int>* ids = nullptr)
{
    const QDBusMessage reply = hostCall(QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"),
                                        QStringLiteral("GetLayout"), {0, -1, QStringList()});
    const auto root = qdbus_cast<DBusMenuLayoutItem>(reply.arguments().value(1));
    QStringList items;
    for (const DBusMenuLayoutItem& item : root.children) {
        const QVariantMap& p = item.properties;
        QString text = p.value("type") == "separator" ? "-" : p.value("label").toString();
        if (!p.value("enabled", true).toBool())
            text += " (off)";
        for (const QStringList& press : qdbus_cast<DBusMenuShortcut>(p.value("shortcut")))
            text += " " + press.join('+');
        items << text;
        if (ids)
            ids->insert(p.value("label").toString(), item.id);
    }
    return items.join(" | ");
}

bool onX()
{
    return QGuiApplication::platformName() == "xcb" && !QStandardPaths::findExecutable("trayer").isEmpty() &&
           !QStandardPaths::findExecutable("xdotool").isEmpty();
}

void xdotool(const QStringList& args)
{
    QProcess::execute(QStringLiteral("xdotool"), args);
}

class Tray : public ::testing::Test {
protected:
    void SetUp() override { KeychainService::clearAll(); }
    void TearDown() override { KeychainService::clearAll(); drainEvents(); }
    std::unique_ptr<AppDelegate> launch(double popupInterval = Timing::popupInterval)
    {
        auto d = std::make_unique<AppDelegate>();
        d->setMinInterval(popupInterval);
        d->setMaxInterval(popupInterval);
        d->applicationDidFinishLaunching();
        return d;
    }
    bool becomes(const AppDelegate& d, Kind kind) { return waitUntil([&] { return d.statusItem()->kind() == kind; }, 10000); }
    // Registrations of this process that the watcher saw.
    static int registrations(const Helper& w)
    {
        return int(w.lines("registered " + QDBusConnection::sessionBus().baseService()).size());
    }
    QString contentClass(AppDelegate& d)
    {
        auto* c = d.popupController();
        return c && c->panel() ? QString::fromLatin1(c->panel()->content()->metaObject()->className()) : QString();
    }
};

} // namespace

// An autostarted agent often starts before the desktop's watcher; the
// icon comes when the watcher does, and again after the watcher restarts.
TEST_F(Tray, StatusNotifierIconArrivesWheneverTheWatcherComesAndAfterItRestarts)
{
    for (const bool watcherFirst : {true, false}) {
        SCOPED_TRACE(watcherFirst ? "watcher before the agent" : "watcher after the agent");
        LogCapture logs;
        auto w = watcher();
        ASSERT_TRUE(!watcherFirst || w->start("ready"));
        auto d = launch();
        if (!watcherFirst) {
            ASSERT_TRUE(waitUntil([&] { return !logs.startingWith("Tray icon missing").isEmpty(); }));
            ASSERT_TRUE(w->start("ready"));
        }
        ASSERT_TRUE(becomes(*d, Kind::StatusNotifier));
        EXPECT_EQ(registrations(*w), 1);
        EXPECT_EQ(logs.startingWith("Tray icon shown: StatusNotifierItem").size(), 1);

        w->stop();
        ASSERT_TRUE(waitUntil([&] { return d->statusItem()->kind() != Kind::StatusNotifier; }));
        EXPECT_TRUE(logs.contains("The StatusNotifierWatcher left the session bus"));
        ASSERT_TRUE(w->start("ready"));
        ASSERT_TRUE(becomes(*d, Kind::StatusNotifier));
        EXPECT_EQ(registrations(*w), 1) << "registered again with the new watcher";
        EXPECT_FALSE(hostMenu().isEmpty());
    }
}

// What a host reads and does: the icon and menu it draws (labels, states,
// shortcuts), a click on an item, the refresh before it opens; a left click
// (Activate) opens the host's menu and nothing of the agent's; only a host
// without menus of its own asks for the agent's, at its own point.
TEST_F(Tray, HostsDrawTheOneMenuFromDBusAndItsClicksReachTheAgent)
{
    LogCapture logs;
    auto w = watcher();
    ASSERT_TRUE(w->start("ready"));
    auto d = launch();
    ASSERT_TRUE(becomes(*d, Kind::StatusNotifier));

    EXPECT_TRUE(itemProperty("ItemIsMenu").toBool());
    EXPECT_EQ(itemProperty("Menu").value<QDBusObjectPath>().path(), "/MenuBar");
    // Pixels go out as A, R, G, B bytes whatever the machine's byte order.
    const auto images = qdbus_cast<DBusImageList>(itemProperty("IconPixmap"));
    ASSERT_FALSE(images.isEmpty());
    const DBusImage& sent = images.last();
    const QImage drawn = tavloIcon().pixmap(QSize(sent.width, sent.height), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(sent.pixels.size(), drawn.sizeInBytes());
    const QRgb middle = drawn.pixel(sent.width / 2, sent.height / 2);
    const auto* bytes = reinterpret_cast<const uchar*>(sent.pixels.constData()) + 4 * (sent.width * (sent.height / 2) + sent.width / 2);
    EXPECT_EQ(QList<int>({bytes[0], bytes[1], bytes[2], bytes[3]}),
              QList<int>({qAlpha(middle), qRed(middle), qGreen(middle), qBlue(middle)}));

    QMap<QString, int> ids;
    EXPECT_EQ(hostMenu(&ids), "Show Card Now Control+S | Quick Note Control+N | My Journals Control+J | - | "
                              "Pause Control+P | Settings... Control+, | - | Not logged in (off) | Switch Account... | - | "
                              "Quit Control+Q");
    // Hosts learn of a change from a signal, not by asking again.
    QAction changes;
    QSignalSpy changed(&changes, &QAction::triggered);
    ASSERT_TRUE(hostBus().connect(QDBusConnection::sessionBus().baseService(), "/MenuBar", "com.canonical.dbusmenu",
                                  "ItemsPropertiesUpdated", &changes, SLOT(trigger())));
    KeychainService::saveCredentials("someone@tavlo.app", "pw");
    d->updateAccountMenu(); // as a sign-in does
    hostCall("/MenuBar", "com.canonical.dbusmenu", "AboutToShow", {0});
    hostCall("/MenuBar", "com.canonical.dbusmenu", "Event", {ids["Pause"], "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    ASSERT_TRUE(waitUntil([&] { return d->isPaused(); }));
    EXPECT_TRUE(waitUntil([&] { return hostMenu().contains("Resume Control+P | Settings... Control+, | - | someone@tavlo.app (off)"); }));
    EXPECT_TRUE(waitUntil([&] { return changed.count() == 2; })) << "the account label, then the pause item";

    // {path, interface, method, arguments} a confused host sends: each gets an error, nothing else happens.
    const std::tuple<const char*, const char*, const char*, QVariantList> nonsense[] = {
        {"/MenuBar", "com.canonical.dbusmenu", "GetLayout", {999, -1, QStringList()}},
        {"/MenuBar", "com.canonical.dbusmenu", "Event", {999, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u}},
        {"/MenuBar", "com.canonical.dbusmenu", "GetProperty", {ids["Quit"], "no-such-property"}},
        {"/MenuBar", "com.canonical.dbusmenu", "AboutToShow", {"zero"}},
        {"/StatusNotifierItem", "org.kde.StatusNotifierItem", "ContextMenu", {"here"}},
    };
    for (const auto& [path, interface, method, args] : nonsense)
        EXPECT_EQ(hostCall(path, interface, method, args).type(), QDBusMessage::ErrorMessage) << method;
    drainEvents();
    EXPECT_TRUE(d->isPaused());

    const QDBusMessage activate = hostCall("/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", {5, 790});
    drainEvents();
    EXPECT_EQ(activate.type(), QDBusMessage::ErrorMessage) << "hosts show their menu when Activate fails";
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "no second menu of the agent's";
    hostCall("/StatusNotifierItem", "org.kde.StatusNotifierItem", "ContextMenu", {100, 120});
    ASSERT_TRUE(waitUntil([&] { return d->menu()->isVisible(); }));
    EXPECT_EQ(d->menu()->pos(), QPoint(100, 120));
    d->menu()->hide();
}

// An XEmbed tray (trayer) that comes after the agent or restarts gets the
// icon; both buttons open the one menu beside the icon, whose shortcuts work
// while it is open; a watcher coming meanwhile takes the icon over, never
// leaving two.
TEST_F(Tray, XEmbedTrayComingLateOrRestartingGetsTheIconAndItsMenu)
{
    if (!onX())
        GTEST_SKIP() << "needs the test session's Xvfb, trayer and xdotool";
    LogCapture logs;
    Helper trayer("trayer", {"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "200", "--height", "32"});
    auto d = launch();
    ASSERT_TRUE(becomes(*d, Kind::None));
    for (int start = 0; start < 2; ++start) {
        ASSERT_TRUE(trayer.start());
        ASSERT_TRUE(becomes(*d, Kind::XEmbed));
        ASSERT_TRUE(waitUntil([&] { return d->statusItem()->xembedGeometry().isValid(); }));
        EXPECT_EQ(logs.count("Tray icon shown: XEmbed system tray"), start + 1);
        trayer.stop();
        ASSERT_TRUE(becomes(*d, Kind::None));
    }
    ASSERT_TRUE(trayer.start());
    // trayer docks the icon at its left end, then packs it to the right one.
    const int right = QGuiApplication::primaryScreen()->geometry().right();
    ASSERT_TRUE(waitUntil([&] { return d->statusItem()->xembedGeometry().right() > right - 30; }));
    const QRect icon = d->statusItem()->xembedGeometry();
    const QString x = QString::number(icon.center().x()), y = QString::number(icon.center().y());
    auto openMenu = [&](const char* button) {
        xdotool({"mousemove", x, y, "click", button});
        return waitUntil([&] { return d->menu()->isVisible(); }, 5000);
    };
    QList<QRect> placed;
    for (const char* button : {"1", "3"}) {
        ASSERT_TRUE(openMenu(button)) << "button " << button;
        placed << d->menu()->geometry();
        EXPECT_EQ(placed.last().bottom() + 1, icon.top()) << "right above the icon in a bottom panel";
        d->menu()->hide();
        drainEvents();
    }
    EXPECT_EQ(placed[0], placed[1]) << "left and right click: the same menu in the same place";

    // {keys pressed while the menu is open, what the agent shows after it}
    const std::pair<const char*, std::function<bool()>> keys[] = {
        {"ctrl+p", [&] { return d->isPaused(); }},
        {"ctrl+comma", [&] { return contentClass(*d) == "SettingsView"; }},
        {"ctrl+n", [&] { return contentClass(*d) == "LoginView"; }},
    };
    for (const auto& [key, shown] : keys) {
        ASSERT_TRUE(openMenu("1"));
        xdotool({"key", key});
        EXPECT_TRUE(waitUntil(shown, 5000)) << key;
        EXPECT_FALSE(d->menu()->isVisible()) << key;
        if (d->popupController())
            d->popupController()->dismissPanel();
    }

    auto w = watcher();
    ASSERT_TRUE(w->start("ready"));
    ASSERT_TRUE(becomes(*d, Kind::StatusNotifier));
    EXPECT_FALSE(d->statusItem()->xembedIcon()->isVisible()) << "one icon, not two";
    w->stop();
    ASSERT_TRUE(becomes(*d, Kind::XEmbed));
    EXPECT_TRUE(d->statusItem()->xembedIcon()->isVisible());
}

// A watcher that never answers, refuses, answers nonsense or has no host
// yet, and a session bus that dies: the agent keeps running, popups keep
// coming, the log says what happened, and a second launch still reaches it.
TEST_F(Tray, BadWatchersAndADyingBusLeaveTheAgentRunning)
{
    const Timing::ScopedScale faster(0.01); // a 25 s answer wait takes 0.25 s
    // {watcher mode, a line the log must have, the kind of icon it ends with}
    const std::tuple<const char*, const char*, Kind> rows[] = {
        {"silent", "The StatusNotifierWatcher did not register the tray icon (no answer within 0.25 s)", Kind::None},
        {"error", "The StatusNotifierWatcher did not register the tray icon (org.example.Watcher.Refused: not today)", Kind::None},
        {"garbage", "Tray icon shown: StatusNotifierItem", Kind::StatusNotifier},
        {"nohost", "The StatusNotifierWatcher has no tray host to show the icon yet", Kind::None},
    };
    for (const auto& [mode, line, kind] : rows) {
        SCOPED_TRACE(mode);
        LogCapture logs;
        auto w = watcher(mode);
        ASSERT_TRUE(w->start("ready"));
        auto d = launch(10);
        EXPECT_TRUE(waitUntil([&] { return !logs.startingWith(line).isEmpty(); })) << logs.messages().join('\n').toStdString();
        EXPECT_EQ(d->statusItem()->kind(), kind);
        if (kind == Kind::None) {
            d->applicationShouldHandleReopen(false);
            EXPECT_TRUE(logs.contains("Second launch: opening the quick note, as no tray icon is shown"));
            EXPECT_EQ(contentClass(*d), "LoginView");
            d->popupController()->dismissPanel();
        }
        EXPECT_TRUE(waitUntil([&] { return logs.contains("showPopup called, token: nil"); })) << "the popup still came";
        if (QString(mode) == "nohost") {
            w->write("host\n");
            EXPECT_TRUE(becomes(*d, Kind::StatusNotifier)) << "shown once a host registers";
            w->write("unhost\n");
            EXPECT_TRUE(becomes(*d, Kind::None)) << "the tray host left (plasmashell restarting)";
            EXPECT_EQ(logs.count(line), 2);
            w->write("host\n");
            EXPECT_TRUE(becomes(*d, Kind::StatusNotifier)) << "shown again when it is back";
        }
    }

    LogCapture logs;
    QMenu menu;
    menu.addAction("Quit");
    {
        auto* gone = new QMenu; // goes before the icon showing it (the sanitizers watch)
        gone->addAction("Quit");
        TrayIcon none(gone, tavloIcon(), nullptr, QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "missing"));
        drainEvents();
        EXPECT_TRUE(logs.contains("No D-Bus session bus: a StatusNotifier tray cannot be reached"));
        EXPECT_EQ(logs.startingWith(none.kind() == Kind::None ? "Tray icon missing" : "Tray icon shown: XEmbed").size(), 1);
        delete gone;
    }
    Helper bus("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(bus.start());
    ASSERT_TRUE(waitUntil([&] { return !bus.lines("unix:").isEmpty(); }));
    const QString address = bus.lines("unix:").first();
    auto w = watcher("normal", address);
    ASSERT_TRUE(w->start("ready"));
    TrayIcon tray(&menu, tavloIcon(), nullptr, QDBusConnection::connectToBus(address, "dying"));
    ASSERT_TRUE(waitUntil([&] { return tray.kind() == Kind::StatusNotifier; }));
    bus.stop();
    EXPECT_TRUE(waitUntil([&] { return tray.kind() != Kind::StatusNotifier; }));
    EXPECT_TRUE(logs.contains("The D-Bus session bus went away: a StatusNotifier tray cannot be reached"));
}

// A timed popup waits while the desktop says nobody can see it (a locked
// screen, a running screensaver, do-not-disturb, nobody at the keyboard),
// told by fake desktop services on the test session's bus and by the test
// session's X server; Show Card Now never waits.
#include "app/AppDelegate.h"
#include "app/PopupWindowController.h"
#include "FakeDesktop.h"
#include "PanelSupport.h"
#include "ServiceSupport.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QProcess>

namespace {

class Presence : public ServiceFixture {
protected:
    void SetUp() override { ServiceFixture::SetUp(); ASSERT_TRUE(signInThroughClient()); }
    void TearDown() override { QDBusConnection::disconnectFromBus(QStringLiteral("fake-desktop")); drainEvents(); ServiceFixture::TearDown(); }
    int lines(const QString& prefix) { return int(logs.startingWith(prefix).size()); }
    Timing::ScopedScale faster {0.05};
    LogCapture logs;
};

} // namespace

TEST_F(Presence, ATimedPopupWaitsUntilSomeoneCanSeeIt)
{
    enum class End { Signal, Leaves, ShowCardNow, Returns };
    const QString locked = QStringLiteral("the screen is locked or the screensaver is active");
    const QString away = QStringLiteral("nobody has used the keyboard or mouse for 3 minutes");
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
    // Someone at the desk: the X server's idle time starts again.
    auto touch = [] { QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("mousemove_relative"), QStringLiteral("--"), QStringLiteral("1"), QStringLiteral("1")}); };
    // {service (empty: none), interface's property (empty: its method), its answer, what the popup waits for, how that ends}
    const std::tuple<const char*, const char*, QVariant, QString, End> rows[] = {
        {"org.gnome.Mutter.IdleMonitor", "", quint64(600000), away, End::Returns},
        {"", "", {}, x11 ? away : QString(), End::Returns}, // the X server's own idle time
        {"org.freedesktop.ScreenSaver", "", true, locked, End::Signal},
        {"org.gnome.ScreenSaver", "", true, locked, End::Leaves},
        {"org.gnome.ScreenSaver", "", true, locked, End::ShowCardNow},
        {"org.freedesktop.Notifications", "Inhibited", true, QStringLiteral("do-not-disturb is on"), End::Signal},
        {"org.freedesktop.Notifications", "Inhibited", false, {}, End::Signal},
        {"org.freedesktop.ScreenSaver", "", QStringLiteral("yes"), {}, End::Signal},
        {"", "", {}, {}, End::Signal},
    };
    for (const auto& [service, property, answer, waitFor, end] : rows) {
        SCOPED_TRACE(std::string(service) + " " + answer.toString().toStdString() + " " + std::to_string(int(end)));
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-desktop"));
        const QString name = QString::fromLatin1(service);
        const QString path = QLatin1Char('/') + QString(name).replace(QLatin1Char('.'), QLatin1Char('/'))
                             + (name.endsWith(QLatin1String("IdleMonitor")) ? QStringLiteral("/Core") : QString());
        // The X server counts idle time in real seconds: its row is scaled so
        // that 3 minutes pass while the popup comes due, the others so they never do.
        const bool xIdle = name.isEmpty() && !waitFor.isEmpty();
        std::optional<Timing::ScopedScale> idleScale;
        if (xIdle)
            idleScale.emplace(0.005);
        if (x11)
            touch();
        FakeDesktop fake(bus, path, name, QString::fromLatin1(property), answer);
        if (!name.isEmpty()) {
            ASSERT_TRUE(bus.registerVirtualObject(path, &fake) && bus.registerService(name));
        }
        const int told = lines(QStringLiteral("Presence: ") + name), shown = lines(QStringLiteral("showPopup called")),
                  deferred = lines(QStringLiteral("Popup deferred: "));
        AppDelegate d;
        d.applicationDidFinishLaunching();
        if (!name.isEmpty() && (!waitFor.isEmpty() || answer.metaType().id() == QMetaType::QString)) {
            ASSERT_TRUE(waitUntil([&] { return lines(QStringLiteral("Presence: ") + name) > told; }));
        }
        d.setMinInterval(xIdle ? Timing::popupInterval : 0);
        d.setMaxInterval(xIdle ? Timing::popupInterval : 0);
        d.scheduleNextPopup();
        if (!waitFor.isEmpty()) {
            ASSERT_TRUE(waitUntil([&] { return lines(QStringLiteral("Popup deferred: ")) > deferred; }));
            EXPECT_EQ(std::make_tuple(logs.startingWith(QStringLiteral("Popup deferred: ")).last(), d.deferredFor(), d.cycleProblem(),
                                      lines(QStringLiteral("showPopup called"))),
                      std::make_tuple(QStringLiteral("Popup deferred: ") + waitFor, waitFor, QString(), shown));
            end == End::Signal        ? fake.signal(false)
            : end == End::Leaves      ? void(bus.unregisterService(name))
            : end == End::ShowCardNow ? d.showCardNow()
            : name.isEmpty()          ? touch()
                                      : fake.setValue(quint64(0));
        }
        ASSERT_TRUE(waitUntil([&] { return d.popupController() && d.popupController()->shownQuestion(); }));
        EXPECT_EQ(lines(QStringLiteral("Popup deferred: ")), deferred + !waitFor.isEmpty());
        drainEvents();
        // Only Show Card Now takes the keyboard from the window the learner types in.
        QWindow* panel = d.popupController()->panel()->windowHandle();
        EXPECT_EQ(QGuiApplication::focusWindow() == panel, end == End::ShowCardNow);
        QTest::mouseClick(d.popupController()->panel()->content(), Qt::LeftButton);
        EXPECT_TRUE(waitUntil([&] { return QGuiApplication::focusWindow() == panel; })) << "a click gives it the keyboard";
        d.popupController()->dismissPanel();
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-desktop"));
        drainEvents();
    }
}

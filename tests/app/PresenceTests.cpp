// A timed popup waits while the desktop says nobody can see it (a locked
// screen, a running screensaver, do-not-disturb), told by fake desktop
// services on the test session's bus; Show Card Now never waits.
#include "app/AppDelegate.h"
#include "app/PopupWindowController.h"
#include "PanelSupport.h"
#include "ServiceSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QGuiApplication>

namespace {

// One desktop service answering GetActive or Properties.Get with `value`.
class FakeDesktop : public QDBusVirtualObject {
public:
    FakeDesktop(QDBusConnection bus, QString path, QString iface, QString property, QVariant value)
        : bus_(bus), path_(path), iface_(iface), property_(property), value_(value) {}
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& c) override
    {
        c.send(m.createReply(property_.isEmpty() ? value_ : QVariant::fromValue(QDBusVariant(value_))));
        return true;
    }
    void signal(bool on)
    {
        bus_.send(property_.isEmpty()
                      ? QDBusMessage::createSignal(path_, iface_, QStringLiteral("ActiveChanged")) << on
                      : QDBusMessage::createSignal(path_, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"))
                            << iface_ << QVariantMap {{property_, on}} << QStringList {});
    }

private:
    QDBusConnection bus_;
    QString path_, iface_, property_;
    QVariant value_;
};

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
    enum class End { Signal, Leaves, ShowCardNow };
    const QString locked = QStringLiteral("the screen is locked or the screensaver is active");
    // {service (empty: none), interface's property (empty: GetActive), its answer, what the popup waits for, how that ends}
    const std::tuple<const char*, const char*, QVariant, QString, End> rows[] = {
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
        const QString path = QLatin1Char('/') + QString(name).replace(QLatin1Char('.'), QLatin1Char('/'));
        FakeDesktop fake(bus, path, name, QString::fromLatin1(property), answer);
        if (!name.isEmpty()) {
            ASSERT_TRUE(bus.registerVirtualObject(path, &fake) && bus.registerService(name));
        }
        const int told = lines(QStringLiteral("Presence: ") + name), shown = lines(QStringLiteral("showPopup called")),
                  deferred = lines(QStringLiteral("Popup deferred: "));
        AppDelegate d;
        d.applicationDidFinishLaunching();
        if (!waitFor.isEmpty() || answer.metaType().id() == QMetaType::QString) {
            ASSERT_TRUE(waitUntil([&] { return lines(QStringLiteral("Presence: ") + name) > told; }));
        }
        d.setMinInterval(0);
        d.setMaxInterval(0);
        d.scheduleNextPopup();
        if (!waitFor.isEmpty()) {
            ASSERT_TRUE(waitUntil([&] { return lines(QStringLiteral("Popup deferred: ")) > deferred; }));
            EXPECT_EQ(std::make_tuple(logs.startingWith(QStringLiteral("Popup deferred: ")).last(), d.deferredFor(), d.cycleProblem(),
                                      lines(QStringLiteral("showPopup called"))),
                      std::make_tuple(QStringLiteral("Popup deferred: ") + waitFor, waitFor, QString(), shown));
            end == End::Signal ? fake.signal(false) : end == End::Leaves ? void(bus.unregisterService(name)) : d.showCardNow();
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

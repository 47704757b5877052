// The application controller: the tray menu, the popup cycle (one pending
// timer at most, pause and resume, settings), switching account, the login
// path without a token, and the single-instance hand-over of a second launch.
#include "AppDelegate.h"
#include "TestSupport.h"
#include "KeychainService.h"
#include "PopupPanel.h"
#include "Platform.h"
#include "PopupWindowController.h"
#include "SettingsView.h"
#include "SingleInstance.h"
#include "TestRandom.h"

#include "LoginView.h"
#include "QuickNoteView.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>

namespace {

int activeTimers(const AppDelegate& d)
{
    int n = 0;
    for (QTimer* t : d.findChildren<QTimer*>(Qt::FindDirectChildrenOnly))
        n += t->isActive() && t->isSingleShot();
    return n;
}

QAction* byTag(const AppDelegate& d, int tag)
{
    for (QAction* a : d.menu()->actions())
        if (a->data().isValid() && a->data().toInt() == tag)
            return a;
    return nullptr;
}

QString contentClass(const AppDelegate& d)
{
    auto* c = d.popupController();
    if (!c || !c->panel())
        return {};
    return QString::fromLatin1(c->panel()->content()->metaObject()->className());
}

// Each test starts signed out, with the cycle's timer never firing by itself.
class Delegate : public ::testing::Test {
protected:
    void SetUp() override { KeychainService::clearAll(); }
    void TearDown() override
    {
        KeychainService::clearAll();
        drainEvents();
    }
    void launch()
    {
        d.setTrayRetryForTesting(60000, 0);
        d.applicationDidFinishLaunching();
    }
    LogCapture logs;
    AppDelegate d;
};

} // namespace

TEST_F(Delegate, MenuTitlesOrderShortcutsAndTags)
{
    launch();
    struct Row {
        const char* title; // nullptr: a separator
        const char* shortcut;
        int tag;
        bool enabled;
    };
    const Row rows[] = {
        {"Show Card Now", "Ctrl+S", 0, true},
        {"Quick Note", "Ctrl+N", 0, true},
        {"My Journals", "Ctrl+J", 0, true},
        {nullptr, "", 0, true},
        {"Pause", "Ctrl+P", 100, true},
        {"Settings...", "Ctrl+,", 0, true},
        {nullptr, "", 0, true},
        {"Not logged in", "", 200, false},
        {"Switch Account...", "", 201, true},
        {nullptr, "", 0, true},
        {"Quit", "Ctrl+Q", 0, true},
    };
    const QList<QAction*> actions = d.menu()->actions();
    ASSERT_EQ(actions.size(), qsizetype(std::size(rows)));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        QAction* a = actions[qsizetype(i)];
        if (!r.title) {
            EXPECT_TRUE(a->isSeparator()) << "item " << i + 1;
            continue;
        }
        EXPECT_FALSE(a->isSeparator()) << r.title;
        EXPECT_EQ(a->text(), QString::fromUtf8(r.title));
        EXPECT_EQ(a->shortcut().toString(QKeySequence::PortableText), QString::fromUtf8(r.shortcut)) << r.title;
        if (r.tag)
            EXPECT_EQ(a->data().toInt(), r.tag) << r.title;
        else
            EXPECT_FALSE(a->data().isValid()) << r.title;
        EXPECT_EQ(a->isEnabled(), r.enabled) << r.title;
    }
    EXPECT_EQ(d.statusItem()->toolTip(), QStringLiteral("TavloPopup"));
    EXPECT_FALSE(d.statusItem()->icon().isNull());
    EXPECT_EQ(d.statusItem()->contextMenu(), d.menu());
}

TEST_F(Delegate, LaunchLogsAndArmsExactlyOneTimerOfFiveMinutes)
{
    launch();
    EXPECT_TRUE(logs.contains(QStringLiteral("App launched")));
    EXPECT_EQ(activeTimers(d), 1);
    ASSERT_NE(d.popupTimer(), nullptr);
    EXPECT_EQ(d.popupTimer()->interval(), 300000);
    EXPECT_EQ(d.popupController(), nullptr) << "no popup at launch";
}

TEST_F(Delegate, AtMostOnePendingTimer)
{
    launch();
    for (int i = 0; i < 5; ++i)
        d.scheduleNextPopup();
    drainEvents();
    EXPECT_EQ(activeTimers(d), 1);
    d.togglePause();
    d.togglePause();
    d.togglePause();
    d.togglePause();
    drainEvents();
    EXPECT_EQ(activeTimers(d), 1);
}

TEST_F(Delegate, DelayDrawUsesTheInjectedSource)
{
    launch();
    struct Row {
        double min, max;
        std::uint64_t k;
        int expectedMs;
    };
    const Row rows[] = {
        {300, 300, 12345, 300000},
        {60, 600, 0, 60000},
        {60, 600, Random::kTwo53, 600000},
        {60, 600, Random::kTwo53 / 2, 330000},
    };
    for (const Row& r : rows) {
        ScopedRandom rs(std::make_shared<ScriptedSource>(std::initializer_list<std::uint64_t> {r.k}));
        d.setMinInterval(r.min);
        d.setMaxInterval(r.max);
        d.scheduleNextPopup();
        EXPECT_EQ(d.popupTimer()->interval(), r.expectedMs) << r.min << ".." << r.max << " k=" << r.k;
    }
}

TEST_F(Delegate, PauseAndResume)
{
    launch();
    QAction* pause = byTag(d, 100);
    d.togglePause();
    EXPECT_TRUE(d.isPaused());
    EXPECT_EQ(pause->text(), QStringLiteral("Resume"));
    EXPECT_EQ(d.popupTimer(), nullptr);
    drainEvents();
    EXPECT_EQ(activeTimers(d), 0);
    d.togglePause();
    EXPECT_FALSE(d.isPaused());
    EXPECT_EQ(pause->text(), QStringLiteral("Pause"));
    ASSERT_NE(d.popupTimer(), nullptr);
    EXPECT_TRUE(d.popupTimer()->isActive());
}

TEST_F(Delegate, SettingsSavedWhilePausedStartNothingAndResumeUsesThem)
{
    launch();
    d.togglePause();
    d.showSettings();
    auto* view = qobject_cast<SettingsView*>(d.popupController()->panel()->content());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->minMinutes(), 5);
    view->minSlider()->setValue(10);
    view->maxSlider()->setValue(30);
    view->save();
    EXPECT_DOUBLE_EQ(d.minInterval(), 600);
    EXPECT_DOUBLE_EQ(d.maxInterval(), 1800);
    EXPECT_EQ(d.popupTimer(), nullptr);
    drainEvents();
    EXPECT_EQ(activeTimers(d), 0);
    d.togglePause();
    ASSERT_NE(d.popupTimer(), nullptr);
    EXPECT_GE(d.popupTimer()->interval(), 600000);
    EXPECT_LE(d.popupTimer()->interval(), 1800000);
}

TEST_F(Delegate, SettingsSavedWhileWaitingReplaceThePendingTimer)
{
    launch();
    QPointer<QTimer> old = d.popupTimer();
    d.showSettings();
    qobject_cast<SettingsView*>(d.popupController()->panel()->content())->save(); // 5 and 10 minutes
    EXPECT_DOUBLE_EQ(d.minInterval(), 300);
    EXPECT_DOUBLE_EQ(d.maxInterval(), 600);
    ASSERT_NE(d.popupTimer(), nullptr);
    EXPECT_NE(d.popupTimer(), old.data());
    EXPECT_GE(d.popupTimer()->interval(), 300000);
    EXPECT_LE(d.popupTimer()->interval(), 600000);
    drainEvents();
    EXPECT_EQ(activeTimers(d), 1);
}

TEST_F(Delegate, PopupWithoutATokenShowsTheLoginAndStops)
{
    launch();
    d.setMinInterval(0);
    d.setMaxInterval(0);
    d.scheduleNextPopup(); // fires at once
    ASSERT_TRUE(waitUntil([&] { return !contentClass(d).isEmpty(); }));
    EXPECT_EQ(contentClass(d), QStringLiteral("LoginView"));
    const QStringList lines = logs.messages();
    const auto at = lines.indexOf(QStringLiteral("showPopup called, token: nil"));
    ASSERT_GE(at, 0);
    EXPECT_EQ(lines.value(at + 1), QStringLiteral("showLogin called"));
    drainEvents();
    EXPECT_EQ(activeTimers(d), 0) << "stopped: no timer while the login form is up";
}

TEST_F(Delegate, QuickNoteAndJournalNeedATokenAndReopenOpensTheQuickNote)
{
    launch();
    d.showQuickNote();
    EXPECT_EQ(contentClass(d), QStringLiteral("LoginView"));
    d.showJournalList();
    EXPECT_EQ(contentClass(d), QStringLiteral("LoginView"));
    EXPECT_TRUE(d.applicationShouldHandleReopen(true));
    EXPECT_EQ(contentClass(d), QStringLiteral("LoginView"));

    KeychainService::saveAccessToken(QStringLiteral("some-token"));
    QPointer<QTimer> timer = d.popupTimer();
    EXPECT_TRUE(d.applicationShouldHandleReopen(false));
    EXPECT_EQ(contentClass(d), QStringLiteral("QuickNoteView"));
    d.showJournalList();
    EXPECT_EQ(contentClass(d), QStringLiteral("JournalListView"));
    EXPECT_EQ(d.popupTimer(), timer.data()) << "the popup timer is not touched";
}

TEST_F(Delegate, AccountLabelFollowsTheStoredCredentialsAndIsNeverEnabled)
{
    launch();
    QAction* label = byTag(d, 200);
    EXPECT_EQ(label->text(), QStringLiteral("Not logged in"));
    KeychainService::saveCredentials(QStringLiteral("someone@tavlo.app"), QStringLiteral("pw"));
    d.updateAccountMenu();
    EXPECT_EQ(label->text(), QStringLiteral("someone@tavlo.app"));
    EXPECT_FALSE(label->isEnabled());
    KeychainService::clearAll();
    d.updateAccountMenu();
    EXPECT_EQ(label->text(), QStringLiteral("Not logged in"));
    EXPECT_FALSE(label->isEnabled());
}

TEST_F(Delegate, AccountLabelIsReadFromTheKeyringWhenTheMenuFirstOpens)
{
    KeychainService::saveCredentials(QStringLiteral("someone@tavlo.app"), QStringLiteral("pw"));
    launch();
    QAction* label = byTag(d, 200);
    emit d.menu()->aboutToShow();
    EXPECT_EQ(label->text(), QStringLiteral("someone@tavlo.app"));
    // Later changes arrive through the sign-in and switch paths, not by
    // reading the keyring at every opening.
    KeychainService::saveCredentials(QStringLiteral("other@tavlo.app"), QStringLiteral("pw"));
    emit d.menu()->aboutToShow();
    EXPECT_EQ(label->text(), QStringLiteral("someone@tavlo.app"));
    d.switchAccount();
    emit d.menu()->aboutToShow();
    EXPECT_EQ(label->text(), QStringLiteral("Not logged in"));
}

TEST_F(Delegate, SwitchAccountClearsClosesAndShowsTheLogin)
{
    KeychainService::saveCredentials(QStringLiteral("someone@tavlo.app"), QStringLiteral("pw"));
    KeychainService::saveAccessToken(QStringLiteral("token"));
    launch();
    emit d.menu()->aboutToShow();
    EXPECT_EQ(byTag(d, 200)->text(), QStringLiteral("someone@tavlo.app"));
    d.showSettings();
    QPointer<PopupPanel> settingsPanel = d.popupController()->panel();
    ASSERT_TRUE(settingsPanel);

    byTag(d, 201)->trigger();

    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
    EXPECT_TRUE(!settingsPanel || !settingsPanel->isVisible());
    EXPECT_EQ(byTag(d, 200)->text(), QStringLiteral("Not logged in"));
    EXPECT_EQ(contentClass(d), QStringLiteral("LoginView"));
    EXPECT_EQ(d.popupTimer(), nullptr);
    drainEvents();
    EXPECT_EQ(activeTimers(d), 0);
    EXPECT_TRUE(logs.contains(QStringLiteral("showLogin called")));
}

TEST_F(Delegate, AnUnusableServiceAddressIsLoggedAndShownButTheAgentRuns)
{
    const QByteArray old = qgetenv("TAVLO_API_BASE_URL");
    qputenv("TAVLO_API_BASE_URL", "http://study.example.com/api");
    launch();
    if (old.isNull())
        qunsetenv("TAVLO_API_BASE_URL");
    else
        qputenv("TAVLO_API_BASE_URL", old);
    EXPECT_FALSE(d.startupNotice().isEmpty());
    EXPECT_TRUE(logs.contains(d.startupNotice()));
    EXPECT_EQ(activeTimers(d), 1) << "the cycle still runs";
}

TEST_F(Delegate, WithoutATrayItKeepsLookingThenGivesUp)
{
    d.setTrayRetryForTesting(1, 3);
    d.applicationDidFinishLaunching();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        GTEST_SKIP() << "this display has a tray";
    EXPECT_FALSE(logs.startingWith(QStringLiteral("System tray not available yet")).isEmpty());
    ASSERT_TRUE(waitUntil([&] {
        return logs.contains(QStringLiteral("No system tray appeared; running without a tray icon"));
    }));
    EXPECT_EQ(activeTimers(d), 1) << "the cycle runs without an icon";
}

TEST(SingleInstanceGuard, ASecondLaunchReachesTheFirst)
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("agent.sock"));
    SingleInstance first(name);
    EXPECT_FALSE(first.notifyRunning(200)) << "nobody is running yet";
    ASSERT_TRUE(first.listen());
    QSignalSpy reopened(&first, &SingleInstance::reopenRequested);

    bool handedOver = false;
    std::thread second([&] {
        SingleInstance later(name);
        handedOver = later.notifyRunning(3000);
    });
    ASSERT_TRUE(waitUntil([&] { return reopened.count() == 1; }, 5000));
    second.join();
    EXPECT_TRUE(handedOver);
}

TEST(SingleInstanceGuard, AStaleSocketFromADeadAgentIsReplaced)
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("agent.sock"));
    {
        SingleInstance dead(name);
        ASSERT_TRUE(dead.listen());
    }
    // A crashed agent leaves its socket file behind; simulate with a plain file.
    QFile stale(name);
    if (!stale.exists()) {
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        stale.close();
    }
    SingleInstance next(name);
    EXPECT_FALSE(next.notifyRunning(200));
    EXPECT_TRUE(next.listen());
}

TEST(SingleInstanceGuard, TheDefaultNameIsPerUser)
{
    const QString name = SingleInstance::defaultName();
    EXPECT_TRUE(name.endsWith(QStringLiteral("tavlopopup.sock")) ||
                name == QStringLiteral("tavlopopup-%1").arg(::getuid()));
}

TEST(PlatformChoice, PrefersXcbOnlyOnWaylandWithXWaylandAndNoExplicitChoice)
{
    struct Row {
        const char* wayland;
        const char* display;
        const char* platform;
        const char* expected; // nullptr: left unset
    };
    const Row rows[] = {
        {"wayland-0", ":0", nullptr, "xcb"},
        {"wayland-0", nullptr, nullptr, nullptr},
        {nullptr, ":0", nullptr, nullptr},
        {"wayland-0", ":0", "wayland", "wayland"},
        {"wayland-0", ":0", "offscreen", "offscreen"},
    };
    const char* names[] = {"WAYLAND_DISPLAY", "DISPLAY", "QT_QPA_PLATFORM"};
    QByteArray saved[3];
    bool had[3];
    for (int i = 0; i < 3; ++i) {
        had[i] = qEnvironmentVariableIsSet(names[i]);
        saved[i] = qgetenv(names[i]);
    }
    for (const Row& r : rows) {
        const char* values[] = {r.wayland, r.display, r.platform};
        for (int i = 0; i < 3; ++i) {
            if (values[i])
                qputenv(names[i], values[i]);
            else
                qunsetenv(names[i]);
        }
        Platform::preferXcbOnWayland();
        if (r.expected)
            EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), QByteArray(r.expected));
        else
            EXPECT_FALSE(qEnvironmentVariableIsSet("QT_QPA_PLATFORM"));
    }
    for (int i = 0; i < 3; ++i) {
        if (had[i])
            qputenv(names[i], saved[i]);
        else
            qunsetenv(names[i]);
    }
}

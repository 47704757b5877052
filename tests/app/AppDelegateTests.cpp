// The application controller: the popup cycle (one pending timer at most,
// pause and resume, settings), the tray menu's account label, switching
// account, the login path without a token and the choice of display platform.
#include "api/KeychainService.h"
#include "app/AppDelegate.h"
#include "app/Platform.h"
#include "app/PopupWindowController.h"
#include "app/SettingsView.h"
#include "app/TrayIcon.h"
#include "core/Timing.h"
#include "TestRandom.h"
#include "TestSupport.h"

#include <QAction>
#include <QMenu>
#include <QSlider>
#include <QThreadPool>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

namespace {

// Each test starts signed out, with the cycle's timer never firing by itself.
class Delegate : public ::testing::Test {
protected:
    void SetUp() override { KeychainService::clearAll(); }
    void TearDown() override { KeychainService::clearAll(); drainEvents(); }
    void launch()
    {
        d.applicationDidFinishLaunching();
        settle();
    }
    // Keyring reads and clears run on worker threads; their answers come back
    // through the event loop.
    void settle()
    {
        waitUntil([&] { return !d.readingSignedInState() && QThreadPool::globalInstance()->activeThreadCount() == 0; });
        drainEvents();
    }
    QAction* byTag(int tag)
    {
        for (QAction* a : d.menu()->actions())
            if (a->data().isValid() && a->data().toInt() == tag)
                return a;
        return nullptr;
    }
    QString contentClass()
    {
        settle();
        auto* c = d.popupController();
        return c && c->panel() ? QString::fromLatin1(c->panel()->content()->metaObject()->className()) : QString();
    }
    // The cycle as the learner meets it, in one line, after deferred deletes
    // ran: the pause item (and whether paused), the account label, the pending
    // delay in ms ("-": none), how many single-shot timers run, the view shown.
    QString cycle()
    {
        settle();
        int running = 0;
        for (QTimer* t : d.findChildren<QTimer*>(Qt::FindDirectChildrenOnly))
            running += t->isActive() && t->isSingleShot();
        QTimer* t = d.popupTimer();
        const QString pending = !t ? QStringLiteral("-") : QString::number(t->interval()) + (t->isActive() ? "" : " stopped");
        return QStringLiteral("%1%2 | %3 | %4 x%5 | %6")
            .arg(byTag(100)->text(), d.isPaused() ? ", paused" : "", byTag(200)->text(), pending).arg(running).arg(contentClass());
    }
    SettingsView* openSettings()
    {
        d.showSettings();
        return qobject_cast<SettingsView*>(d.popupController()->panel()->content());
    }

    LogCapture logs;
    AppDelegate d;
    // Every delay drawn is the middle of its range.
    ScopedRandom middle {std::make_shared<ScriptedSource>(std::initializer_list<std::uint64_t> {Random::kTwo53 / 2})};
};

} // namespace

// Neither an address the client refuses nor a desktop without a tray stops
// the cycle: one timer at most, replaced by settings saved while it waits,
// stopped by pause; a resume uses the settings saved while paused.
TEST_F(Delegate, TheCycleRunsOneTimerAtMostThroughSettingsAndPause)
{
    const QByteArray address = qgetenv("TAVLO_API_BASE_URL");
    qputenv("TAVLO_API_BASE_URL", "http://study.example.com/api");
    d.applicationDidFinishLaunching();
    address.isNull() ? qunsetenv("TAVLO_API_BASE_URL") : qputenv("TAVLO_API_BASE_URL", address);
    EXPECT_TRUE(logs.contains(QStringLiteral("App launched")));
    EXPECT_TRUE(!d.startupNotice().isEmpty() && logs.contains(d.startupNotice())) << d.startupNotice().toStdString();
    EXPECT_EQ(d.statusItem()->menu(), d.menu());
    EXPECT_EQ(cycle(), QStringLiteral("Pause | Not logged in | 300000 x1 | ")) << "five minutes, no popup at launch";
    for (int i = 0; i < 5; ++i)
        d.scheduleNextPopup();
    for (int i = 0; i < 4; ++i)
        d.togglePause();
    EXPECT_EQ(cycle(), QStringLiteral("Pause | Not logged in | 300000 x1 | "));

    QPointer<QTimer> old = d.popupTimer();
    openSettings()->save(); // 5 and 10 minutes: the maximum is kept 5 above the minimum
    EXPECT_EQ(std::make_pair(d.minInterval(), d.maxInterval()), std::make_pair(300.0, 600.0));
    EXPECT_NE(d.popupTimer(), old.data()) << "saved while waiting: the pending timer is replaced";
    EXPECT_EQ(cycle(), QStringLiteral("Pause | Not logged in | 450000 x1 | "));

    d.togglePause();
    EXPECT_EQ(cycle(), QStringLiteral("Resume, paused | Not logged in | - x0 | "));
    SettingsView* view = openSettings();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->minMinutes(), 5);
    view->minSlider()->setValue(10);
    view->maxSlider()->setValue(30);
    view->save();
    EXPECT_EQ(std::make_pair(d.minInterval(), d.maxInterval()), std::make_pair(600.0, 1800.0));
    EXPECT_EQ(cycle(), QStringLiteral("Resume, paused | Not logged in | - x0 | ")) << "saved while paused: nothing starts";

    d.togglePause();
    EXPECT_EQ(cycle(), QStringLiteral("Pause | Not logged in | 1200000 x1 | "));
}

TEST_F(Delegate, WithoutATokenEveryPanelIsTheLoginAndThePopupStopsTheCycle)
{
    launch();
    const std::function<void()> opens[] = {[&] { d.showQuickNote(); }, [&] { d.showJournalList(); },
                                           [&] { EXPECT_TRUE(d.applicationShouldHandleReopen(true)); }};
    for (const auto& open : opens) {
        open();
        EXPECT_EQ(contentClass(), QStringLiteral("LoginView"));
    }
    KeychainService::saveAccessToken(QStringLiteral("some-token"));
    QPointer<QTimer> timer = d.popupTimer();
    EXPECT_TRUE(d.applicationShouldHandleReopen(false)); // a second launch opens the quick note
    EXPECT_EQ(contentClass(), QStringLiteral("QuickNoteView"));
    d.showJournalList();
    EXPECT_EQ(contentClass(), QStringLiteral("JournalListView"));
    EXPECT_EQ(d.popupTimer(), timer.data()) << "the popup timer is not touched";

    KeychainService::clearAll();
    d.setMinInterval(0);
    d.setMaxInterval(0);
    d.scheduleNextPopup(); // fires at once
    ASSERT_TRUE(waitUntil([&] { return logs.contains(QStringLiteral("showPopup called, token: nil")); }));
    EXPECT_EQ(cycle(), QStringLiteral("Pause | Not logged in | - x0 | LoginView")) << "no timer under the login form";
    const QStringList lines = logs.messages();
    EXPECT_EQ(lines.value(lines.indexOf(QStringLiteral("showPopup called, token: nil")) + 1), QStringLiteral("showLogin called"));
}

// The label is read from the keyring at launch, off the GUI thread; later
// changes arrive through the sign-in and switch paths, not at every opening.
// Switching clears the keyring, closes what is open and leaves only the login form.
TEST_F(Delegate, AccountLabelAndSwitchingAccount)
{
    launch();
    QAction* label = byTag(200);
    auto save = [](const char* email) { KeychainService::saveCredentials(QString::fromLatin1(email), QStringLiteral("pw")); };
    // {what happens, the label after it}
    const std::pair<std::function<void()>, const char*> steps[] = {
        {[] {}, "Not logged in"},
        {[&] { save("someone@tavlo.app"); emit d.menu()->aboutToShow(); }, "Not logged in"},
        {[&] { d.updateAccountMenu(); }, "someone@tavlo.app"},
        {[&] { save("other@tavlo.app"); emit d.menu()->aboutToShow(); }, "someone@tavlo.app"},
        {[&] { d.updateAccountMenu(); }, "other@tavlo.app"},
        {[&] { KeychainService::clearAll(); d.updateAccountMenu(); }, "Not logged in"},
        {[&] { save("someone@tavlo.app"); d.updateAccountMenu(); }, "someone@tavlo.app"},
    };
    for (const auto& [step, text] : steps) {
        step();
        settle();
        EXPECT_EQ(label->text(), QString::fromLatin1(text));
        EXPECT_FALSE(label->isEnabled());
    }

    KeychainService::saveAccessToken(QStringLiteral("token"));
    openSettings();
    QPointer<PopupPanel> settingsPanel = d.popupController()->panel();
    EXPECT_EQ(cycle(), QStringLiteral("Pause | someone@tavlo.app | 300000 x1 | SettingsView"));
    byTag(201)->trigger();
    settle();
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
    EXPECT_TRUE(!settingsPanel || !settingsPanel->isVisible());
    EXPECT_EQ(cycle(), QStringLiteral("Pause | Not logged in | - x0 | LoginView"));
    EXPECT_TRUE(logs.contains(QStringLiteral("showLogin called")));
}

// A keyring can take seconds (or wait on an unlock prompt): the controller
// never reads it on the GUI thread, whatever the learner opens.
std::atomic<int> keyringReadsOnGuiThread {0}, keyringReads {0};
void noteKeyringRead()
{
    ++keyringReads;
    keyringReadsOnGuiThread += QThread::currentThread() == qApp->thread();
}

TEST_F(Delegate, NoKeyringReadRunsOnTheGuiThread)
{
    KeychainService::setAfterLoadHook(&noteKeyringRead);
    const std::function<void()> steps[] = {
        [&] { launch(); },
        [&] { d.showCardNow(); },
        [&] { d.showQuickNote(); },
        [&] { d.showJournalList(); },
        [&] { emit d.menu()->aboutToShow(); },
        [&] { KeychainService::saveAccessToken(QStringLiteral("token")); d.showQuickNote(); },
        [&] { d.switchAccount(); },
        [&] { d.updateAccountMenu(); },
    };
    for (const auto& step : steps) {
        KeychainService::forgetCachedToken();
        step();
        settle();
    }
    KeychainService::setAfterLoadHook(nullptr);
    EXPECT_GT(keyringReads.load(), 0);
    EXPECT_EQ(keyringReadsOnGuiThread.load(), 0);
}

TEST(PlatformChoice, PrefersXcbOnlyOnWaylandWithXWaylandAndNoExplicitChoice)
{
    const char* names[] = {"WAYLAND_DISPLAY", "DISPLAY", "QT_QPA_PLATFORM"};
    auto get = [](const char* name) { return qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray("(unset)"); };
    auto set = [](const char* name, const QByteArray& v) { v == "(unset)" ? qunsetenv(name) : qputenv(name, v); };
    // {WAYLAND_DISPLAY, DISPLAY, QT_QPA_PLATFORM before, and after}
    const std::array<const char*, 4> rows[] = {
        {"wayland-0", ":0", "(unset)", "xcb"},          {"wayland-0", "(unset)", "(unset)", "(unset)"},
        {"(unset)", ":0", "(unset)", "(unset)"},        {"wayland-0", ":0", "wayland", "wayland"},
        {"wayland-0", ":0", "offscreen", "offscreen"},
    };
    const QByteArray saved[] = {get(names[0]), get(names[1]), get(names[2])};
    for (const auto& r : rows) {
        for (int i = 0; i < 3; ++i)
            set(names[i], r[size_t(i)]);
        Platform::preferXcbOnWayland();
        EXPECT_EQ(get(names[2]), QByteArray(r[3])) << r[0] << " " << r[1] << " " << r[2];
    }
    for (int i = 0; i < 3; ++i)
        set(names[i], saved[i]);
}

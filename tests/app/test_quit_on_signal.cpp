// The agent's answer to logout, shutdown and Ctrl+C: the event loop ends the
// ordinary way (aboutToQuit runs), so typing not yet saved as a draft is kept.
#include "DraftStore.h"
#include "QuickNoteView.h"
#include "QuitOnSignal.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace {

struct Case {
    int signo;
    const char* name;
};

class QuitOnSignalTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        DraftStore::setSharedFileForTesting(dir_.filePath(QStringLiteral("drafts.ini")));
        // The draft would otherwise be written long after the signal.
        QuickNoteView::setDurationsForTesting(60000, 100);
        ASSERT_TRUE(QuitOnSignal::install());
    }
    void TearDown() override
    {
        QuickNoteView::setDurationsForTesting(-1, -1);
        DraftStore::setSharedFileForTesting({});
    }

    // Runs the event loop the way main() does and delivers the signal from
    // inside it; returns exec()'s status, or -1 when the loop never ended.
    static int execAndSignal(int signo)
    {
        QTimer::singleShot(0, [signo] { ::kill(::getpid(), signo); });
        bool stuck = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&stuck] {
            stuck = true;
            QCoreApplication::exit(-1);
        });
        watchdog.start(10000);
        const int rc = QApplication::exec();
        return stuck ? -1 : rc;
    }

    QTemporaryDir dir_;
};

TEST_P(QuitOnSignalTest, EndsTheEventLoopAndFlushesThePendingDraft)
{
    int dismissals = 0;
    QuickNoteView view([&dismissals] { ++dismissals; });
    view.show();
    auto* editor = view.findChild<QPlainTextEdit*>(QStringLiteral("noteEditor"));
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, QStringLiteral("typed just before logout"));
    ASSERT_TRUE(view.hasPendingDraftSave());
    ASSERT_TRUE(DraftStore::shared().loadAll().isEmpty());

    int aboutToQuit = 0;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &view, [&aboutToQuit] { ++aboutToQuit; });
    EXPECT_EQ(execAndSignal(GetParam().signo), 0);
    EXPECT_EQ(aboutToQuit, 1);
    EXPECT_FALSE(view.hasPendingDraftSave());
    ASSERT_TRUE(DraftStore::shared().mostRecent().has_value());
    EXPECT_EQ(DraftStore::shared().mostRecent()->text, QStringLiteral("typed just before logout"));
}

TEST_P(QuitOnSignalTest, ASecondInstallKeepsOneQuitPerSignal)
{
    ASSERT_TRUE(QuitOnSignal::install());
    int aboutToQuit = 0;
    QObject guard;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &guard, [&aboutToQuit] { ++aboutToQuit; });
    EXPECT_EQ(execAndSignal(GetParam().signo), 0);
    EXPECT_EQ(aboutToQuit, 1);
}

// An agent whose event loop never comes back (a hung call on the main
// thread) must still go at the second signal, as the desktop's session
// manager expects.
TEST_P(QuitOnSignalTest, ASecondSignalEndsAnAgentThatNeverReturnsToItsLoop)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const int signo = GetParam().signo;
    EXPECT_EXIT(
        {
            ::raise(signo); // the quit is queued for a loop that never runs again
            ::raise(signo);
            std::_Exit(3);
        },
        ::testing::KilledBySignal(signo), "");
}

INSTANTIATE_TEST_SUITE_P(Signals, QuitOnSignalTest,
                         ::testing::Values(Case{SIGTERM, "SIGTERM"}, Case{SIGINT, "SIGINT"}, Case{SIGHUP, "SIGHUP"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

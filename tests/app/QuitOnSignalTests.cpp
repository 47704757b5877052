// The agent's answer to logout, shutdown and Ctrl+C: the event loop ends the
// ordinary way (aboutToQuit runs), so typing not yet saved as a draft is kept;
// and a second signal ends an agent whose loop never comes back.
#include "PrivateDrafts.h"
#include "app/QuitOnSignal.h"
#include "journal/QuickNoteView.h"
#include "TestSupport.h"
#include "core/Timing.h"

#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace {

class QuitOnSignalTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        scale.emplace(120); // the draft would be written a minute after the signal
        ASSERT_TRUE(QuitOnSignal::install());
        ASSERT_TRUE(QuitOnSignal::install()) << "installing twice must still quit once";
    }
    void TearDown() override { scale.reset(); }
    std::optional<Timing::ScopedScale> scale;
};

TEST_P(QuitOnSignalTest, EndsTheEventLoopOnceAndFlushesThePendingDraft)
{
    PrivateDrafts drafts;
    QuickNoteView view([] {});
    view.show();
    auto* editor = view.findChild<QPlainTextEdit*>(QStringLiteral("noteEditor"));
    ASSERT_NE(editor, nullptr);
    QTest::keyClicks(editor, QStringLiteral("typed just before logout"));
    ASSERT_TRUE(view.hasPendingDraftSave());
    ASSERT_TRUE(drafts.store().loadAll().isEmpty());

    // The event loop as main() runs it, with the signal delivered from inside.
    int aboutToQuit = 0;
    bool stuck = false;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &view, [&aboutToQuit] { ++aboutToQuit; });
    QTimer::singleShot(0, [signo = GetParam()] { ::kill(::getpid(), signo); });
    QTimer::singleShot(10000, &view, [&stuck] { stuck = true; QCoreApplication::exit(-1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_FALSE(stuck) << "the loop never ended";
    EXPECT_EQ(aboutToQuit, 1);
    EXPECT_FALSE(view.hasPendingDraftSave());
    ASSERT_TRUE(drafts.store().mostRecent().has_value());
    EXPECT_EQ(drafts.store().mostRecent()->text, QStringLiteral("typed just before logout"));
}

// An agent whose event loop never comes back (a hung call on the main
// thread) must still go at the second signal, as the desktop's session
// manager expects.
TEST_P(QuitOnSignalTest, ASecondSignalEndsAnAgentThatNeverReturnsToItsLoop)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const int signo = GetParam();
    EXPECT_EXIT(
        {
            ::raise(signo); // the quit is queued for a loop that never runs again
            ::raise(signo);
            std::_Exit(3);
        },
        ::testing::KilledBySignal(signo), "");
}

INSTANTIATE_TEST_SUITE_P(Signals, QuitOnSignalTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP), [](const auto& info) {
    return std::string(info.param == SIGTERM ? "SIGTERM" : info.param == SIGINT ? "SIGINT" : "SIGHUP");
});

} // namespace

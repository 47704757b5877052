// The one-agent guard: launches of the real guard in processes of their own
// (this binary run again as a child) and in threads beside a busy agent.
#include "app/SingleInstance.h"
#include "core/Timing.h"
#include "TestSupport.h"

#include <QDir>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Role = SingleInstance::Role;

// A launch as the agent makes it, in the user's runtime directory. Started by
// the tests below: waits for a line on stdin, says its role on stdout and, as the agent, "reopen" for
// each later launch, until the file TAVLO_INSTANCE_STOP exists.
TEST(SingleInstanceChild, DISABLED_Launch)
{
    SingleInstance guard(SingleInstance::runtimeDirectory(), qEnvironmentVariable("TAVLO_INSTANCE_DISPLAY"));
    QObject::connect(&guard, &SingleInstance::reopenRequested, [] { std::cout << "reopen" << std::endl; });
    // Launches started together claim at one instant (their stdin ends for
    // all of them at once), not one process start-up apart.
    std::cout << "ready" << std::endl;
    std::string go;
    std::getline(std::cin, go);
    const bool agent = guard.claim() == Role::primary;
    std::cout << (agent ? "primary" : "secondary") << std::endl;
    if (agent)
        waitUntil([] { return QFile::exists(qEnvironmentVariable("TAVLO_INSTANCE_STOP")); }, 60000);
}

class Launches : public ::testing::Test {
protected:
    // Launches on `displays`, each with an XDG_RUNTIME_DIR of its own, let
    // go together once all of them are up.
    QList<QProcess*> launch(const QStringList& displays)
    {
        const QString gate = dirs_.filePath(QStringLiteral("go-%1").arg(launches_.size()));
        const QByteArray gatePath = QFile::encodeName(gate);
        EXPECT_EQ(::mkfifo(gatePath.constData(), 0600), 0);
        const int held = ::open(gatePath.constData(), O_RDWR | O_CLOEXEC);
        QList<QProcess*> started;
        for (const QString& display : displays) {
            const QString runtime = dirs_.filePath(QString::number(launches_.size()));
            QDir().mkpath(runtime);
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
            env.insert(QStringLiteral("TAVLO_INSTANCE_DISPLAY"), display);
            env.insert(QStringLiteral("TAVLO_INSTANCE_STOP"), dirs_.filePath(QStringLiteral("stop")));
            auto* p = new QProcess;
            p->setProcessEnvironment(env);
            p->setStandardInputFile(gate);
            p->start(QCoreApplication::applicationFilePath(),
                     {"--gtest_also_run_disabled_tests", "--gtest_filter=SingleInstanceChild.DISABLED_Launch"});
            launches_.emplace_back(p);
            started.append(p);
        }
        EXPECT_TRUE(waitUntil([&] {
            return std::all_of(started.begin(), started.end(), [&](QProcess* p) {
                said(p);
                return output_[p].split(u'\n').contains(QStringLiteral("ready"));
            });
        }));
        ::close(held);
        return started;
    }
    // What a launch said so far, its lines of the guard only.
    QStringList said(QProcess* p)
    {
        output_[p] += QString::fromUtf8(p->readAllStandardOutput());
        return output_[p].split(u'\n').filter(QRegularExpression(QStringLiteral("^(primary|secondary|reopen)$")));
    }
    bool ended(QProcess* p) const { return p->state() == QProcess::NotRunning; }
    void TearDown() override
    {
        QFile(dirs_.filePath(QStringLiteral("stop"))).open(QIODevice::WriteOnly);
        for (auto& p : launches_)
            EXPECT_TRUE(ended(p.get()) || p->waitForFinished(20000));
    }

    // A display of this test run's own, so runs at the same time never meet.
    const QString n = QString::number(QCoreApplication::applicationPid());
    QTemporaryDir dirs_;
    std::vector<std::unique_ptr<QProcess>> launches_;
    std::map<QProcess*, QString> output_;
};

// Three launches at once, each with another XDG_RUNTIME_DIR and another
// spelling of the display: one agent, and the other two reach it. An agent
// killed outright leaves its lock and socket; the next launch takes over.
TEST_F(Launches, AtTheSameInstantGiveOneAgentWhateverTheirRuntimeDirectory)
{
    const QList<QProcess*> all = launch({":" + n, ":" + n + ".0", "unix:" + n});
    ASSERT_TRUE(waitUntil([&] { return std::count_if(all.begin(), all.end(), [&](QProcess* p) { return ended(p); }) == 2; }));
    QProcess* agent = *std::find_if(all.begin(), all.end(), [&](QProcess* p) { return !ended(p); });
    for (QProcess* p : all) {
        if (p != agent) {
            EXPECT_EQ(said(p), QStringList{"secondary"});
            EXPECT_EQ(p->exitCode(), 0);
        }
    }
    ASSERT_TRUE(waitUntil([&] { return said(agent).size() == 3; }));
    EXPECT_EQ(said(agent), (QStringList{"primary", "reopen", "reopen"}));

    agent->kill();
    agent->waitForFinished();
    QProcess* next = launch({":" + n}).first();
    ASSERT_TRUE(waitUntil([&] { return said(next).contains("primary"); }));
    QProcess* later = launch({"unix:" + n + ".0"}).first();
    ASSERT_TRUE(waitUntil([&] { return ended(later) && said(next).contains("reopen"); }));
    EXPECT_EQ(said(later), QStringList{"secondary"});
}

// The agent's thread is busy (as on a keyring call) for longer than a second
// launch waits: that launch ends without touching the agent's socket, and the
// agent gets its request once it is free. Later launches still reach it.
TEST(SingleInstanceGuard, AnAgentThatAnswersLateStaysTheOneAgent)
{
    QTemporaryDir dir;
    SingleInstance agent(dir.path(), QStringLiteral(":7"));
    ASSERT_EQ(agent.claim(), Role::primary);
    QSignalSpy reopened(&agent, &SingleInstance::reopenRequested);
    {
        const Timing::ScopedScale quick(0.05); // a launch waits 250 ms
        Role role = Role::primary;
        std::thread busyMeanwhile([&] { role = SingleInstance(dir.path(), QStringLiteral("unix:7.0")).claim(); });
        busyMeanwhile.join();
        EXPECT_EQ(role, Role::secondary);
    }
    ASSERT_TRUE(waitUntil([&] { return reopened.count() == 1; }));
    Role role = Role::primary;
    std::thread next([&] { role = SingleInstance(dir.path(), QStringLiteral(":7.0")).claim(); });
    EXPECT_TRUE(waitUntil([&] { return reopened.count() == 2; }));
    next.join();
    EXPECT_EQ(role, Role::secondary);
    // Another display is another agent.
    EXPECT_EQ(SingleInstance(dir.path(), QStringLiteral(":8")).claim(), Role::primary);
}

// The instant between a launch winning and its listening, held open: a launch
// then waits for that agent and never becomes a second one.
TEST(SingleInstanceGuard, ALaunchBesideOneStillStartingIsNoSecondAgent)
{
    QTemporaryDir dir;
    const Timing::ScopedScale quick(0.05);
    QLockFile starting(SingleInstance(dir.path(), QStringLiteral(":7")).lockPath());
    ASSERT_TRUE(starting.tryLock(0));
    SingleInstance launch(dir.path(), QStringLiteral("unix:7"));
    EXPECT_EQ(launch.claim(), Role::secondary);
    EXPECT_FALSE(QFile::exists(launch.socketPath()));
}

// An agent that ends lets the next launch in only once its socket is gone, so
// the socket the next agent listens on stays.
TEST(SingleInstanceGuard, TheAgentAfterAnEndedOneKeepsItsSocket)
{
    QTemporaryDir dir;
    const Timing::ScopedScale quick(0.05);
    auto ending = std::make_unique<SingleInstance>(dir.path(), QStringLiteral(":7"));
    ASSERT_EQ(ending->claim(), Role::primary);
    SingleInstance next(dir.path(), QStringLiteral(":7"));
    // The last moment of the ending agent that other code can see.
    QObject::connect(ending.get(), &QObject::destroyed, [&] { EXPECT_EQ(next.claim(), Role::primary); });
    ending.reset();
    QSignalSpy reopened(&next, &SingleInstance::reopenRequested);
    std::thread later([&dir] { SingleInstance(dir.path(), QStringLiteral(":7")).claim(); });
    EXPECT_TRUE(waitUntil([&] { return reopened.count() == 1; }));
    later.join();
}

TEST(SingleInstanceGuard, OneFileNamePerDisplay)
{
    const QString zero = SingleInstance::displayKey(QStringLiteral(":0"));
    for (const char* same : {":0.0", "unix:0", "unix:0.1", ":00"})
        EXPECT_EQ(SingleInstance::displayKey(QString::fromLatin1(same)), zero) << same;
    QStringList keys{zero};
    for (const QString& other : {QStringLiteral(":1"), QStringLiteral("host:0"), QStringLiteral("wayland:wayland-0"),
                                 QString(), QString(300, u'x') + ":0", QStringLiteral("../../etc:0")})
        keys.append(SingleInstance::displayKey(other));
    EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()).size(), keys.size()) << keys.join(u' ').toStdString();
    EXPECT_EQ(keys.filter(QRegularExpression(QStringLiteral("^[A-Za-z0-9._-]{1,40}$"))), keys);
}

} // namespace

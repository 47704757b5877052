// Speech runs a fake speech command that records its argument vector, so the
// tests see exactly what the real one would be given.
#include "Log.h"
#include "QuizView.h"
#include "SoundEffects.h"
#include "Speech.h"
#include "TypingView.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

namespace {

constexpr int generousMs = 20000; // an upper bound only; nothing here is timed

class SpeechTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        script = dir.filePath(QStringLiteral("fake-speech"));
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        // Logs "start PID", one "arg PID [text]" per argument, then waits for
        // the release file; logs "term PID" when asked to stop, "done PID"
        // when it ran to its end.
        file.write(R"(#!/bin/sh
log="$0.log"
{ echo "start $$"; for a in "$@"; do printf 'arg %s [%s]\n' "$$" "$a"; done; } >> "$log"
trap 'echo "term $$" >> "$log"; exit 143' TERM
while [ ! -e "$0.release" ]; do sleep 0.02; done
echo "done $$" >> "$log"
)");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("TAVLO_SPEECH_COMMAND", script.toLocal8Bit());
    }
    void TearDown() override
    {
        release();
        qunsetenv("TAVLO_SPEECH_COMMAND");
    }

    void release()
    {
        QFile flag(script + QStringLiteral(".release"));
        if (!flag.exists()) {
            flag.open(QIODevice::WriteOnly);
            flag.close();
        }
    }

    QStringList logLines() const
    {
        QFile file(script + QStringLiteral(".log"));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    // The arguments one fake process was started with.
    QStringList argsOf(qint64 pid) const
    {
        QStringList args;
        const QString prefix = QStringLiteral("arg %1 [").arg(pid);
        for (const QString& line : logLines()) {
            if (line.startsWith(prefix) && line.endsWith(u']'))
                args.append(line.mid(prefix.size(), line.size() - prefix.size() - 1));
        }
        return args;
    }

    bool logged(const QString& line) const { return logLines().contains(line); }

    struct Watched {
        QPointer<QProcess> process;
        qint64 pid = 0;
        bool finished = false;
        int exitCode = -1;
        QProcess::ExitStatus status = QProcess::NormalExit;
    };
    // Follows the process a channel has just started. Its signals cannot have
    // been emitted yet: nothing ran the event loop since speak().
    std::shared_ptr<Watched> watch(const SpeechChannel& channel)
    {
        auto watched = std::make_shared<Watched>();
        watched->process = channel.current();
        if (!watched->process)
            return watched;
        watched->pid = watched->process->processId();
        QObject::connect(watched->process, &QProcess::finished, [watched](int code, QProcess::ExitStatus status) {
            watched->finished = true;
            watched->exitCode = code;
            watched->status = status;
        });
        return watched;
    }

    static bool waitGone(const std::shared_ptr<Watched>& w)
    {
        return QTest::qWaitFor([&] { return w->process.isNull(); }, generousMs);
    }

    // Spoken once to the end, returning its arguments.
    QStringList spokenArgs(const QString& text)
    {
        release();
        SpeechChannel channel;
        channel.speak(text);
        auto w = watch(channel);
        EXPECT_TRUE(w->process) << "no process started";
        EXPECT_TRUE(waitGone(w));
        EXPECT_TRUE(w->finished);
        EXPECT_EQ(w->exitCode, 0);
        return argsOf(w->pid);
    }

    QTemporaryDir dir;
    QString script;
};

TEST_F(SpeechTest, TextIsOneArgumentAfterTheEndOfOptions)
{
    struct Row {
        const char* text;
        QStringList args;
    };
    const std::vector<Row> rows = {
        {"hello world", {"--", "hello world"}},
        {"to run (v.)", {"--", "to run"}},
        {"(n.)", {"--", ""}},
        {"apple (n.) (v.)", {"--", "apple (n.)"}},
        // Spoken, not obeyed: without the "--" these would be options.
        {"-w /home/x/.bashrc", {"--", "-w /home/x/.bashrc"}},
        {"--help", {"--", "--help"}},
        {"-", {"--", "-"}},
        // No shell is involved, so nothing here is interpreted.
        {"it's \"$HOME\" `id`; rm -rf x | y > z", {"--", "it's \"$HOME\" `id`; rm -rf x | y > z"}},
        {"caf\u00E9 日本語 👍🏽", {"--", QString::fromUtf8("caf\u00E9 日本語 👍🏽")}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(spokenArgs(QString::fromUtf8(row.text)), row.args) << row.text;
}

TEST_F(SpeechTest, SecondQuickCallTerminatesTheFirst)
{
    SpeechChannel channel;
    channel.speak(QStringLiteral("first"));
    auto first = watch(channel);
    ASSERT_TRUE(first->process);
    channel.speak(QStringLiteral("second"));
    auto second = watch(channel);
    ASSERT_TRUE(second->process);
    EXPECT_NE(first->process, second->process);

    ASSERT_TRUE(waitGone(first)) << "the first speech was not stopped";
    EXPECT_TRUE(first->finished);
    // Killed by SIGTERM before its trap was set, or stopped through the trap.
    EXPECT_TRUE(first->status == QProcess::CrashExit || first->exitCode == 143)
        << "status " << first->status << " code " << first->exitCode;
    EXPECT_FALSE(second->finished) << "the second speech must keep running";
    EXPECT_EQ(channel.current(), second->process.data());

    release();
    ASSERT_TRUE(waitGone(second));
    EXPECT_EQ(second->exitCode, 0);
    EXPECT_TRUE(logged(QStringLiteral("done %1").arg(second->pid)));
    EXPECT_FALSE(logged(QStringLiteral("done %1").arg(first->pid)));
    EXPECT_EQ(argsOf(second->pid), (QStringList{"--", "second"}));
    EXPECT_EQ(channel.current(), nullptr);

    // Both children were reaped: no zombie entries are left behind.
    for (qint64 pid : {first->pid, second->pid}) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (stat.open(QIODevice::ReadOnly)) {
            EXPECT_FALSE(QString::fromLatin1(stat.readAll()).section(u')', -1).trimmed().startsWith(u'Z'))
                << "zombie " << pid;
        }
    }
}

TEST_F(SpeechTest, SpeakingAfterTheEndStartsAfresh)
{
    release();
    SpeechChannel channel;
    channel.speak(QStringLiteral("one"));
    auto first = watch(channel);
    ASSERT_TRUE(waitGone(first));
    channel.speak(QStringLiteral("two"));
    auto second = watch(channel);
    ASSERT_TRUE(waitGone(second));
    EXPECT_EQ(first->exitCode, 0);
    EXPECT_EQ(second->exitCode, 0);
    EXPECT_EQ(argsOf(second->pid), (QStringList{"--", "two"}));
}

TEST_F(SpeechTest, QuizAndTypingSpeechDoNotStopEachOther)
{
    QuizView::speak(QStringLiteral("quiz"));
    auto quiz = watch(QuizView::speechChannel());
    TypingView::speak(QStringLiteral("typing"));
    auto typing = watch(TypingView::speechChannel());
    ASSERT_TRUE(quiz->process);
    ASSERT_TRUE(typing->process);
    EXPECT_NE(&QuizView::speechChannel(), &TypingView::speechChannel());
    QTest::qWait(100);
    EXPECT_FALSE(quiz->finished);
    EXPECT_FALSE(typing->finished);
    release();
    ASSERT_TRUE(waitGone(quiz));
    ASSERT_TRUE(waitGone(typing));
    EXPECT_EQ(quiz->exitCode, 0);
    EXPECT_EQ(typing->exitCode, 0);
    EXPECT_EQ(argsOf(quiz->pid), (QStringList{"--", "quiz"}));
    EXPECT_EQ(argsOf(typing->pid), (QStringList{"--", "typing"}));
}

TEST_F(SpeechTest, MissingSpeechCommandIsSilent)
{
    for (const char* missing : {"/nonexistent/speech-command", "tavlo-no-such-speech-command"}) {
        qputenv("TAVLO_SPEECH_COMMAND", missing);
        SpeechChannel channel;
        channel.speak(QStringLiteral("hello"));
        channel.speak(QStringLiteral("again"));
        QTest::qWait(20);
        EXPECT_EQ(channel.current(), nullptr) << missing;
    }
    // A command that exists but cannot be executed.
    QFile plain(dir.filePath(QStringLiteral("not-executable")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    qputenv("TAVLO_SPEECH_COMMAND", plain.fileName().toLocal8Bit());
    SpeechChannel channel;
    channel.speak(QStringLiteral("hello"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return channel.current() == nullptr; }, generousMs));

    // Executable, but the system cannot start it: the failed process is
    // dropped, and the next speak has nothing to terminate.
    QFile broken(dir.filePath(QStringLiteral("broken-speech")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("#!/nonexistent/interpreter\n");
    broken.close();
    broken.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("TAVLO_SPEECH_COMMAND", broken.fileName().toLocal8Bit());
    channel.speak(QStringLiteral("hello"));
    channel.speak(QStringLiteral("again"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return channel.current() == nullptr; }, generousMs));

    // Speech works again once the command is back.
    qputenv("TAVLO_SPEECH_COMMAND", script.toLocal8Bit());
    EXPECT_EQ(spokenArgs(QStringLiteral("back")), (QStringList{"--", "back"}));
}

TEST_F(SpeechTest, RealSpeechCommandSpeaksADashTextInsteadOfObeyingIt)
{
    qunsetenv("TAVLO_SPEECH_COMMAND");
    if (QStandardPaths::findExecutable(QStringLiteral("espeak-ng")).isEmpty())
        GTEST_SKIP() << "espeak-ng is not installed";
    const QString target = dir.filePath(QStringLiteral("obeyed.wav"));

    // The danger is real: read as options, this text writes a file.
    QProcess direct;
    direct.start(QStringLiteral("espeak-ng"), {QStringLiteral("-w"), dir.filePath(QStringLiteral("control.wav")),
                                               QStringLiteral("hello")});
    ASSERT_TRUE(direct.waitForFinished(generousMs));
    ASSERT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("control.wav"))));

    SpeechChannel channel;
    channel.speak(QStringLiteral("-w %1 hello").arg(target));
    auto w = watch(channel);
    ASSERT_TRUE(w->process);
    ASSERT_TRUE(waitGone(w));
    EXPECT_FALSE(QFileInfo::exists(target));
}

TEST(SoundEffects, PlaysThemeSoundsWithoutWaitingOrASoundServer)
{
    EXPECT_STREQ(SoundEffects::themeSoundName(SoundEffects::Sound::correct), "complete");
    EXPECT_STREQ(SoundEffects::themeSoundName(SoundEffects::Sound::incorrect), "dialog-warning");
    const QDir theme(QStringLiteral("/usr/share/sounds/freedesktop/stereo"));
    if (theme.exists()) {
        for (auto sound : {SoundEffects::Sound::correct, SoundEffects::Sound::incorrect})
            EXPECT_TRUE(theme.exists(QString::fromLatin1(SoundEffects::themeSoundName(sound)) + ".oga"));
    }
    // The test session has no sound server: every call returns and nothing
    // breaks, also when calls overlap.
    for (int i = 0; i < 5; ++i) {
        SoundEffects::playIncorrect();
        SoundEffects::playCorrect();
    }
    QTest::qWait(50);
}

// Without the sound library (a broken installation) answers stay silent and
// the log says why, once.
TEST(SoundEffects, AMissingLibraryMeansSilenceAndOneLogLine)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString logPath = dir.filePath(QStringLiteral("tavlo.log"));
    const QString missing = dir.filePath(QStringLiteral("libcanberra.so.0"));
    EXPECT_EXIT(
        {
            LogFile::setPathForTesting(logPath);
            SoundEffects::setLibraryForTesting(missing);
            SoundEffects::playCorrect();
            SoundEffects::playIncorrect();
            QFile log(logPath);
            const QByteArray logged = log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
            const bool once = logged.count("Sounds unavailable: ") == 1;
            dir.remove();
            std::_Exit(once ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(SoundEffects, ObserverReplacesPlayback)
{
    std::vector<SoundEffects::Sound> heard;
    SoundEffects::setObserverForTesting([&](SoundEffects::Sound s) { heard.push_back(s); });
    SoundEffects::playCorrect();
    SoundEffects::playIncorrect();
    SoundEffects::setObserverForTesting(nullptr);
    SoundEffects::playCorrect();
    EXPECT_EQ(heard, (std::vector{SoundEffects::Sound::correct, SoundEffects::Sound::incorrect}));
}

} // namespace

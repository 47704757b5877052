// Speech runs a fake speech command that records its argument vector, so the
// tests see exactly what the real one would be given.
#include "review/QuizView.h"
#include "review/Speech.h"
#include "TestSupport.h"
#include "review/TypingView.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

class SpeechTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        script = dir.filePath("fake-speech");
        // Logs one "arg PID [text]" line per argument, then runs until the
        // release file appears; stopped, it exits with 143.
        writeExecutable(script, R"(#!/bin/sh
for a in "$@"; do printf 'arg %s [%s]\n' "$$" "$a"; done >> "$0.log"
trap 'exit 143' TERM
while [ ! -e "$0.release" ]; do sleep 0.02; done
)");
        qputenv("TAVLO_SPEECH_COMMAND", script.toLocal8Bit());
    }
    void TearDown() override
    {
        release();
        qunsetenv("TAVLO_SPEECH_COMMAND");
    }

    static void writeExecutable(const QString& path, const QByteArray& content)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void release()
    {
        QFile flag(script + ".release");
        ASSERT_TRUE(flag.exists() || flag.open(QIODevice::WriteOnly));
    }
    QStringList logLines() const
    {
        QFile file(script + ".log");
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                              : QStringList();
    }
    // The arguments one fake process was started with.
    QStringList argsOf(qint64 pid) const
    {
        const QString prefix = QString("arg %1 [").arg(pid);
        QStringList args = logLines().filter(QRegularExpression("^" + QRegularExpression::escape(prefix) + ".*\\]$"));
        for (QString& arg : args)
            arg = arg.mid(prefix.size()).chopped(1);
        return args;
    }

    // Follows the process a channel has just started. Its signals cannot have
    // been emitted yet: nothing ran the event loop since speak().
    struct Watched {
        QPointer<QProcess> process;
        qint64 pid = process ? process->processId() : 0;
        bool finished = false;
        int exitCode = -1;
        QProcess::ExitStatus status = QProcess::NormalExit;
        bool gone() const { return waitUntil([this] { return process.isNull(); }); }
    };
    static std::shared_ptr<Watched> watch(const SpeechChannel& channel)
    {
        auto w = std::make_shared<Watched>(Watched{channel.current()});
        if (w->process) {
            QObject::connect(w->process, &QProcess::finished, [w](int code, QProcess::ExitStatus status) {
                w->finished = true;
                w->exitCode = code;
                w->status = status;
            });
        }
        return w;
    }
    // The arguments of the speech a channel has just started, once it ran to its end.
    QStringList argsSpokenBy(const SpeechChannel& channel)
    {
        release();
        auto w = watch(channel);
        EXPECT_TRUE(w->process) << "no process started";
        EXPECT_TRUE(w->gone());
        EXPECT_TRUE(w->finished);
        EXPECT_EQ(w->exitCode, 0);
        return argsOf(w->pid);
    }
    QStringList spokenArgs(const QString& text)
    {
        SpeechChannel channel;
        channel.speak(text);
        return argsSpokenBy(channel);
    }

    QTemporaryDir dir;
    QString script;
};

TEST_F(SpeechTest, TextIsOneArgumentAfterTheEndOfOptions)
{
    const std::pair<const char*, QStringList> rows[] = {
        {"to run (v.)", {"--", "to run"}},
        {"(n.)", {"--", ""}},
        // Spoken, not obeyed: without the "--" these would be options.
        {"-w /home/x/.bashrc", {"--", "-w /home/x/.bashrc"}},
        {"--help", {"--", "--help"}},
        // No shell is involved, so nothing here is interpreted.
        {"it's \"$HOME\" `id`; rm -rf x | y > z", {"--", "it's \"$HOME\" `id`; rm -rf x | y > z"}},
        {"caf\u00E9 日本語 👍🏽", {"--", QString::fromUtf8("caf\u00E9 日本語 👍🏽")}},
    };
    for (const auto& [text, args] : rows)
        EXPECT_EQ(spokenArgs(QString::fromUtf8(text)), args) << text;
}

TEST_F(SpeechTest, SecondQuickCallTerminatesTheFirst)
{
    SpeechChannel channel;
    channel.speak("first");
    auto first = watch(channel);
    ASSERT_TRUE(first->process);
    channel.speak("second");
    auto second = watch(channel);
    ASSERT_TRUE(second->process);
    EXPECT_NE(first->process, second->process);

    ASSERT_TRUE(first->gone()) << "the first speech was not stopped";
    EXPECT_TRUE(first->finished);
    // Killed by SIGTERM before its trap was set, or stopped through the trap.
    EXPECT_TRUE(first->status == QProcess::CrashExit || first->exitCode == 143)
        << "status " << first->status << " code " << first->exitCode;
    EXPECT_FALSE(second->finished) << "the second speech must keep running";
    EXPECT_EQ(channel.current(), second->process.data());

    release();
    ASSERT_TRUE(second->gone());
    EXPECT_EQ(second->exitCode, 0);
    EXPECT_EQ(argsOf(second->pid), (QStringList{"--", "second"}));
    EXPECT_EQ(channel.current(), nullptr);

    // Speaking after the end starts afresh.
    channel.speak("third");
    EXPECT_EQ(argsSpokenBy(channel), (QStringList{"--", "third"}));
}

TEST_F(SpeechTest, SpeakerButtonsSpeakThePromptWithoutItsMarker)
{
    QuizView quiz("to run (v.)", {"courir", "marcher"}, "courir", [](int) {});
    QTest::mouseClick(quiz.findChild<QToolButton*>("speakerButton"), Qt::LeftButton);
    EXPECT_EQ(argsSpokenBy(QuizView::speechChannel()), (QStringList{"--", "to run"}));

    // Also after the answer, and on a channel of its own.
    std::vector<int> got;
    TypingView typing("-w /tmp/x (n.)", "pomme", [&](int q) { got.push_back(q); });
    typing.findChild<QLineEdit*>("answerField")->setText("pomme");
    typing.findChild<QPushButton*>("submitButton")->click();
    ASSERT_EQ(got, std::vector<int>{4});
    QTest::mouseClick(typing.findChild<QToolButton*>("speakerButton"), Qt::LeftButton);
    EXPECT_EQ(argsSpokenBy(TypingView::speechChannel()), (QStringList{"--", "-w /tmp/x"}));
    EXPECT_NE(&QuizView::speechChannel(), &TypingView::speechChannel());
}

TEST_F(SpeechTest, MissingSpeechCommandIsSilent)
{
    SpeechChannel channel;
    for (const char* missing : {"/nonexistent/speech-command", "tavlo-no-such-speech-command"}) {
        qputenv("TAVLO_SPEECH_COMMAND", missing);
        channel.speak("hello");
        channel.speak("again");
        EXPECT_EQ(channel.current(), nullptr) << missing;
    }
    // Executable, but the system cannot start it: the failed process is
    // dropped, and the next speak has nothing to terminate.
    writeExecutable(dir.filePath("broken-speech"), "#!/nonexistent/interpreter\n");
    qputenv("TAVLO_SPEECH_COMMAND", dir.filePath("broken-speech").toLocal8Bit());
    channel.speak("hello");
    channel.speak("again");
    EXPECT_TRUE(waitUntil([&] { return channel.current() == nullptr; }));

    // Speech works again once the command is back.
    qputenv("TAVLO_SPEECH_COMMAND", script.toLocal8Bit());
    EXPECT_EQ(spokenArgs("back"), (QStringList{"--", "back"}));
}

} // namespace

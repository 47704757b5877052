// The diagnostic log: line format, UTC, appending, and the refusals that keep
// a planted file or link in /tmp from being written through. These tests read
// the file's raw bytes (time stamps included), not LogCapture's messages.
#include "TestSupport.h"

#include <QSet>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QRegularExpression kLine(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000: (.*)$)"));

QByteArray bytesOf(const QByteArray& file)
{
    QFile f(QFile::decodeName(file));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool plant(const QByteArray& file, const QByteArray& bytes, mode_t mode = 0600)
{
    QFile f(QFile::decodeName(file));
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && ::chmod(file.constData(), mode) == 0;
}

class LogTest : public ::testing::Test {
protected:
    LogCapture capture; // points the log at a private file
    const QByteArray file = QFile::encodeName(capture.path());
    const QByteArray dir = file.left(file.lastIndexOf('/'));
};

} // namespace

TEST(LogFormat, UtcWithoutFractionsAndOneLinePerMessage)
{
    const QDate day(2026, 3, 7), last(2026, 12, 31);
    // 10:05:03 in Berlin (winter) and 04:05:03 in New York are both 09:05:03 UTC.
    const std::tuple<QString, QDateTime, const char*> rows[] = {
        {"x", QDateTime(day, QTime(10, 5, 3), QTimeZone("Europe/Berlin")), "2026-03-07 09:05:03 +0000: x\n"},
        {"x", QDateTime(day, QTime(4, 5, 3), QTimeZone("America/New_York")), "2026-03-07 09:05:03 +0000: x\n"},
        {"a\nb", QDateTime(last, QTime(23, 59, 59, 999), QTimeZone::utc()), "2026-12-31 23:59:59 +0000: a\\nb\n"},
    };
    for (const auto& [message, when, line] : rows)
        EXPECT_EQ(LogFile::formatLine(message, when), QByteArray(line));
}

// A message can never start a line of its own (a forged entry) nor run on
// without end; what has nothing to escape is written as it is.
TEST(LogFormat, ControlCharactersAreEscapedAndLongMessagesCut)
{
    const QString cut = QStringLiteral(" \u2026[cut, %1 characters in all]");
    const QString a1999(1999, u'a');
    const QString emoji = QString::fromUtf8("\xf0\x9f\x99\x82");
    const std::pair<QString, QString> rows[] = {
        {"body: {\n  \"data\": []\r\n}\t", "body: {\\n  \"data\": []\\r\\n}\\t"},
        {"x\n2026-12-06 10:00:00 +0000: forged", "x\\n2026-12-06 10:00:00 +0000: forged"},
        {QString::fromUtf8("\x1b[31mred\x7f \xc2\x85 \xe2\x80\xa8 \xe2\x80\xa9") + QChar(0), "\\u001b[31mred\\u007f \\u0085 \\u2028 \\u2029\\u0000"},
        {QString::fromUtf8(R"(JSON escapes stay: caf\u00e9 "\n" )") + QString::fromUtf8("\xc3\xa6 \xf0\x9f\x99\x82"), {}},
        {QString(2000, u'a'), QString(2000, u'a')},
        {QString(16 * 1024 * 1024, u'a'), QString(2000, u'a') + cut.arg(16 * 1024 * 1024)},
        {a1999 + "\n" + "b", a1999 + "\\n" + cut.arg(2001)},
        {a1999 + emoji + "b", a1999 + cut.arg(2002)}, // the pair is not split
    };
    for (const auto& [message, line] : rows) {
        EXPECT_EQ(LogFile::oneLine(message).toStdString(), (line.isNull() ? message : line).toStdString());
        EXPECT_EQ(LogFile::formatLine(message, QDateTime::currentDateTimeUtc()).count('\n'), 1);
    }
}

TEST_F(LogTest, CreatesTheFilePrivateToTheUserWritesUtf8InUtcEvenWithALocalZoneThenAppends)
{
    const QByteArray oldTz = qgetenv("TZ");
    qputenv("TZ", "Asia/Kathmandu"); // +05:45: any local rendering would show
    tzset();
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const QString message = QString::fromUtf8("App launched: Ça va? Привет, 日本語 🙂");
    log(message);
    oldTz.isNull() ? qunsetenv("TZ") : qputenv("TZ", oldTz);
    tzset();
    const QByteArray data = bytesOf(file);
    EXPECT_TRUE(kLine.match(QString::fromUtf8(data).chopped(1)).hasMatch()) << data.constData();
    EXPECT_TRUE(data.endsWith(": " + message.toUtf8() + '\n'));
    const QDateTime written = QDateTime::fromString(QString::fromUtf8(data.left(19)), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    EXPECT_LE(std::abs(QDateTime(written.date(), written.time(), QTimeZone::utc()).secsTo(before)), 2) << data.constData();
    struct stat st {};
    ASSERT_EQ(::stat(file.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Appended to what is there, never truncated: exactly one more line.
    log(QStringLiteral("two"));
    const QByteArray after = bytesOf(file);
    EXPECT_TRUE(after.startsWith(data) && after.mid(data.size()).endsWith(": two\n") && after.count('\n') == 2) << after.constData();
}

TEST_F(LogTest, NeverWritesThroughALinkOrIntoSomethingElse)
{
    const QByteArray victim = dir + "/victim", created = dir + "/created-through-link";
    ASSERT_TRUE(plant(victim, "precious\n"));
    ASSERT_EQ(::symlink(victim.constData(), file.constData()), 0);
    log(QStringLiteral("should not land"));
    EXPECT_EQ(bytesOf(victim), QByteArray("precious\n"));

    // A dangling link: its target must not be created.
    ::unlink(file.constData());
    ASSERT_EQ(::symlink(created.constData(), file.constData()), 0);
    log(QStringLiteral("x"));
    EXPECT_FALSE(QFile::exists(QFile::decodeName(created)));

    // A FIFO: without a reader a plain O_WRONLY open would block forever; with
    // one the open succeeds, and the type check must refuse.
    ::unlink(file.constData());
    ASSERT_EQ(::mkfifo(file.constData(), 0600), 0);
    log(QStringLiteral("nobody reads"));
    const int reader = ::open(file.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    log(QStringLiteral("into a fifo"));
    char buf[64];
    EXPECT_LE(::read(reader, buf, sizeof buf), 0);
    ::close(reader);

    // Someone else's file, when we may hand one over (as root).
    ::unlink(file.constData());
    if (::geteuid() == 0) {
        ASSERT_TRUE(plant(file, "theirs\n", 0666));
        ASSERT_EQ(::chown(file.constData(), 65534, 65534), 0);
        log(QStringLiteral("mine"));
        EXPECT_EQ(bytesOf(file), QByteArray("theirs\n"));
    }

    // A directory that is not there: the call returns normally.
    LogFile::setPath(QFile::decodeName(dir + "/no/such/dir/file.log"));
    log(QStringLiteral("lost"));
}

TEST_F(LogTest, ConcurrentCallersNeverBreakEachOthersLines)
{
    constexpr int kThreads = 8, kLines = 200;
    const QString payload(300, QLatin1Char('p'));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &payload] {
            for (int i = 0; i < kLines; ++i)
                log(QStringLiteral("t%1 i%2 ").arg(t).arg(i) + payload);
        });
    for (auto& th : threads)
        th.join();
    const QList<QByteArray> lines = bytesOf(file).split('\n');
    ASSERT_EQ(lines.size(), kThreads * kLines + 1);
    QSet<QString> seen;
    const QRegularExpression whole(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000: (t\d+ i\d+ )p{300}$)"));
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const auto m = whole.match(QString::fromUtf8(lines[i]));
        ASSERT_TRUE(m.hasMatch()) << lines[i].left(80).constData();
        seen.insert(m.captured(1));
    }
    EXPECT_EQ(seen.size(), kThreads * kLines);
}

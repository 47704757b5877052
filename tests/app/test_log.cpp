// The diagnostic log: line format, UTC, appending, and the refusals that keep
// a planted file or link in /tmp from being written through.
#include "Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("tavlopopup.log"));
        LogFile::setPathForTesting(path);
    }
    void TearDown() override { LogFile::setPathForTesting(QString()); }

    QByteArray contents() const
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return f.readAll();
    }

    QTemporaryDir dir;
    QString path;
};

const QRegularExpression kLine(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000: (.*)$)"));

} // namespace

TEST(LogFormat, ExampleLine)
{
    const QDateTime when(QDate(2026, 3, 7), QTime(9, 5, 3), QTimeZone::utc());
    EXPECT_EQ(LogFile::formatLine(QStringLiteral("App launched"), when),
              QByteArray("2026-03-07 09:05:03 +0000: App launched\n"));
}

TEST(LogFormat, ConvertsToUtcWhateverTheZone)
{
    // 10:05:03 in Berlin (winter) and 04:05:03 in New York are both 09:05:03 UTC.
    const QDateTime berlin(QDate(2026, 3, 7), QTime(10, 5, 3), QTimeZone("Europe/Berlin"));
    const QDateTime newYork(QDate(2026, 3, 7), QTime(4, 5, 3), QTimeZone("America/New_York"));
    EXPECT_EQ(LogFile::formatLine(QStringLiteral("x"), berlin), QByteArray("2026-03-07 09:05:03 +0000: x\n"));
    EXPECT_EQ(LogFile::formatLine(QStringLiteral("x"), newYork), QByteArray("2026-03-07 09:05:03 +0000: x\n"));
}

TEST(LogFormat, DropsFractionsAndKeepsMessageUnescaped)
{
    const QDateTime when(QDate(2026, 12, 31), QTime(23, 59, 59, 999), QTimeZone::utc());
    EXPECT_EQ(LogFile::formatLine(QString(), when), QByteArray("2026-12-31 23:59:59 +0000: \n"));
    EXPECT_EQ(LogFile::formatLine(QStringLiteral("a\nb"), when), QByteArray("2026-12-31 23:59:59 +0000: a\nb\n"));
}

TEST_F(LogTest, CreatesTheFileWithOneLinePrivateToTheUser)
{
    log(QStringLiteral("App launched"));
    const QByteArray data = contents();
    EXPECT_TRUE(kLine.match(QString::fromUtf8(data).chopped(1)).hasMatch()) << data.constData();
    EXPECT_TRUE(data.endsWith(": App launched\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LogTest, UtcEvenWithALocalZoneSet)
{
    const QByteArray oldTz = qgetenv("TZ");
    qputenv("TZ", "Asia/Kathmandu"); // +05:45: any local rendering would show
    tzset();
    const QDateTime before = QDateTime::currentDateTimeUtc();
    log(QStringLiteral("zone"));
    if (oldTz.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", oldTz);
    tzset();
    const QString line = QString::fromUtf8(contents()).trimmed();
    const QDateTime written = QDateTime::fromString(line.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QDateTime asUtc(written.date(), written.time(), QTimeZone::utc());
    EXPECT_LE(std::llabs(asUtc.secsTo(before)), 2) << line.toStdString();
}

TEST_F(LogTest, AppendsToAnExistingFileAndNeverTruncates)
{
    QByteArray big(256 * 1024, 'x');
    big.append('\n');
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(big);
    }
    ::chmod(QFile::encodeName(path).constData(), 0600);
    log(QStringLiteral("one"));
    log(QStringLiteral("two"));
    const QByteArray data = contents();
    ASSERT_TRUE(data.startsWith(big));
    const QList<QByteArray> lines = data.mid(big.size()).split('\n');
    ASSERT_EQ(lines.size(), 3); // two lines and the empty rest after the last feed
    EXPECT_TRUE(lines[0].endsWith(": one"));
    EXPECT_TRUE(lines[1].endsWith(": two"));
}

TEST_F(LogTest, WritesNonAsciiAsUtf8)
{
    const QString message = QString::fromUtf8("Ça va? Привет, 日本語 🙂");
    log(message);
    EXPECT_TRUE(contents().endsWith(message.toUtf8() + '\n'));
}

TEST_F(LogTest, RefusesToFollowASymlink)
{
    const QString target = dir.filePath(QStringLiteral("victim"));
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("precious\n");
    }
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()), 0);
    log(QStringLiteral("should not land"));
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("precious\n"));
}

TEST_F(LogTest, RefusesADanglingSymlinkWithoutCreatingItsTarget)
{
    const QString target = dir.filePath(QStringLiteral("created-through-link"));
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()), 0);
    log(QStringLiteral("x"));
    EXPECT_FALSE(QFile::exists(target));
}

TEST_F(LogTest, RefusesSomethingThatIsNotARegularFile)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    // Without a reader a plain O_WRONLY open would block forever.
    log(QStringLiteral("nobody reads"));
    // With a reader the open succeeds, and the type check must refuse.
    const int reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    log(QStringLiteral("into a fifo"));
    char buf[64];
    EXPECT_LE(::read(reader, buf, sizeof buf), 0);
    ::close(reader);
}

TEST_F(LogTest, RefusesAFileOwnedBySomeoneElse)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the file to another user";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("theirs\n");
    }
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    ::chmod(QFile::encodeName(path).constData(), 0666);
    log(QStringLiteral("mine"));
    EXPECT_EQ(contents(), QByteArray("theirs\n"));
}

TEST_F(LogTest, AFailedOpenIsSilent)
{
    LogFile::setPathForTesting(dir.filePath(QStringLiteral("no/such/dir/file.log")));
    log(QStringLiteral("lost")); // returns normally
    SUCCEED();
}

TEST_F(LogTest, ConcurrentCallersNeverBreakEachOthersLines)
{
    constexpr int kThreads = 8;
    constexpr int kLines = 200;
    const QString payload(300, QLatin1Char('p'));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &payload] {
            for (int i = 0; i < kLines; ++i)
                log(QStringLiteral("t%1 i%2 ").arg(t).arg(i) + payload);
        });
    for (auto& th : threads)
        th.join();
    const QList<QByteArray> lines = contents().split('\n');
    ASSERT_EQ(lines.size(), kThreads * kLines + 1);
    QSet<QString> seen;
    const QRegularExpression body(QStringLiteral(R"(^t(\d+) i(\d+) p{300}$)"));
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const auto m = kLine.match(QString::fromUtf8(lines[i]));
        ASSERT_TRUE(m.hasMatch()) << lines[i].left(80).constData();
        ASSERT_TRUE(body.match(m.captured(1)).hasMatch()) << lines[i].left(80).constData();
        seen.insert(m.captured(1).left(12));
    }
    EXPECT_EQ(seen.size(), kThreads * kLines);
}

// The commands of tavlo-study-service on a database the service is using:
// what each changes, as the running service sees it, and what each refuses.
#include "ServiceTest.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Ran {
    int exitCode = -1;
    QString said;   // stdout and stderr
};

Ran run(const QStringList& args, const QByteArray& input = {})
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(qEnvironmentVariable("TAVLO_SERVICE_BIN"), args);
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(20000));
    return {p.exitCode(), QString::fromUtf8(p.readAll())};
}

TEST(Commands, AccountsChangeWhileTheServiceRuns)
{
    QTemporaryDir dir;
    const QString db = dir.filePath("study.sqlite");
    StudyService svc({"--db", db});
    ASSERT_TRUE(svc.isRunning());
    const QString second = svc.login(StudyService::secondEmail(), StudyService::secondPassword());
    ASSERT_EQ(svc.send("POST", "/api/reviews", compact({{"card_id", 101}, {"quality", 1}}), second).status, 200);
    const QString demo = svc.login();
    ASSERT_EQ(svc.send("POST", "/api/reviews", compact({{"card_id", 1}, {"quality", 1}}), demo).status, 200);
    const QJsonArray secondCards = svc.state().value("cards").toObject().value(StudyService::secondEmail()).toArray();

    struct Row {
        QStringList args;
        QByteArray input;
        int exitCode;
        QString says;
    };
    const Row rows[] = {
        {{"account", "add", "new@tavlo.app"}, "first-pw\n", 0, "added new@tavlo.app"},
        {{"account", "add", "NEW@tavlo.app"}, "x\n", 1, "exists already"},
        {{"account", "add", "empty@tavlo.app"}, "\n", 1, "empty password"},
        {{"account", "add", "nobody"}, "x\n", 1, "not an e-mail address"},
        {{"account", "passwd", "none@tavlo.app"}, "x\n", 1, "no account none@tavlo.app"},
        {{"account", "passwd", "new@tavlo.app"}, "second-pw\r\n", 0, "changed the password"},
        {{"account", "remove", "demo@tavlo.app"}, "n\n", 1, "nothing removed"},
        {{"account", "remove", "demo@tavlo.app"}, "", 1, "nothing removed"},
        {{"account", "remove", "demo@tavlo.app"}, "y\n", 0, "removed demo@tavlo.app"},
        {{"account", "remove", "demo@tavlo.app", "--yes"}, "", 1, "no account demo@tavlo.app"},
        {{"account", "list"}, "", 0, "second@tavlo.app\nnew@tavlo.app\n"},
        {{"account", "list", "--yes"}, "", 2, "--yes does not go with account list"},
        {{"account", "lost"}, "", 2, "unknown command account lost"},
        {{"account", "add"}, "", 2, "wrong number of arguments"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const Ran ran = run(row.args + QStringList{"--db", db}, row.input);
        EXPECT_EQ(ran.exitCode, row.exitCode) << ran.said.toStdString();
        EXPECT_TRUE(ran.said.contains(row.says)) << ran.said.toStdString();
    }

    // The running service sees every change at once; the other account's data is as it was.
    EXPECT_TRUE(svc.login("new@tavlo.app", "first-pw").isEmpty());
    const QString fresh = svc.login("new@tavlo.app", "second-pw");
    ASSERT_FALSE(fresh.isEmpty());
    EXPECT_EQ(dataArray(svc.send("GET", "/api/trouble-cards", {}, fresh)), QJsonArray());
    EXPECT_TRUE(svc.login().isEmpty());
    EXPECT_EQ(svc.send("GET", "/api/journal", {}, demo).status, 401);
    const QJsonObject state = svc.state();
    EXPECT_EQ(state.value("cards").toObject().keys(), (QStringList{"new@tavlo.app", "second@tavlo.app"}));
    EXPECT_EQ(state.value("cards").toObject().value(StudyService::secondEmail()).toArray(), secondCards);
    EXPECT_EQ(state.value("reviews").toArray().size(), 1);
    EXPECT_EQ(state.value("journal").toObject().value(StudyService::secondEmail()).toArray().size(), 1);

    // Databases that are missing or not ones.
    QFile text(dir.filePath("text.sqlite"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a database");
    text.close();
    for (const QString& file : {dir.filePath("missing.sqlite"), text.fileName()}) {
        const Ran ran = run({"account", "list", "--db", file});
        EXPECT_EQ(ran.exitCode, 1);
        EXPECT_TRUE(ran.said.contains(file)) << ran.said.toStdString();
    }
}

// A backup taken while the service runs is a database the service can run
// on, with what the original held; --backup-dir keeps the newest seven days.
TEST(Commands, BackupsAreWholeDatabases)
{
    QTemporaryDir dir;
    const QString db = dir.filePath("study.sqlite");
    const QString daily = dir.filePath("daily");
    ASSERT_TRUE(QDir().mkpath(daily));
    QStringList old{"notes.txt"};
    for (int day = 1; day <= 9; ++day)
        old.append(QStringLiteral("daily-2026-01-0%1.sqlite").arg(day));
    for (const QString& name : old) {
        QFile f(QDir(daily).filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    StudyService svc({"--db", db, "--backup-dir", daily});
    ASSERT_TRUE(svc.isRunning());
    const QString today = QStringLiteral("daily-%1.sqlite").arg(QDate::currentDate().toString(Qt::ISODate));
    EXPECT_EQ(QDir(daily).entryList(QDir::Files, QDir::Name),
              QStringList(old.mid(4)) << today << "notes.txt");
    const QString demo = svc.login();
    ASSERT_EQ(svc.send("POST", "/api/reviews", compact({{"card_id", 1}, {"quality", 1}}), demo).status, 200);

    const Ran ran = run({"backup", dir.filePath("copies"), "--db", db});
    ASSERT_EQ(ran.exitCode, 0) << ran.said.toStdString();
    const QString copy = ran.said.trimmed();
    EXPECT_EQ(QFile::permissions(copy) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
    StudyService fromCopy({"--db", copy});
    EXPECT_EQ(fromCopy.state(), svc.state());
    StudyService fromDaily({"--db", QDir(daily).filePath(today)});
    EXPECT_EQ(fromDaily.state().value("reviews").toArray().size(), 0);

    for (const QString& target : {db, dir.filePath("missing.sqlite")}) {
        const Ran refused = run({"backup", target, "--db", target == db ? db : target});
        EXPECT_EQ(refused.exitCode, 1) << refused.said.toStdString();
    }
}

// Cards imported while the service runs: good rows in one go, duplicates of
// the file or the deck skipped, bad rows named; an export reads back whole.
TEST(Commands, CardsImportIntoADeckAndExportBack)
{
    QTemporaryDir dir;
    const QString db = dir.filePath("study.sqlite");
    StudyService svc({"--db", db});
    const QString csv = dir.filePath("cards.csv");
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("front,back,notes\nHaus,house,\n\"haus \",House,dup\n\"DER  Apfel (n.)\",apple,\n\"broken,x\nKatze,cat\n");
    file.close();
    const QString second = StudyService::secondEmail();
    const QStringList into{"--account", second, "--deck", "German Basics", "--db", db};
    struct Row {
        QStringList args;
        int exitCode;
        QString says;
    };
    const Row rows[] = {
        {QStringList{"import", csv, "--strict"} + into, 1, "line 5: unbalanced quote"},
        {QStringList{"import", csv} + into, 1, "2 added to German Basics, 2 skipped as duplicates, 1 refused"},
        {QStringList{"import", csv} + into, 1, "0 added to German Basics, 4 skipped as duplicates, 1 refused"},
        {{"import", csv, "--account", "none@tavlo.app", "--deck", "X", "--db", db}, 1, "no account none@tavlo.app"},
        {{"import", dir.filePath("missing.csv"), "--account", second, "--deck", "X", "--db", db}, 1, "cannot read"},
        {{"import", csv, "--account", second, "--db", db}, 2, "import needs --deck"},
        {{"export", "--account", second, "--format", "xml", "--db", db}, 2, "--format is csv or json"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const Ran ran = run(row.args);
        EXPECT_EQ(ran.exitCode, row.exitCode) << ran.said.toStdString();
        EXPECT_TRUE(ran.said.contains(row.says)) << ran.said.toStdString();
    }
    EXPECT_EQ(svc.state().value("cards").toObject().value(second).toArray().size(), 6);

    const Ran exported = run({"export", "--account", second, "--format", "csv", "--db", db});
    ASSERT_EQ(exported.exitCode, 0) << exported.said.toStdString();
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(exported.said.toUtf8());
    file.close();
    const Ran copied = run({"import", csv, "--account", second, "--deck", "Copy", "--db", db});
    EXPECT_EQ(copied.exitCode, 0) << copied.said.toStdString();
    EXPECT_TRUE(copied.said.contains("6 added to Copy, 0 skipped")) << copied.said.toStdString();
    EXPECT_EQ(run({"export", "--account", second, "--format", "csv", "--db", db}).said.count("Copy"), 6);
}

} // namespace

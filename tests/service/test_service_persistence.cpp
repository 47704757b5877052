#include "ServiceTestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

QJsonObject entryBody(const QString& title, const QString& content)
{
    return {{"entry", QJsonObject{{"title", title}, {"content", content}, {"tags", QJsonArray{"kept"}}}}};
}

TEST(Persistence, ARestartLosesNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("nested/folder/data.json");
    StudyService svc({"--data", file});
    ASSERT_TRUE(svc.isRunning());
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_EQ(QFile::permissions(file) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);

    const QString demo = svc.login();
    const QString second = svc.login(StudyService::secondEmail(), StudyService::secondPassword());
    ASSERT_EQ(svc.send("POST", "/api/reviews", compact({{"card_id", 5}, {"quality", 1}}), demo).status, 200);
    ASSERT_EQ(svc.send("POST", "/api/reviews", compact({{"card_id", 101}, {"quality", 4}}), second).status, 200);
    ASSERT_EQ(svc.send("POST", "/api/journal", compact(entryBody("Neu", "ünïcode ✓ 日本")), demo).status, 201);
    ASSERT_EQ(svc.send("PUT", "/api/journal/1", compact(entryBody("Changed", "changed")), demo).status, 200);
    ASSERT_EQ(svc.send("DELETE", "/api/journal/2", {}, demo).status, 200);
    ASSERT_EQ(svc.send("POST", "/api/journal/quick-note", compact({{"text", "note #keep"}}), demo).status, 201);
    ASSERT_EQ(svc.send("POST", "/api/journal", compact(entryBody("Theirs", "x")), second).status, 201);
    const QJsonObject before = svc.state();
    const QByteArray cardsBefore = svc.send("GET", "/api/trouble-cards?limit=1000", {}, demo).body;

    svc.restart();
    ASSERT_TRUE(svc.isRunning());
    EXPECT_EQ(svc.state(), before);

    // Sessions are not kept, the accounts are.
    EXPECT_EQ(svc.send("GET", "/api/journal", {}, demo).status, 401);
    const QString again = svc.login();
    ASSERT_FALSE(again.isEmpty());
    EXPECT_FALSE(svc.login(StudyService::secondEmail(), StudyService::secondPassword()).isEmpty());
    EXPECT_TRUE(svc.login(StudyService::demoEmail(), "wrong").isEmpty());
    EXPECT_EQ(svc.send("GET", "/api/trouble-cards?limit=1000", {}, again).body, cardsBefore);

    // New entries do not reuse ids.
    qint64 maxId = 0;
    for (const QJsonValue& list : before.value("journal").toObject())
        for (const QJsonValue& e : list.toArray())
            maxId = std::max(maxId, e.toObject().value("id").toInteger());
    const auto created = svc.send("POST", "/api/journal", compact(entryBody("After", "restart")), again);
    EXPECT_GT(dataObject(created).value("id").toInteger(), maxId);

    // Only the data file is left behind: no temporary files.
    EXPECT_EQ(QDir(dir.filePath("nested/folder")).entryList(QDir::Files | QDir::Hidden), QStringList{"data.json"});
}

TEST(Persistence, ReseedIsKeptToo)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("data.json");
    StudyService svc({"--data", file});
    const QJsonObject seeded = svc.state();
    const QString t = svc.login();
    ASSERT_EQ(svc.send("DELETE", "/api/journal/1", {}, t).status, 200);
    svc.reseed();
    svc.restart();
    EXPECT_EQ(svc.state(), seeded);
}

TEST(Persistence, AFailedWriteIsReportedNotHidden)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("store");
    StudyService svc({"--data", folder + "/data.json"});
    const QString t = svc.login();
    // Replace the folder by a plain file: no write can succeed now.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    {
        QFile blocker(folder);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    const auto r = svc.send("POST", "/api/journal", compact(entryBody("Lost?", "no")), t);
    EXPECT_EQ(r.status, 503);
    EXPECT_TRUE(isJsonError(r)) << r.body.toStdString();
    EXPECT_EQ(svc.send("POST", "/api/reviews", compact({{"card_id", 1}, {"quality", 4}}), t).status, 503);
    // Reading still works.
    EXPECT_EQ(svc.send("GET", "/api/trouble-cards?limit=3", {}, t).status, 200);
}

struct BadFile {
    const char* name;
    QByteArray content;
};

class UnusableDataFiles : public ::testing::TestWithParam<BadFile> {};

TEST_P(UnusableDataFiles, StopTheServiceAndAreLeftAlone)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("data.json");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(GetParam().content);
    }
    QProcess p;
    p.start(qEnvironmentVariable("TAVLO_SERVICE_BIN"), {"--port", "0", "--quiet", "--data", file});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).contains(file));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), GetParam().content);
}

INSTANTIATE_TEST_SUITE_P(Persistence, UnusableDataFiles,
                         ::testing::Values(BadFile{"NotJson", "{\"format\": \"tavlo-study-service\", "},
                                           BadFile{"SomeoneElsesJson", "{\"hello\": 1}"},
                                           BadFile{"Empty", ""},
                                           BadFile{"NoAccounts", R"({"format": "tavlo-study-service", "version": 1})"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLine, BadArgumentsAreRefused)
{
    const QStringList cases[] = {{"--port", "70000"}, {"--port", "x"}, {"--token-ttl", "0"},
                                 {"--token-ttl", "-5"}, {"stray"}, {"--data", "/proc/none/data.json"}};
    for (const QStringList& args : cases) {
        QProcess p;
        p.start(qEnvironmentVariable("TAVLO_SERVICE_BIN"), args);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_NE(p.exitCode(), 0) << args.join(' ').toStdString();
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty()) << args.join(' ').toStdString();
    }
}

TEST(CommandLine, PrintsExactlyTheListeningLine)
{
    QProcess p;
    p.start(qEnvironmentVariable("TAVLO_SERVICE_BIN"), {"--port", "0"});
    ASSERT_TRUE(p.waitForReadyRead(10000));
    const QString line = QString::fromUtf8(p.readLine());
    EXPECT_TRUE(QRegularExpression("^listening on http://127\\.0\\.0\\.1:[1-9]\\d*/api\\n$").match(line).hasMatch())
        << line.toStdString();
    p.terminate();
    p.waitForFinished(5000);
}

} // namespace

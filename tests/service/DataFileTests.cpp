// The service's data file (--data): what a restart keeps, what a failed write
// says, and the files and arguments it refuses to start with.
#include "ServiceTest.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

QByteArray entryBody(const QString& title, const QString& content)
{
    return compact({{"entry", QJsonObject{{"title", title}, {"content", content}, {"tags", QJsonArray{"kept"}}}}});
}

TEST(DataFile, ARestartLosesNothingNotEvenAReseed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("nested/folder/data.json");
    StudyService svc({"--data", file});
    ASSERT_TRUE(svc.isRunning());
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_EQ(QFile::permissions(file) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
    const QJsonObject seeded = svc.state();

    const QString demo = svc.login();
    const QString second = svc.login(StudyService::secondEmail(), StudyService::secondPassword());
    ASSERT_EQ(svc.send("POST", "/api/reviews", compact({{"card_id", 5}, {"quality", 1}}), demo).status, 200);
    ASSERT_EQ(svc.send("POST", "/api/reviews", compact({{"card_id", 101}, {"quality", 4}}), second).status, 200);
    ASSERT_EQ(svc.send("POST", "/api/journal", entryBody("Neu", "ünïcode ✓ 日本"), demo).status, 201);
    ASSERT_EQ(svc.send("PUT", "/api/journal/1", entryBody("Changed", "changed"), demo).status, 200);
    ASSERT_EQ(svc.send("DELETE", "/api/journal/2", {}, demo).status, 200);
    ASSERT_EQ(svc.send("POST", "/api/journal/quick-note", compact({{"text", "note #keep"}}), demo).status, 201);
    ASSERT_EQ(svc.send("POST", "/api/journal", entryBody("Theirs", "x"), second).status, 201);
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
    const auto created = svc.send("POST", "/api/journal", entryBody("After", "restart"), again);
    EXPECT_GT(dataObject(created).value("id").toInteger(), maxId);
    // Only the data file is left behind: no temporary files.
    EXPECT_EQ(QDir(dir.filePath("nested/folder")).entryList(QDir::Files | QDir::Hidden), QStringList{"data.json"});

    // A reseed is kept too.
    svc.reseed();
    svc.restart();
    EXPECT_EQ(svc.state(), seeded);
}

// The answer to a keyed request is kept in the file: a restarted service still
// honours the key for seven days, and forgets it after that.
TEST(DataFile, KeptAnswersOutliveRestartsForSevenDays)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("data.json");
    StudyService svc({"--data", file});
    const QByteArray review = compact({{"card_id", 5}, {"quality", 1}});
    const auto first = svc.send("POST", "/api/reviews", review, svc.login(), 10000, "kept");
    ASSERT_EQ(first.status, 200);
    const std::pair<int, bool> rows[] = {{0, true}, {7 * 24 - 1, true}, {7 * 24 + 1, false}}; // hours ago, replayed
    int applied = 1;
    for (const auto& [hoursAgo, replayed] : rows) {
        SCOPED_TRACE(hoursAgo);
        svc.stop();
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        QJsonObject doc = QJsonDocument::fromJson(f.readAll()).object();
        f.close();
        QJsonArray kept = doc.value("kept_answers").toArray();
        for (qsizetype i = 0; i < kept.size(); ++i) {
            QJsonObject answer = kept[i].toObject();
            if (answer.value("key") == "kept")
                answer["answered_at"] = QDateTime::currentDateTimeUtc().addSecs(-hoursAgo * 3600).toString(Qt::ISODateWithMs);
            kept[i] = answer;
        }
        doc["kept_answers"] = kept;
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QJsonDocument(doc).toJson());
        f.close();
        svc.restart();
        const QString token = svc.login();
        // Another keyed request first: keeping its answer is when old ones are forgotten.
        ASSERT_EQ(svc.send("POST", "/api/reviews", review, token, 10000, QByteArray::number(hoursAgo)).status, 200);
        const auto again = svc.send("POST", "/api/reviews", review, token, 10000, "kept");
        EXPECT_EQ(again.status, 200);
        EXPECT_EQ(again.body == first.body, replayed);
        applied += replayed ? 1 : 2;
        EXPECT_EQ(svc.state().value("reviews").toArray().size(), applied);
    }
}

TEST(DataFile, AFailedWriteIsReportedNotHidden)
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
    const auto r = svc.send("POST", "/api/journal", entryBody("Lost?", "no"), t);
    EXPECT_EQ(r.status, 503);
    EXPECT_TRUE(isJsonError(r)) << r.body.toStdString();
    EXPECT_EQ(svc.send("POST", "/api/reviews", compact({{"card_id", 1}, {"quality", 4}}), t).status, 503);
    // Reading still works.
    EXPECT_EQ(svc.send("GET", "/api/trouble-cards?limit=3", {}, t).status, 200);
}

// Starts the service with `args`, expects it to stop at once without saying it
// listens, and gives its complaint.
QString refusedStart(const QStringList& args)
{
    SCOPED_TRACE(args.join(' ').toStdString());
    QProcess p;
    p.start(qEnvironmentVariable("TAVLO_SERVICE_BIN"), args);
    EXPECT_TRUE(p.waitForFinished(10000));
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
    return QString::fromUtf8(p.readAllStandardError());
}

TEST(DataFile, UnusableFilesAndBadArgumentsStopTheService)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("data.json");
    for (const QByteArray& content : {QByteArray("{\"format\": \"tavlo-study-service\", "), QByteArray("{\"hello\": 1}"),
                                      QByteArray(), QByteArray(R"({"format": "tavlo-study-service", "version": 1})")}) {
        SCOPED_TRACE(content.toStdString());
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        EXPECT_TRUE(refusedStart({"--port", "0", "--quiet", "--data", file}).contains(file));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), content);
    }
    // Bad arguments stop it as well.
    for (const QStringList& args : {QStringList{"--port", "70000"}, QStringList{"--port", "x"},
                                    QStringList{"--token-ttl", "0"}, QStringList{"--token-ttl", "-5"},
                                    QStringList{"stray"}, QStringList{"--data", "/proc/none/data.json"}})
        refusedStart(args);
}

} // namespace

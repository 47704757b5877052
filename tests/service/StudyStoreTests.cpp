// The service's database (--db, --data): what a restart or a kill keeps, the
// old JSON file it imports once, and the files, arguments and second
// processes it refuses to start with.
#include "ServiceTest.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPasswordDigestor>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

namespace {

QByteArray entryBody(const QString& title, const QString& content)
{
    return compact({{"entry", QJsonObject{{"title", title}, {"content", content}, {"tags", QJsonArray{"kept"}}}}});
}

// Runs `sql` on the database file (the service stopped or not) and gives the
// first column of every row.
QStringList query(const QString& file, const QString& sql)
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test");
        db.setDatabaseName(file);
        EXPECT_TRUE(db.open()) << file.toStdString();
        QSqlQuery q(db);
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
        while (q.next())
            out.append(q.value(0).toString());
    }
    QSqlDatabase::removeDatabase("test");
    return out;
}

TEST(StudyStore, ARestartLosesNothingNotEvenAReseed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("nested/folder/study.sqlite");
    StudyService svc({"--db", file});
    ASSERT_TRUE(svc.isRunning());
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
    // The newest entry is deleted: its id is not given out again.
    const qint64 lastId = dataObject(svc.send("POST", "/api/journal", entryBody("Gone", "x"), demo)).value("id").toInteger();
    ASSERT_EQ(svc.send("DELETE", QStringLiteral("/api/journal/%1").arg(lastId), {}, demo).status, 200);
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
    const auto created = svc.send("POST", "/api/journal", entryBody("After", "restart"), again);
    EXPECT_GT(dataObject(created).value("id").toInteger(), lastId);

    // A reseed is kept too.
    svc.reseed();
    svc.restart();
    EXPECT_EQ(svc.state(), seeded);
    svc.stop();
    EXPECT_EQ(query(file, "PRAGMA integrity_check"), QStringList{"ok"});
    EXPECT_EQ(query(file, "PRAGMA journal_mode"), QStringList{"wal"});
}

// The answer to a keyed request is kept in the database: a restarted service
// still honours the key for seven days, and forgets it after that.
TEST(StudyStore, KeptAnswersOutliveRestartsForSevenDays)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("study.sqlite");
    StudyService svc({"--db", file});
    const QByteArray review = compact({{"card_id", 5}, {"quality", 1}});
    const auto first = svc.send("POST", "/api/reviews", review, svc.login(), 10000, "kept");
    ASSERT_EQ(first.status, 200);
    const std::pair<int, bool> rows[] = {{0, true}, {7 * 24 - 1, true}, {7 * 24 + 1, false}}; // hours ago, replayed
    int applied = 1;
    for (const auto& [hoursAgo, replayed] : rows) {
        SCOPED_TRACE(hoursAgo);
        svc.stop();
        const qint64 at = QDateTime::currentMSecsSinceEpoch() - qint64(hoursAgo) * 3600 * 1000;
        query(file, QStringLiteral("UPDATE kept_answers SET answered_ms = %1 WHERE key = 'kept'").arg(at));
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

// A data file of the JSON era is imported on the first start only, and kept
// beside the database under a new name.
TEST(StudyStore, AJsonDataFileIsImportedOnceAndKept)
{
    QTemporaryDir dir;
    const QByteArray salt = "0123456789abcdef";
    const QByteArray hash = QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, "old-secret", salt, 10000, 32);
    const QJsonObject doc{
        {"format", "tavlo-study-service"}, {"version", 1}, {"next_entry_id", 8},
        {"accounts", QJsonArray{QJsonObject{{"id", 3}, {"email", "old@tavlo.app"},
                                            {"salt", QString::fromLatin1(salt.toBase64())},
                                            {"password_hash", QString::fromLatin1(hash.toBase64())}}}},
        {"cards", QJsonArray{QJsonObject{{"id", 40}, {"owner", "old@tavlo.app"}, {"deck_id", 4}, {"deck_name", "Old"},
                                         {"front", "alt"}, {"back", "old"}, {"trouble_score", 2.5}, {"lapses", 2}}}},
        {"reviews", QJsonArray{QJsonObject{{"account", "old@tavlo.app"}, {"card_id", 40}, {"quality", 1},
                                           {"reviewed_at", "2026-11-01T10:00:00Z"}}}},
        {"journal", QJsonArray{QJsonObject{{"id", 7}, {"owner", "old@tavlo.app"}, {"title", "T"}, {"content", "C"},
                                           {"tags", QJsonArray{"x"}}, {"inserted_at", "2026-11-01T10:00:00Z"},
                                           {"updated_at", "2026-11-01T10:00:00Z"}}}}};
    const QString json = dir.filePath("data.json");
    const QByteArray bytes = QJsonDocument(doc).toJson();
    QFile f(json);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();

    StudyService svc({"--data", json});
    ASSERT_TRUE(svc.isRunning());
    EXPECT_TRUE(svc.login(StudyService::demoEmail(), StudyService::demoPassword()).isEmpty());
    const QString token = svc.login("old@tavlo.app", "old-secret");
    ASSERT_FALSE(token.isEmpty());
    const QJsonObject state = svc.state();
    EXPECT_EQ(state.value("cards").toObject().value("old@tavlo.app").toArray().at(0).toObject().value("front"), "alt");
    EXPECT_EQ(state.value("reviews").toArray().size(), 1);
    EXPECT_EQ(dataArray(svc.send("GET", "/api/journal", {}, token)).at(0).toObject().value("id"), 7);
    ASSERT_EQ(svc.send("DELETE", "/api/journal/7", {}, token).status, 200);

    // Kept, renamed and byte for byte; the next start neither imports it again nor makes another copy.
    svc.restart();
    EXPECT_EQ(svc.send("GET", "/api/journal/7", {}, svc.login("old@tavlo.app", "old-secret")).status, 404);
    EXPECT_EQ(QDir(dir.path()).entryList({"data.json*"}, QDir::Files), QStringList{"data.json.imported"});
    QFile kept(dir.filePath("data.json.imported"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), bytes);
}

// A write that cannot be kept (here: the file size limit, as on a full disk)
// is refused with 503, changes nothing and leaves a sound database.
TEST(StudyStore, AFailedWriteIsReportedAndLeavesTheDatabaseSound)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("study.sqlite");
    const QString real = qEnvironmentVariable("TAVLO_SERVICE_BIN");
    const QString limited = dir.filePath("limited.sh");
    QFile script(limited);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/bash\ntrap '' XFSZ\nulimit -f 1024\nexec \"" + real.toUtf8() + "\" \"$@\"\n");
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    qputenv("TAVLO_SERVICE_BIN", limited.toUtf8());
    StudyService svc({"--db", file});
    qputenv("TAVLO_SERVICE_BIN", real.toUtf8());
    const QString t = svc.login();
    int created = 0;
    StudyService::Response r;
    while (created < 8 && (r = svc.send("POST", "/api/journal", entryBody("Big", QString(300 * 1024, 'x')), t)).status == 201)
        ++created;
    EXPECT_EQ(r.status, 503);
    EXPECT_TRUE(isJsonError(r)) << r.body.toStdString();
    EXPECT_EQ(svc.send("GET", "/api/trouble-cards?limit=3", {}, t).status, 200);
    EXPECT_EQ(svc.send("POST", "/api/journal", entryBody("Small", "fits"), t).status, 201);
    svc.restart();
    EXPECT_EQ(svc.state().value("journal").toObject().value(StudyService::demoEmail()).toArray().size(), 4 + created + 1);
    svc.stop();
    EXPECT_EQ(query(file, "PRAGMA integrity_check"), QStringList{"ok"});
}

// Answers the reviews it was sent as they come back; the service is killed
// while most are still on their way.
TEST(StudyStore, AKillMidStreamLosesNoAnsweredReview)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("study.sqlite");
    QProcess service;
    service.start(qEnvironmentVariable("TAVLO_SERVICE_BIN"), {"--port", "0", "--quiet", "--db", file});
    ASSERT_TRUE(service.waitForReadyRead(10000));
    const QString base = QString::fromUtf8(service.readLine()).trimmed().section(' ', 2);
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    auto request = [&](const QString& path, const QString& token) {
        QNetworkRequest r(QUrl(base + path));
        r.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        if (!token.isEmpty())
            r.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        return r;
    };
    QNetworkReply* login = network.post(request("/auth/login", {}),
                                        compact({{"email", StudyService::demoEmail()}, {"password", StudyService::demoPassword()}}));
    ASSERT_TRUE(waitUntil([&] { return login->isFinished(); }));
    const QString token = QJsonDocument::fromJson(login->readAll()).object()["data"].toObject()["access_token"].toString();
    ASSERT_FALSE(token.isEmpty());

    constexpr int kSent = 400;
    int answered = 0, finished = 0;
    for (int i = 0; i < kSent; ++i) {
        QNetworkReply* reply = network.post(request("/reviews", token), compact({{"card_id", 1 + i % 32}, {"quality", i % 6}}));
        QObject::connect(reply, &QNetworkReply::finished, [&, reply] {
            ++finished;
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200 && ++answered == 60)
                service.kill();
        });
    }
    ASSERT_TRUE(waitUntil([&] { return finished == kSent; }));
    service.waitForFinished();
    EXPECT_LT(answered, kSent);
    EXPECT_EQ(query(file, "PRAGMA integrity_check"), QStringList{"ok"});
    EXPECT_GE(query(file, "SELECT count(*) FROM reviews").value(0).toInt(), answered);
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

QByteArray sqliteFile(const QString& path, const QStringList& statements)
{
    for (const QString& sql : statements)
        query(path, sql);
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(StudyStore, UnusableFilesSecondServicesAndBadArgumentsStopTheService)
{
    QTemporaryDir dir;
    const QString db = dir.filePath("study.sqlite");
    const QString json = dir.filePath("data.json");
    struct Row {
        QString option, file;
        QByteArray content;   // empty: made by `sql`
        QStringList sql;
        QString says;
    };
    const Row rows[] = {
        {"--data", json, "{\"format\": \"tavlo-study-service\", ", {}, "nor valid JSON"},
        {"--data", json, "{\"hello\": 1}", {}, "not a tavlo-study-service data file"},
        {"--data", json, R"({"format": "tavlo-study-service", "version": 1})", {}, "no accounts"},
        {"--db", db, "plain text, not a database", {}, "is not a SQLite database"},
        {"--db", db, {}, {"PRAGMA application_id = 1413568076", "PRAGMA user_version = 99"}, "newer tavlo-study-service"},
        {"--db", db, {}, {"CREATE TABLE other (x)"}, "another program"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.says.toStdString());
        for (const QString& name : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.filePath(name));
        QByteArray content = row.content;
        if (content.isEmpty()) {
            content = sqliteFile(row.file, row.sql);
        } else {
            QFile f(row.file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        const QString said = refusedStart({"--port", "0", "--quiet", row.option, row.file});
        EXPECT_TRUE(said.contains(row.file) && said.contains(row.says)) << said.toStdString();
        QFile f(row.file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), content);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QFileInfo(row.file).fileName()});
    }

    QFile::remove(db);
    StudyService first({"--db", db});
    ASSERT_TRUE(first.isRunning());
    EXPECT_TRUE(refusedStart({"--port", "0", "--db", db}).contains("in use by another tavlo-study-service"));
    EXPECT_FALSE(first.login().isEmpty());

    for (const QStringList& args : {QStringList{"--port", "70000"}, QStringList{"--port", "x"},
                                    QStringList{"--token-ttl", "0"}, QStringList{"--token-ttl", "-5"},
                                    QStringList{"stray"}, QStringList{"--data", "/proc/none/data.json"},
                                    QStringList{"--backup-dir", dir.path()}})
        refusedStart(args);
}

} // namespace

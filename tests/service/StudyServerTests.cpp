// The study service's HTTP API: sign-in, trouble cards, reviews, the journal
// and every request it must refuse.
#include "ServiceTest.h"
#include "TestSupport.h"

#include <QDateTime>

namespace {

using StudyServer = ServiceTest;

QJsonObject entryBody(const QString& title, const QString& content, const QStringList& tags = {})
{
    return {{"entry", QJsonObject{{"title", title}, {"content", content}, {"tags", QJsonArray::fromStringList(tags)}}}};
}

QJsonObject cardById(const QJsonArray& cards, qint64 id)
{
    for (const QJsonValue& v : cards)
        if (v.toObject().value("id").toInteger() == id)
            return v.toObject();
    return {};
}

QJsonObject review(StudyService& svc, const QString& token, qint64 id, int quality)
{
    const auto r = svc.send("POST", "/api/reviews", compact({{"card_id", id}, {"quality", quality}}), token);
    EXPECT_EQ(r.status, 200) << r.body.toStdString();
    return dataObject(r).value("card").toObject();
}

TEST_F(StudyServer, LoginAnswersAFreshTokenAndTheUser)
{
    const auto r = svc().send("POST", "/api/auth/login",
                              compact({{"email", "demo@tavlo.app"}, {"password", "tavlo-demo"}}));
    ASSERT_EQ(r.status, 200);
    const QJsonObject data = dataObject(r);
    EXPECT_GE(data.value("access_token").toString().size(), 40);
    EXPECT_EQ(data.value("user").toObject().value("email").toString(), "demo@tavlo.app");
    EXPECT_TRUE(data.value("user").toObject().value("id").isDouble());
    EXPECT_NE(svc().login(), svc().login());
}

TEST_F(StudyServer, ExpiredAndReseededTokensAreRefused)
{
    const QString second = svc().login(StudyService::secondEmail(), StudyService::secondPassword());
    ASSERT_EQ(get("/api/trouble-cards?limit=1").status, 200);
    svc().expireTokens();
    EXPECT_EQ(get("/api/trouble-cards?limit=1").status, 401);
    EXPECT_EQ(svc().send("GET", "/api/journal", {}, second).status, 401);
    // Signing in again works as before, until a reseed.
    const QString again = svc().login();
    EXPECT_EQ(svc().send("GET", "/api/journal", {}, again).status, 200);
    svc().reseed();
    EXPECT_EQ(svc().send("GET", "/api/journal", {}, again).status, 401);
}

TEST(StudyServerTokens, RunOutAfterTheConfiguredTime)
{
    StudyService shortLived({"--token-ttl", "0.2"});
    ASSERT_TRUE(shortLived.isRunning());
    const QString t = shortLived.login();
    ASSERT_FALSE(t.isEmpty());
    StudyService::Response r;
    EXPECT_TRUE(waitUntil([&] { return (r = shortLived.send("GET", "/api/journal", {}, t)).status == 401; }));
    EXPECT_TRUE(isJsonError(r));
}

TEST_F(StudyServer, RefusesBadSignInsTokensAndRoutes)
{
    const char *login = "/api/auth/login", *cards = "/api/trouble-cards?limit=10";
    expectRefused({
        {"POST", login, R"({"email":"demo@tavlo.app","password":"tavlo-demO"})", 401, Refusal::None},
        {"POST", login, R"({"email":"demo@tavlo.app","password":"tavlo-second"})", 401, Refusal::None},
        {"POST", login, R"({"email":"nobody@tavlo.app","password":"tavlo-demo"})", 401, Refusal::None},
        {"POST", login, R"({"email":"demo@tavlo.app"})", 400, Refusal::None},
        {"POST", login, R"({"email":"demo@tavlo.app","password":12})", 400, Refusal::None},
        {"POST", login, R"({"email":null,"password":"tavlo-demo"})", 400, Refusal::None},
        {"POST", login, R"(["demo@tavlo.app","tavlo-demo"])", 400, Refusal::None},
        {"POST", login, R"({"email":"demo@tavlo.app","password":)", 400, Refusal::None},
        {"GET", cards, {}, 401, Refusal::None}, {"GET", cards, {}, 401, Refusal::Garbage},
        {"GET", cards, {}, 401, Refusal::Stale},
        // The token is checked before the body is read.
        {"POST", "/api/reviews", "not json", 401, Refusal::Garbage},
        {"GET", "/api/decks", {}, 404}, {"GET", "/api", {}, 404}, {"GET", "/trouble-cards", {}, 404},
        {"GET", "/", {}, 404}, {"GET", login, {}, 405}, {"DELETE", "/api/trouble-cards", {}, 405},
        {"GET", "/api/reviews", {}, 405}, {"PATCH", "/api/journal/1", {}, 405}, {"PUT", "/api/journal", {}, 405},
        {"GET", "/api/journal/normalize", {}, 405},
    });
    const auto r = svc().send("DELETE", "/api/journal", {}, token);
    ASSERT_EQ(r.status, 405);
    EXPECT_EQ(headerOf(r, "allow"), "GET, POST");
}

TEST_F(StudyServer, RefusesBadLimitsAndReviews)
{
    std::vector<Refusal> rows;
    for (const char* limit : {"abc", "1.5", "", "10abc", "--1"})
        rows.push_back({"GET", QStringLiteral("/api/trouble-cards?limit=") + limit, {}, 400});
    for (const auto& [body, status] : std::initializer_list<std::pair<const char*, int>>{
             {R"({"card_id": 99999, "quality": 4})", 404}, {R"({"card_id": 101, "quality": 4})", 404},
             {R"({"card_id": "1", "quality": 4})", 400}, {R"({"card_id": 1, "quality": 3.5})", 400},
             {R"({"card_id": 1, "quality": 6})", 400}, {R"({"card_id": 1, "quality": -1})", 400},
             {R"({"quality": 4})", 400}, {R"({"card_id": 1})", 400}, {R"({"card_id": 1, "quality": null})", 400},
             {R"([1, 4])", 400}, {R"(card_id=1&quality=4)", 400}})
        rows.push_back({"POST", "/api/reviews", body, status});
    expectRefused(rows);
}

TEST_F(StudyServer, RefusesBadEntriesNotesAndBodies)
{
    const QString mine =
        QStringLiteral("/api/journal/%1").arg(dataArray(get("/api/journal")).at(0).toObject().value("id").toInteger());
    std::vector<Refusal> rows{{"GET", mine, {}, 404, Refusal::Second},
                              {"PUT", mine, compact(entryBody("mine now", "x")), 404, Refusal::Second},
                              {"DELETE", mine, {}, 404, Refusal::Second},
                              {"POST", "/api/journal", R"({"entry": {"content": "c"}})", 400},
                              {"POST", "/api/journal", R"({"entry": {"title": "t"}})", 400}};
    for (const char* id : {"999999", "0", "-3", "abc", "1/extra"})
        rows.push_back({"GET", QStringLiteral("/api/journal/") + id, {}, 404});
    for (const char* body : {R"({"title": "t", "content": "c"})", R"({"entry": "t"})", "",
                             R"({"entry": {"title": 5, "content": "c"}})", R"({"entry": {"title": "t", "content": ["c"]}})",
                             R"({"entry": {"title": "t", "content": "c", "tags": "a,b"}})", R"({"entry": {"title": "t",)",
                             R"({"entry": {"title": "t", "content": "c", "tags": ["a", 1]}})"}) {
        rows.push_back({"POST", "/api/journal", body, 400});
        rows.push_back({"PUT", mine, body, 400});
    }
    for (const char* path : {"/api/journal/normalize", "/api/journal/quick-note"})
        for (const char* body : {R"({"text": "  \n\t "})", R"({"text": 3})", "{}", R"({"note": "x"})", "x"})
            rows.push_back({"POST", path, body, 400});
    QByteArray binary;
    for (int i = 0; i < 256; ++i)
        binary.append(char(i));
    for (const QByteArray& body :
         {binary, QByteArray(5000, '['), QByteArray("\xff\xfe{}"), QByteArray("null"), QByteArray("42")})
        rows.push_back({"POST", "/api/journal/normalize", body, 400});
    // Bodies over one mebibyte.
    const QString big(1024 * 1024 + 10, QLatin1Char('a'));
    for (const char* path : {"/api/journal", "/api/journal/quick-note", "/api/auth/login", "/api/reviews"})
        rows.push_back({"POST", path, compact({{"entry", QJsonObject{{"title", "t"}, {"content", big}}}, {"text", big}}), 413});
    expectRefused(rows);
}

TEST_F(StudyServer, TroubleCardsAnswerAtMostLimitCards)
{
    // Outside 0..1000 the limit is clamped: still a list.
    const std::pair<const char*, int> limits[] = {
        {"?limit=0", 0},     {"?limit=1", 1},    {"?limit=5", 5},     {"?limit=10", 10},
        {"", 10},            {"?limit=1000", 32}, {"?limit=1001", 32}, {"?limit=99999999999999999999", 32},
        {"?limit=-1", 0},    {"?limit=-99999999999999999999", 0}};
    for (const auto& [query, count] : limits) {
        const auto r = get(QStringLiteral("/api/trouble-cards") + query);
        EXPECT_EQ(r.status, 200) << query;
        EXPECT_EQ(dataArray(r).size(), count) << query;
    }
}

TEST_F(StudyServer, EachAccountSeesOnlyItsOwnCardsAndEntries)
{
    const QString second = svc().login(StudyService::secondEmail(), StudyService::secondPassword());
    const QJsonArray theirs = dataArray(svc().send("GET", "/api/trouble-cards?limit=1000", {}, second));
    ASSERT_FALSE(theirs.isEmpty());
    const QJsonArray mine = dataArray(get("/api/trouble-cards?limit=1000"));
    for (const QJsonValue& v : theirs)
        EXPECT_TRUE(cardById(mine, v.toObject().value("id").toInteger()).isEmpty());

    const QJsonValue myEntry = dataArray(get("/api/journal")).at(0).toObject().value("id");
    for (const QJsonValue& v : dataArray(svc().send("GET", "/api/journal", {}, second)))
        EXPECT_NE(v.toObject().value("id"), myEntry);
    const auto written = svc().send("POST", "/api/journal", compact(entryBody("Artikel", "der die das")), second);
    ASSERT_EQ(written.status, 201);
    for (const QJsonValue& v : dataArray(get("/api/journal")))
        EXPECT_NE(v.toObject().value("id"), dataObject(written).value("id"));
}

TEST_F(StudyServer, AWrongAnswerResetsTheCardAndRaisesItsScore)
{
    const QJsonObject top = dataArray(get("/api/trouble-cards?limit=1")).at(0).toObject();
    const QJsonObject fifth = dataArray(get("/api/trouble-cards?limit=5")).at(4).toObject();
    const QJsonObject after = review(svc(), token, fifth.value("id").toInteger(), 1);
    const QJsonObject r = after.value("review").toObject();
    EXPECT_EQ(r.value("repetitions").toInt(), 0);
    EXPECT_EQ(r.value("interval").toInt(), 1);
    EXPECT_LT(r.value("ease_factor").toDouble(), fifth.value("review").toObject().value("ease_factor").toDouble());
    EXPECT_GE(r.value("ease_factor").toDouble(), 1.3);
    EXPECT_GT(after.value("trouble_score").toDouble(), top.value("trouble_score").toDouble());
    const QDateTime due = QDateTime::fromString(r.value("due_date").toString(), Qt::ISODate);
    EXPECT_GT(due, QDateTime::currentDateTimeUtc().addSecs(23 * 3600));
    EXPECT_LT(due, QDateTime::currentDateTimeUtc().addSecs(25 * 3600));
    // It now leads the trouble list.
    EXPECT_EQ(dataArray(get("/api/trouble-cards?limit=1")).at(0).toObject().value("id"), fifth.value("id"));
}

TEST_F(StudyServer, GoodAnswersGrowTheIntervalTheSm2Way)
{
    qint64 id = 0;  // a card that was never reviewed
    for (const QJsonValue& v : dataArray(get("/api/trouble-cards?limit=1000")))
        if (v.toObject().value("review").isNull())
            id = v.toObject().value("id").toInteger();
    ASSERT_NE(id, 0);
    struct Step { int quality, repetitions, interval; double ease; };
    // Ease 2.5 stays with 4, grows by 0.1 with 5, falls by 0.14 with 3.
    const Step steps[] = {{4, 1, 1, 2.5}, {4, 2, 6, 2.5}, {5, 3, 15, 2.6}, {3, 4, 39, 2.46}};
    double score = 1e9;
    for (const Step& s : steps) {
        const QJsonObject card = review(svc(), token, id, s.quality);
        const QJsonObject r = card.value("review").toObject();
        EXPECT_EQ(r.value("repetitions").toInt(), s.repetitions) << s.quality;
        EXPECT_EQ(r.value("interval").toInt(), s.interval) << s.quality;
        EXPECT_NEAR(r.value("ease_factor").toDouble(), s.ease, 1e-9) << s.quality;
        EXPECT_LT(card.value("trouble_score").toDouble(), score);
        score = card.value("trouble_score").toDouble();
        const QDateTime due = QDateTime::fromString(r.value("due_date").toString(), Qt::ISODate);
        EXPECT_LT(qAbs(QDateTime::currentDateTimeUtc().addDays(s.interval).secsTo(due)), 120);
    }
}

TEST_F(StudyServer, ReviewsAreRecordedAndGoodCardsLeaveTheTroubleList)
{
    review(svc(), token, 3, 4);
    review(svc(), token, 7, 1);
    const QJsonArray reviews = svc().state().value("reviews").toArray();
    ASSERT_EQ(reviews.size(), 2);
    EXPECT_EQ(reviews[0].toObject(), (QJsonObject{{"account", "demo@tavlo.app"}, {"card_id", 3}, {"quality", 4}}));
    EXPECT_EQ(reviews[1].toObject(), (QJsonObject{{"account", "demo@tavlo.app"}, {"card_id", 7}, {"quality", 1}}));

    const qint64 id = dataArray(get("/api/trouble-cards?limit=1")).at(0).toObject().value("id").toInteger();
    for (int i = 0; i < 12; ++i)
        review(svc(), token, id, 5);
    EXPECT_TRUE(cardById(dataArray(get("/api/trouble-cards?limit=1000")), id).isEmpty());
}

// A wrong answer's weight halves in 30 days; a run of four right answers
// clears a card however high its score, and a wrong one brings it back.
TEST_F(StudyServer, WrongAnswersFadeAndARunOfRightAnswersClearsTheCard)
{
    const double lapsed = review(svc(), token, 5, 1).value("trouble_score").toDouble();
    ASSERT_EQ(svc().send("POST", "/control/clock", compact({{"days", 30}})).status, 200);
    EXPECT_NEAR(cardById(dataArray(get("/api/trouble-cards?limit=1000")), 5).value("trouble_score").toDouble(),
                lapsed / 2, 0.01);
    const std::pair<int, bool> rows[] = {{4, true}, {3, true}, {5, true}, {4, false}, {0, true}, {5, true}};
    for (const auto& [quality, listed] : rows) {
        SCOPED_TRACE(quality);
        review(svc(), token, 5, quality);
        EXPECT_EQ(cardById(dataArray(get("/api/trouble-cards?limit=1000")), 5).isEmpty(), !listed);
    }
}

// A resend with the key of an earlier request gets that request's answer and
// changes nothing; a key names one request of one account.
TEST_F(StudyServer, AKeyedPostIsAppliedOnceAndAnsweredAlike)
{
    const QString second = svc().login(StudyService::secondEmail(), StudyService::secondPassword());
    const auto send = [&](const char* path, const QJsonObject& body, const QByteArray& key, const QString& as) {
        return svc().send("POST", path, compact(body), as, 10000, key);
    };
    const QJsonObject review{{"card_id", 5}, {"quality", 1}}, note{{"text", "keyed note"}};
    const struct {
        const char* path;
        QJsonObject body;
        QByteArray key;
        bool asSecond;
        int status;
        bool replayed;
    } rows[] = {
        {"/api/reviews", review, "k1", false, 200, false},
        {"/api/reviews", review, "k1", false, 200, true},
        {"/api/reviews", review, " k1 ", false, 200, true},
        {"/api/reviews", {{"card_id", 6}, {"quality", 1}}, "k1", false, 422, false}, // the key of another request
        {"/api/reviews", {{"card_id", 101}, {"quality", 1}}, "k1", true, 200, false}, // another account's key
        {"/api/reviews", review, QByteArray(256, 'k'), false, 400, false},
        {"/api/journal/quick-note", note, "k2", false, 201, false},
        {"/api/journal/quick-note", note, "k2", false, 201, true},
        {"/api/journal/normalize", note, "k2", false, 200, false}, // changes nothing: never kept
    };
    QByteArray previous;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.path) + " " + row.key.left(10).toStdString());
        const auto r = send(row.path, row.body, row.key, row.asSecond ? second : token);
        EXPECT_EQ(r.status, row.status) << r.body.toStdString();
        EXPECT_EQ(headerOf(r, "idempotent-replayed") == "true", row.replayed);
        EXPECT_TRUE(!row.replayed || r.body == previous) << r.body.toStdString();
        previous = r.body;
    }
    EXPECT_EQ(svc().state().value("reviews").toArray().size(), 2);
    EXPECT_EQ(dataArray(get("/api/journal")).size(), 5); // four seeded, one note
}

TEST_F(StudyServer, JournalCreateReadUpdateDelete)
{
    const auto created = post("/api/journal", entryBody("Verbos", "*ir*: to go; **ser**: to be", {"spanish", "verbs"}));
    ASSERT_EQ(created.status, 201) << created.body.toStdString();
    const QJsonObject e = dataObject(created);
    const QString path = QStringLiteral("/api/journal/%1").arg(e.value("id").toInteger());
    EXPECT_EQ(e.value("title").toString(), "Verbos");
    EXPECT_EQ(e.value("content").toString(), "*ir*: to go; **ser**: to be");
    EXPECT_EQ(e.value("tags").toArray(), (QJsonArray{"spanish", "verbs"}));
    const QDateTime inserted = QDateTime::fromString(e.value("inserted_at").toString(), Qt::ISODate);
    EXPECT_LT(qAbs(inserted.secsTo(QDateTime::currentDateTimeUtc())), 60);
    // The newest entry leads the list.
    EXPECT_EQ(dataArray(get("/api/journal")).at(0).toObject(), e);
    EXPECT_EQ(dataObject(get(path)), e);

    const auto updated = svc().send("PUT", path, compact(entryBody("Verbos irregulares", "ir, ser")), token);
    ASSERT_EQ(updated.status, 200) << updated.body.toStdString();
    const QJsonObject u = dataObject(updated);
    EXPECT_EQ(u.value("id"), e.value("id"));
    EXPECT_EQ(u.value("title").toString(), "Verbos irregulares");
    EXPECT_EQ(u.value("content").toString(), "ir, ser");
    EXPECT_EQ(u.value("tags").toArray(), QJsonArray());
    EXPECT_EQ(u.value("inserted_at"), e.value("inserted_at"));
    EXPECT_GE(QDateTime::fromString(u.value("updated_at").toString(), Qt::ISODate), inserted);
    EXPECT_EQ(dataArray(get("/api/journal")).at(0).toObject(), u);

    EXPECT_EQ(svc().send("DELETE", path, {}, token).status, 200);
    EXPECT_EQ(get(path).status, 404);
    EXPECT_EQ(svc().send("DELETE", path, {}, token).status, 404);
    for (const QJsonValue& v : dataArray(get("/api/journal")))
        EXPECT_NE(v.toObject().value("id"), e.value("id"));
}

TEST_F(StudyServer, JournalKeepsTextExactly)
{
    const auto bare = post("/api/journal", {{"entry", QJsonObject{{"title", ""}, {"content", "x"}}}});
    ASSERT_EQ(bare.status, 201);
    EXPECT_EQ(dataObject(bare).value("tags").toArray(), QJsonArray());
    EXPECT_EQ(dataObject(bare).value("title").toString(), "");

    const QString content = QStringLiteral("  Привет, 世界! café\n\n- ñ  ");
    const auto r = post("/api/journal", entryBody(QStringLiteral(" Ünïcödé "), content, {QStringLiteral("русский")}));
    ASSERT_EQ(r.status, 201);
    EXPECT_EQ(dataObject(r).value("content").toString(), content);
    EXPECT_EQ(dataObject(r).value("title").toString(), QStringLiteral(" Ünïcödé "));
    EXPECT_EQ(dataObject(r).value("tags").toArray(), QJsonArray{QStringLiteral("русский")});

    // Just under the body limit is fine.
    EXPECT_EQ(post("/api/journal", entryBody("t", QString(1000 * 1000, QLatin1Char('b')))).status, 201);
}

} // namespace

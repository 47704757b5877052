#include "ServiceTestSupport.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>

namespace {

using Faults = ServiceTest;

QByteArray headerOf(const StudyService::Response& r, const QByteArray& name)
{
    for (const auto& h : r.headers)
        if (h.first == name)
            return h.second;
    return {};
}

TEST_F(Faults, StatusAnswersWithoutRunningTheHandler)
{
    svc().fault({{"mode", "status"}, {"path", "/api/journal"}});
    const QJsonObject before = svc().state();
    const auto r = post("/api/journal", {{"entry", QJsonObject{{"title", "t"}, {"content", "c"}}}});
    EXPECT_EQ(r.status, 500);
    EXPECT_TRUE(isJsonError(r)) << r.body.toStdString();
    EXPECT_EQ(svc().state(), before);
    // Used up: the next call is handled.
    EXPECT_EQ(post("/api/journal", {{"entry", QJsonObject{{"title", "t"}, {"content", "c"}}}}).status, 201);
}

TEST_F(Faults, StatusWithOwnStatusAndBody)
{
    svc().fault({{"mode", "status"}, {"status", 503}, {"body", "oops"}});
    const auto r = get("/api/trouble-cards?limit=10");
    EXPECT_EQ(r.status, 503);
    EXPECT_EQ(r.body, "oops");

    svc().fault({{"mode", "status"}, {"status", 204}, {"body", ""}});
    const auto empty = svc().send("DELETE", "/api/journal/1", {}, token);
    EXPECT_EQ(empty.status, 204);
    EXPECT_TRUE(empty.body.isEmpty());
    EXPECT_EQ(dataArray(get("/api/journal")).size(), 4);  // nothing was deleted
}

TEST_F(Faults, BodyAnswersExactlyTheGivenBytes)
{
    const QString body = QStringLiteral("{\"data\": [{\"id\": 1, \"front\": \"ß\"}], \"extra\": 1}");
    svc().fault({{"mode", "body"}, {"body", body}});
    const auto r = get("/api/trouble-cards?limit=10");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, body.toUtf8());
    EXPECT_EQ(headerOf(r, "content-type"), "application/json");

    svc().fault({{"mode", "body"}, {"status", 201}, {"body", "plain words"}, {"contentType", "text/plain"}});
    const auto plain = get("/api/journal");
    EXPECT_EQ(plain.status, 201);
    EXPECT_EQ(plain.body, "plain words");
    EXPECT_EQ(headerOf(plain, "content-type"), "text/plain");
}

TEST_F(Faults, MalformedIsTruncatedJson)
{
    svc().fault({{"mode", "malformed"}});
    const auto r = get("/api/journal");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "{\"data\": [");
}

TEST_F(Faults, OversizedSendsTheRequestedNumberOfBytes)
{
    svc().fault({{"mode", "oversized"}, {"bytes", 4096}});
    const auto small = get("/api/trouble-cards?limit=10");
    EXPECT_EQ(small.status, 200);
    EXPECT_EQ(small.body.size(), 4096);
    EXPECT_TRUE(small.body.startsWith("{\"data\": ["));

    svc().fault({{"mode", "oversized"}});
    const auto big = get("/api/trouble-cards?limit=10");
    EXPECT_EQ(big.status, 200);
    EXPECT_EQ(big.body.size(), 20 * 1024 * 1024);
}

TEST_F(Faults, DropClosesTheConnectionWithoutAnAnswer)
{
    // Qt's HTTP client quietly resends a request once when a kept-alive
    // connection closes before any answer, so the drop must cover the resend.
    svc().fault({{"mode", "drop"}, {"count", 2}, {"path", "/api/trouble-cards"}});
    const auto r = get("/api/trouble-cards?limit=10");
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.error.isEmpty());
    // The service itself is fine.
    svc().reset();
    EXPECT_EQ(get("/api/trouble-cards?limit=10").status, 200);
}

TEST_F(Faults, DelayHoldsOneRequestWhileOthersAreAnswered)
{
    svc().reset();
    svc().fault({{"mode", "delay"}, {"delayMs", 1500}, {"path", "/api/trouble-cards"}});
    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(svc().baseURL() + "/trouble-cards?limit=3"));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    QNetworkReply* slow = nam.get(request);

    // Wait until the slow request has reached the service, then ask others.
    for (int i = 0; i < 200 && svc().requests().isEmpty(); ++i) {
        QEventLoop spin;
        QTimer::singleShot(10, &spin, &QEventLoop::quit);
        spin.exec();
    }
    ASSERT_EQ(svc().requests().size(), 1);
    EXPECT_EQ(get("/api/journal").status, 200);
    EXPECT_EQ(svc().login().isEmpty(), false);
    EXPECT_FALSE(slow->isFinished());

    QEventLoop loop;
    QObject::connect(slow, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!slow->isFinished())
        loop.exec();
    EXPECT_EQ(slow->error(), QNetworkReply::NoError);
    EXPECT_EQ(slow->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    EXPECT_EQ(QJsonDocument::fromJson(slow->readAll()).object().value("data").toArray().size(), 3);
    delete slow;
}

TEST_F(Faults, AClientThatGivesUpDuringADelayDoesNotHurtTheService)
{
    svc().fault({{"mode", "delay"}, {"delayMs", 300}});
    const auto r = svc().send("GET", "/api/journal", {}, token, 50);
    EXPECT_EQ(r.status, 0);
    QEventLoop spin;
    QTimer::singleShot(400, &spin, &QEventLoop::quit);
    spin.exec();
    EXPECT_EQ(get("/api/journal").status, 200);
}

TEST_F(Faults, PathCountAndQueueOrder)
{
    svc().fault({{"mode", "status"}, {"status", 502}, {"path", "/api/journal"}, {"count", 2}});
    svc().fault({{"mode", "status"}, {"status", 418}});
    // Matches on the path with its query, as a prefix.
    svc().fault({{"mode", "status"}, {"status", 409}, {"path", "/api/trouble-cards?limit=7"}});

    EXPECT_EQ(get("/api/trouble-cards?limit=7").status, 418);   // first matching fault
    EXPECT_EQ(get("/api/journal").status, 502);
    EXPECT_EQ(get("/api/journal/1").status, 502);
    EXPECT_EQ(get("/api/journal").status, 200);
    EXPECT_EQ(get("/api/trouble-cards?limit=5").status, 200);
    EXPECT_EQ(get("/api/trouble-cards?limit=70").status, 409);
    EXPECT_EQ(get("/api/trouble-cards?limit=7").status, 200);
}

TEST_F(Faults, LoginCanBeFaultedToo)
{
    svc().fault({{"mode", "status"}, {"status", 201}, {"path", "/api/auth/login"}});
    const auto r = svc().send("POST", "/api/auth/login",
                              compact({{"email", "demo@tavlo.app"}, {"password", "tavlo-demo"}}));
    EXPECT_EQ(r.status, 201);
    EXPECT_TRUE(dataObject(r).value("access_token").isUndefined());
}

TEST_F(Faults, ResetClearsFaultsAndRecordedRequests)
{
    svc().fault({{"mode", "status"}, {"count", 5}});
    get("/api/journal");
    svc().reset();
    EXPECT_TRUE(svc().requests().isEmpty());
    EXPECT_EQ(get("/api/journal").status, 200);
}

TEST_F(Faults, RequestsAreRecordedInArrivalOrderWithLowerCaseHeaders)
{
    svc().reset();
    svc().fault({{"mode", "drop"}, {"path", "/api/journal/normalize"}, {"count", 2}});
    get("/api/trouble-cards?limit=10");
    post("/api/reviews", {{"card_id", 1}, {"quality", 3}});
    svc().send("POST", "/api/journal/normalize", R"({"text":"é"})", token);
    svc().send("DELETE", "/api/journal/2", {}, token);
    svc().send("GET", "/elsewhere");

    const QJsonArray recorded = svc().requests();
    ASSERT_GE(recorded.size(), 4);
    const QJsonObject first = recorded[0].toObject();
    EXPECT_EQ(first.value("method").toString(), "GET");
    EXPECT_EQ(first.value("path").toString(), "/api/trouble-cards?limit=10");
    EXPECT_EQ(first.value("body").toString(), "");
    const QJsonObject headers = first.value("headers").toObject();
    EXPECT_EQ(headers.value("authorization").toString(), "Bearer " + token);
    EXPECT_EQ(headers.value("content-type").toString(), "application/json");
    for (const QString& key : headers.keys())
        EXPECT_EQ(key, key.toLower());

    const QJsonObject second = recorded[1].toObject();
    EXPECT_EQ(second.value("method").toString(), "POST");
    EXPECT_EQ(second.value("path").toString(), "/api/reviews");
    EXPECT_EQ(QJsonDocument::fromJson(second.value("body").toString().toUtf8()).object(),
              (QJsonObject{{"card_id", 1}, {"quality", 3}}));

    // The dropped request is there (with the client's resends), then the delete.
    int normalizeCount = 0;
    for (const QJsonValue& v : recorded)
        if (v.toObject().value("path") == QStringLiteral("/api/journal/normalize")) {
            ++normalizeCount;
            EXPECT_EQ(v.toObject().value("body").toString(), QStringLiteral("{\"text\":\"é\"}"));
        }
    EXPECT_GE(normalizeCount, 1);
    EXPECT_EQ(recorded.last().toObject().value("method").toString(), "DELETE");
    EXPECT_EQ(recorded.last().toObject().value("path").toString(), "/api/journal/2");
    // Control calls and paths outside /api are not recorded.
    for (const QJsonValue& v : recorded)
        EXPECT_TRUE(v.toObject().value("path").toString().startsWith("/api/"));
}

struct BadFault {
    const char* name;
    QByteArray body;
};

class BadFaults : public ServiceTest, public ::testing::WithParamInterface<BadFault> {};

TEST_P(BadFaults, AreRefused)
{
    const auto r = svc().send("POST", "/control/fault", GetParam().body);
    EXPECT_EQ(r.status, 400) << r.body.toStdString();
    EXPECT_TRUE(isJsonError(r));
    EXPECT_EQ(get("/api/journal").status, 200);  // nothing was queued
}

INSTANTIATE_TEST_SUITE_P(
    Control, BadFaults,
    ::testing::Values(BadFault{"UnknownMode", R"({"mode": "explode"})"}, BadFault{"NoMode", R"({"count": 1})"},
                      BadFault{"ZeroCount", R"({"mode": "status", "count": 0})"},
                      BadFault{"StatusText", R"({"mode": "status", "status": "500"})"},
                      BadFault{"StatusOutOfRange", R"({"mode": "status", "status": 999})"},
                      BadFault{"NegativeDelay", R"({"mode": "delay", "delayMs": -5})"},
                      BadFault{"PathNumber", R"({"mode": "drop", "path": 3})"},
                      BadFault{"BodyObject", R"({"mode": "body", "body": {"data": []}})"},
                      BadFault{"NotJson", R"(mode=drop)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Faults, ControlEndpointsAnswerJsonAndCheckTheirMethod)
{
    for (const char* path : {"/control/reset", "/control/reseed", "/control/fault", "/control/expire-tokens"}) {
        const auto r = svc().send("GET", QString::fromLatin1(path));
        EXPECT_EQ(r.status, 405) << path;
        EXPECT_TRUE(isJsonError(r));
    }
    EXPECT_EQ(svc().send("POST", "/control/requests").status, 405);
    EXPECT_EQ(svc().send("GET", "/control/nothing").status, 404);
    const auto state = svc().send("GET", "/control/state");
    EXPECT_EQ(state.status, 200);
    const QJsonObject data = dataObject(state);
    EXPECT_TRUE(data.value("reviews").isArray());
    EXPECT_TRUE(data.value("journal").toObject().value("second@tavlo.app").isArray());
    EXPECT_TRUE(data.value("cards").toObject().value("demo@tavlo.app").isArray());
}

} // namespace

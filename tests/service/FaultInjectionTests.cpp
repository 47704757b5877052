// The /control endpoints the client tests lean on: what a queued fault does to
// the requests it matches and to the others, and what /control refuses. What
// each mode answers is pinned by the client tests that rely on it.
#include "ServiceTest.h"
#include "TestSupport.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>

namespace {

using FaultInjection = ServiceTest;

TEST_F(FaultInjection, StatusAnswersWithoutRunningTheHandler)
{
    const QJsonObject entry{{"entry", QJsonObject{{"title", "t"}, {"content", "c"}}}};
    svc().fault({{"mode", "status"}, {"path", "/api/journal"}});
    const QJsonObject before = svc().state();
    const auto r = post("/api/journal", entry);
    EXPECT_EQ(r.status, 500);
    EXPECT_TRUE(isJsonError(r)) << r.body.toStdString();
    EXPECT_EQ(svc().state(), before);
    // Used up: the next call is handled.
    EXPECT_EQ(post("/api/journal", entry).status, 201);
}

TEST_F(FaultInjection, DelayHoldsOneRequestWhileOthersAreAnswered)
{
    svc().reset();
    svc().fault({{"mode", "delay"}, {"delayMs", 1500}, {"path", "/api/trouble-cards"}});
    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(svc().baseURL() + "/trouble-cards?limit=3"));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    std::unique_ptr<QNetworkReply> slow(nam.get(request));
    // Once the slow request has reached the service, ask others.
    ASSERT_TRUE(waitUntil([&] { return !svc().requests().isEmpty(); }, 2000));
    ASSERT_EQ(svc().requests().size(), 1);
    EXPECT_EQ(get("/api/journal").status, 200);
    EXPECT_EQ(svc().login().isEmpty(), false);
    EXPECT_FALSE(slow->isFinished());

    ASSERT_TRUE(waitUntil([&] { return slow->isFinished(); }));
    EXPECT_EQ(slow->error(), QNetworkReply::NoError);
    EXPECT_EQ(slow->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    EXPECT_EQ(QJsonDocument::fromJson(slow->readAll()).object().value("data").toArray().size(), 3);

    // A client that gives up during a delay does not hurt the service.
    svc().fault({{"mode", "delay"}, {"delayMs", 300}, {"count", 2}});
    EXPECT_EQ(svc().send("GET", "/api/journal", {}, token, 50).status, 0);
    // The second delayed request is answered after the abandoned one is due.
    EXPECT_EQ(get("/api/journal").status, 200);
    EXPECT_EQ(get("/api/journal").status, 200);
}

TEST_F(FaultInjection, PathCountAndQueueOrder)
{
    svc().fault({{"mode", "status"}, {"status", 502}, {"path", "/api/journal"}, {"count", 2}});
    svc().fault({{"mode", "status"}, {"status", 418}});
    // Matches on the path with its query, as a prefix.
    svc().fault({{"mode", "status"}, {"status", 409}, {"path", "/api/trouble-cards?limit=7"}});
    EXPECT_EQ(get("/api/trouble-cards?limit=7").status, 418);  // first matching fault
    EXPECT_EQ(get("/api/journal").status, 502);
    EXPECT_EQ(get("/api/journal/1").status, 502);
    EXPECT_EQ(get("/api/journal").status, 200);
    EXPECT_EQ(get("/api/trouble-cards?limit=5").status, 200);
    EXPECT_EQ(get("/api/trouble-cards?limit=70").status, 409);
    EXPECT_EQ(get("/api/trouble-cards?limit=7").status, 200);
}

TEST_F(FaultInjection, ResetClearsFaultsAndRecordedRequests)
{
    svc().fault({{"mode", "status"}, {"count", 5}});
    get("/api/journal");
    svc().reset();
    EXPECT_TRUE(svc().requests().isEmpty());
    EXPECT_EQ(get("/api/journal").status, 200);
}

TEST_F(FaultInjection, ControlRefusesBadFaultsAndWrongMethods)
{
    std::vector<Refusal> rows;
    for (const char* body : {R"({"mode": "explode"})", R"({"count": 1})", R"({"mode": "status", "count": 0})",
                             R"({"mode": "status", "status": "500"})", R"({"mode": "status", "status": 999})",
                             R"({"mode": "delay", "delayMs": -5})", R"({"mode": "drop", "path": 3})",
                             R"({"mode": "body", "body": {"data": []}})", "mode=drop"})
        rows.push_back({"POST", "/control/fault", body, 400, Refusal::None});
    for (const char* path : {"/control/reset", "/control/reseed", "/control/fault", "/control/expire-tokens"})
        rows.push_back({"GET", path, {}, 405, Refusal::None});
    rows.push_back({"POST", "/control/requests", {}, 405, Refusal::None});
    rows.push_back({"GET", "/control/nothing", {}, 404, Refusal::None});
    expectRefused(rows);
}

// Recording (passwords and tokens included) and the control endpoints are for
// tests only: a service started without --test-control has neither.
TEST(TestControl, IsOffWithoutItsFlag)
{
    StudyService plain({}, false);
    ASSERT_TRUE(plain.isRunning());
    EXPECT_FALSE(plain.login().isEmpty());
    for (const auto& [method, path] : {std::pair("GET", "/control/requests"), std::pair("GET", "/control/state"),
                                       std::pair("POST", "/control/reseed"), std::pair("POST", "/control/fault")}) {
        const auto r = plain.send(method, path, R"({"mode": "drop"})");
        EXPECT_EQ(r.status, 404) << path;
        EXPECT_FALSE(r.body.contains("tavlo-demo")) << path;
    }
    EXPECT_EQ(plain.send("GET", "/api/trouble-cards", {}, plain.login()).status, 200); // no fault was queued
}

} // namespace

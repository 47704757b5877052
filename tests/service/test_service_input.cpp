#include "ServiceTestSupport.h"

namespace {

using BadInput = ServiceTest;

QByteArray contentType(const StudyService::Response& r)
{
    for (const auto& h : r.headers)
        if (h.first == "content-type")
            return h.second;
    return {};
}

struct Case {
    const char* name;
    const char* method;
    const char* path;
    int status;
};

class Routing : public ServiceTest, public ::testing::WithParamInterface<Case> {};

TEST_P(Routing, UnknownPathsAndMethodsGetJsonErrors)
{
    const auto r = svc().send(GetParam().method, QString::fromLatin1(GetParam().path), {}, token);
    EXPECT_EQ(r.status, GetParam().status) << r.body.toStdString();
    EXPECT_TRUE(isJsonError(r)) << r.body.toStdString();
    EXPECT_EQ(contentType(r), "application/json");
}

INSTANTIATE_TEST_SUITE_P(
    Service, Routing,
    ::testing::Values(Case{"UnknownApiPath", "GET", "/api/decks", 404}, Case{"ApiRoot", "GET", "/api", 404},
                      Case{"OutsideApi", "GET", "/trouble-cards", 404}, Case{"Root", "GET", "/", 404},
                      Case{"LoginByGet", "GET", "/api/auth/login", 405},
                      Case{"DeleteCards", "DELETE", "/api/trouble-cards", 405},
                      Case{"GetReviews", "GET", "/api/reviews", 405},
                      Case{"PatchEntry", "PATCH", "/api/journal/1", 405},
                      Case{"PutJournal", "PUT", "/api/journal", 405},
                      Case{"GetNormalize", "GET", "/api/journal/normalize", 405}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BadInput, MethodNotAllowedNamesTheAllowedOnes)
{
    const auto r = svc().send("DELETE", "/api/journal", {}, token);
    ASSERT_EQ(r.status, 405);
    bool allow = false;
    for (const auto& h : r.headers)
        allow |= h.first == "allow" && h.second == "GET, POST";
    EXPECT_TRUE(allow);
}

TEST_F(BadInput, BodiesOverOneMebibyteAre413)
{
    const QString big(1024 * 1024 + 10, QLatin1Char('a'));
    for (const char* path : {"/api/journal", "/api/journal/quick-note", "/api/auth/login", "/api/reviews"}) {
        const QByteArray body = compact({{"entry", QJsonObject{{"title", "t"}, {"content", big}}}, {"text", big}});
        const auto r = svc().send("POST", QString::fromLatin1(path), body, token);
        EXPECT_EQ(r.status, 413) << path;
        EXPECT_TRUE(isJsonError(r));
    }
    // Just under the limit is fine.
    const QString fits(1000 * 1000, QLatin1Char('b'));
    EXPECT_EQ(post("/api/journal", {{"entry", QJsonObject{{"title", "t"}, {"content", fits}}}}).status, 201);
}

TEST_F(BadInput, BinaryAndDeeplyNestedBodiesAre400)
{
    QByteArray binary;
    for (int i = 0; i < 256; ++i)
        binary.append(char(i));
    QByteArray nested(5000, '[');
    for (const QByteArray& body : {binary, nested, QByteArray("\xff\xfe{}"), QByteArray("null"), QByteArray("42")}) {
        const auto r = svc().send("POST", "/api/journal/normalize", body, token);
        EXPECT_EQ(r.status, 400);
        EXPECT_TRUE(isJsonError(r));
    }
    EXPECT_EQ(get("/api/journal").status, 200);
}

TEST_F(BadInput, AuthIsCheckedBeforeTheBody)
{
    const auto r = svc().send("POST", "/api/reviews", "not json", "wrong-token");
    EXPECT_EQ(r.status, 401);
}

} // namespace

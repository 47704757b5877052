#include "ServiceTestSupport.h"

#include <QThread>

namespace {

using Auth = ServiceTest;

TEST_F(Auth, DemoLoginAnswersTokenAndUser)
{
    const auto r = svc().send("POST", "/api/auth/login",
                              compact({{"email", "demo@tavlo.app"}, {"password", "tavlo-demo"}}));
    ASSERT_EQ(r.status, 200);
    const QJsonObject data = dataObject(r);
    EXPECT_TRUE(data.value("access_token").isString());
    EXPECT_GE(data.value("access_token").toString().size(), 40);
    EXPECT_EQ(data.value("user").toObject().value("email").toString(), "demo@tavlo.app");
    EXPECT_TRUE(data.value("user").toObject().value("id").isDouble());
}

TEST_F(Auth, EveryLoginGetsAFreshToken)
{
    EXPECT_NE(svc().login(), svc().login());
    EXPECT_FALSE(svc().login(StudyService::secondEmail(), StudyService::secondPassword()).isEmpty());
}

struct RefusedLogin {
    const char* name;
    QByteArray body;
    int status;
};

class RefusedLogins : public ServiceTest, public ::testing::WithParamInterface<RefusedLogin> {};

TEST_P(RefusedLogins, AnswerJsonError)
{
    const auto r = svc().send("POST", "/api/auth/login", GetParam().body);
    EXPECT_EQ(r.status, GetParam().status) << r.body.toStdString();
    EXPECT_TRUE(isJsonError(r)) << r.body.toStdString();
    EXPECT_FALSE(r.json().contains("data"));
}

INSTANTIATE_TEST_SUITE_P(
    Login, RefusedLogins,
    ::testing::Values(
        RefusedLogin{"WrongPassword", R"({"email":"demo@tavlo.app","password":"tavlo-demO"})", 401},
        RefusedLogin{"OtherAccountsPassword", R"({"email":"demo@tavlo.app","password":"tavlo-second"})", 401},
        RefusedLogin{"UnknownEmail", R"({"email":"nobody@tavlo.app","password":"tavlo-demo"})", 401},
        RefusedLogin{"EmptyPassword", R"({"email":"demo@tavlo.app","password":""})", 401},
        RefusedLogin{"MissingPassword", R"({"email":"demo@tavlo.app"})", 400},
        RefusedLogin{"MissingEmail", R"({"password":"tavlo-demo"})", 400},
        RefusedLogin{"NumberAsPassword", R"({"email":"demo@tavlo.app","password":12})", 400},
        RefusedLogin{"NullEmail", R"({"email":null,"password":"tavlo-demo"})", 400},
        RefusedLogin{"ArrayBody", R"(["demo@tavlo.app","tavlo-demo"])", 400},
        RefusedLogin{"NotJson", "email=demo@tavlo.app&password=tavlo-demo", 400},
        RefusedLogin{"TruncatedJson", R"({"email":"demo@tavlo.app","password":)", 400},
        RefusedLogin{"EmptyBody", "", 400}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Auth, ApiCallsWithoutValidTokenAre401)
{
    for (const QString& bad : {QString(), QStringLiteral("not-a-token"), token + "x"}) {
        const auto r = svc().send("GET", "/api/trouble-cards?limit=10", {}, bad);
        EXPECT_EQ(r.status, 401) << bad.toStdString();
        EXPECT_TRUE(isJsonError(r));
    }
    // A scheme other than Bearer is no token at all.
    const auto basic = svc().send("GET", "/api/journal", {}, {});
    EXPECT_EQ(basic.status, 401);
}

TEST_F(Auth, ExpireTokensRefusesEveryIssuedToken)
{
    const QString second = svc().login(StudyService::secondEmail(), StudyService::secondPassword());
    ASSERT_EQ(get("/api/trouble-cards?limit=1").status, 200);
    svc().expireTokens();
    EXPECT_EQ(get("/api/trouble-cards?limit=1").status, 401);
    EXPECT_EQ(svc().send("GET", "/api/journal", {}, second).status, 401);
    // Signing in again works as before.
    EXPECT_EQ(svc().send("GET", "/api/journal", {}, svc().login()).status, 200);
}

TEST_F(Auth, ReseedDropsTokens)
{
    svc().reseed();
    EXPECT_EQ(get("/api/journal").status, 401);
}

TEST(AuthTokenLifetime, TokensRunOutAfterTheConfiguredTime)
{
    StudyService short_lived({"--token-ttl", "0.2"});
    ASSERT_TRUE(short_lived.isRunning());
    const QString t = short_lived.login();
    ASSERT_FALSE(t.isEmpty());
    QThread::msleep(400);
    const auto r = short_lived.send("GET", "/api/journal", {}, t);
    EXPECT_EQ(r.status, 401);
    EXPECT_TRUE(isJsonError(r));
}

} // namespace

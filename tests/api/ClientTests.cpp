// The API client, the card service and the journal service against the real
// development study service: what goes over the wire, the single re-login,
// the error model, time-outs and broken responses.
#include "ServiceSupport.h"

#include "APIClient.h"
#include "CardService.h"
#include "JournalService.h"
#include "KeychainService.h"
#include "Log.h"
#include "StudyService.h"

#include <QJsonDocument>
#include <QNetworkReply>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextBoundaryFinder>

#include <gtest/gtest.h>

#include <thread>

namespace {

QJsonObject bodyOf(const QJsonValue& request)
{
    return QJsonDocument::fromJson(request[QLatin1String("body")].toString().toUtf8()).object();
}

QString header(const QJsonValue& request, const char* name)
{
    return request[QLatin1String("headers")][QLatin1String(name)].toString();
}

QString pathOf(const QJsonValue& request)
{
    return request[QLatin1String("path")].toString();
}

QStringList callsOf(const QJsonArray& requests)
{
    QStringList calls;
    for (const QJsonValue& r : requests)
        calls << r[QLatin1String("method")].toString() + u' ' + pathOf(r);
    return calls;
}

class Client : public ServiceFixture {
protected:
    QStringList logged() const { return logs.messages(); }

    // Signs in behind the client's back and stores token and credentials.
    QString signedIn()
    {
        const QString token = service->login();
        EXPECT_FALSE(token.isEmpty());
        KeychainService::saveCredentials(StudyService::demoEmail(), StudyService::demoPassword());
        KeychainService::saveAccessToken(token);
        service->reset();
        return token;
    }

    static std::optional<Result<QByteArray>> get(const QString& path, const QString& method = "GET",
                                                 std::optional<QByteArray> body = std::nullopt, double timeout = 15)
    {
        return await<QByteArray>([&](Callback<QByteArray> done) {
            APIClient::authenticatedRequest(path, method, body, false, timeout, nullptr, done);
        });
    }

    static std::optional<Result<void>> login(const QString& email, const QString& password)
    {
        return await<void>([&](Callback<void> done) { APIClient::login(email, password, nullptr, done); });
    }

    LogCapture logs;
};

// ---- headers and bodies ---------------------------------------------------------

TEST_F(Client, GetWithTokenSendsOneRequestWithBothHeaders)
{
    const QString token = signedIn();
    const auto r = get("/trouble-cards?limit=3");
    ASSERT_TRUE(r && r->ok()) << describe(r);
    EXPECT_TRUE(r->value().startsWith("{")) << r->value().toStdString();
    const QJsonArray requests = service->requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].toObject()["method"].toString(), "GET");
    EXPECT_EQ(pathOf(requests[0]), "/api/trouble-cards?limit=3");
    EXPECT_EQ(header(requests[0], "authorization"), "Bearer " + token);
    EXPECT_EQ(header(requests[0], "content-type"), "application/json");
    EXPECT_TRUE(requests[0].toObject()["body"].toString().isEmpty());
}

TEST_F(Client, DeleteAlsoCarriesTheJsonContentType)
{
    signedIn();
    service->fault({{"mode", "status"}, {"status", 204}, {"body", ""}});
    const auto r = get("/journal/1", "DELETE");
    ASSERT_TRUE(r && r->ok()) << describe(r);
    EXPECT_TRUE(r->value().isEmpty()); // a 204 gives empty bytes
    const QJsonArray requests = service->requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].toObject()["method"].toString(), "DELETE");
    EXPECT_EQ(header(requests[0], "content-type"), "application/json");
    EXPECT_TRUE(requests[0].toObject()["body"].toString().isEmpty());
}

TEST_F(Client, BodyIsSentUnchanged)
{
    signedIn();
    const QByteArray body = R"({"entry":{"title":"Ærø","content":"  spaced  ","tags":[]}})";
    const auto r = get("/journal", "POST", body);
    ASSERT_TRUE(r && r->ok()) << describe(r);
    EXPECT_EQ(service->requests()[0].toObject()["body"].toString().toUtf8(), body);
}

TEST_F(Client, BaseURLComesFromTheEnvironmentOnEveryCall)
{
    qputenv("TAVLO_API_BASE_URL", "https://study.example.org/api/");
    EXPECT_EQ(str(APIClient::baseURL()), "https://study.example.org/api");
    qputenv("TAVLO_API_BASE_URL", service->baseURL().toUtf8());
    EXPECT_EQ(APIClient::baseURL(), service->baseURL());
}

// ---- re-login ------------------------------------------------------------------

TEST_F(Client, NoTokenButCredentialsSignsInFirst)
{
    KeychainService::saveCredentials(StudyService::demoEmail(), StudyService::demoPassword());
    const auto r = get("/journal");
    ASSERT_TRUE(r && r->ok()) << describe(r);
    const QJsonArray requests = service->requests();
    EXPECT_EQ(callsOf(requests), (QStringList{"POST /api/auth/login", "GET /api/journal"}));
    ASSERT_EQ(requests.size(), 2);
    EXPECT_TRUE(header(requests[0], "authorization").isEmpty());
    EXPECT_EQ(header(requests[0], "content-type"), "application/json");
    EXPECT_EQ(bodyOf(requests[0]), (QJsonObject{{"email", StudyService::demoEmail()}, {"password", StudyService::demoPassword()}}));
    const auto token = KeychainService::getAccessToken();
    ASSERT_TRUE(token.has_value());
    EXPECT_EQ(header(requests[1], "authorization"), "Bearer " + *token);
}

TEST_F(Client, RefusedTokenSignsInAgainAndRepeatsOnce)
{
    const QString old = signedIn();
    service->expireTokens();
    const auto r = get("/journal");
    ASSERT_TRUE(r && r->ok()) << describe(r);
    const QJsonArray requests = service->requests();
    EXPECT_EQ(callsOf(requests), (QStringList{"GET /api/journal", "POST /api/auth/login", "GET /api/journal"}));
    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(header(requests[0], "authorization"), "Bearer " + old);
    EXPECT_NE(header(requests[2], "authorization"), "Bearer " + old);
    EXPECT_EQ(header(requests[2], "authorization"), "Bearer " + KeychainService::getAccessToken().value_or(""));
}

TEST_F(Client, RefusalOfTheRepeatIsNotRetriedAgain)
{
    signedIn();
    service->fault({{"mode", "status"}, {"status", 401}, {"count", 5}, {"path", "/api/journal"}, {"body", "still no"}});
    const auto r = get("/journal");
    const APIError* e = apiErrorOf(r);
    ASSERT_NE(e, nullptr) << describe(r);
    EXPECT_EQ(str(e->textForm()), "serverError(401, \"still no\")");
    EXPECT_EQ(callsOf(service->requests()), (QStringList{"GET /api/journal", "POST /api/auth/login", "GET /api/journal"}));
}

TEST_F(Client, RefusedTokenWithoutCredentialsIsUnauthorized)
{
    const QString token = service->login();
    KeychainService::saveAccessToken(token);
    service->reset();
    service->expireTokens();
    const auto r = get("/journal");
    const APIError* e = apiErrorOf(r);
    ASSERT_NE(e, nullptr) << describe(r);
    EXPECT_EQ(str(e->textForm()), "unauthorized");
    EXPECT_EQ(service->requests().size(), 1);
    EXPECT_EQ(KeychainService::getAccessToken(), token); // never cleared by the client
}

TEST_F(Client, NothingStoredIsUnauthorizedWithoutAnyRequest)
{
    const auto r = get("/journal");
    const APIError* e = apiErrorOf(r);
    ASSERT_NE(e, nullptr) << describe(r);
    EXPECT_EQ(e->kind, APIError::Case::unauthorized);
    EXPECT_EQ(service->requests().size(), 0);
}

TEST_F(Client, FailedReloginGivesTheLoginError)
{
    KeychainService::saveCredentials(StudyService::demoEmail(), "wrong");
    const auto r = get("/journal");
    const APIError* e = apiErrorOf(r);
    ASSERT_NE(e, nullptr) << describe(r);
    EXPECT_EQ(str(e->textForm()), "serverError(401, \"Login failed\")");
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    EXPECT_EQ(KeychainService::getCredentials()->password, QString("wrong")); // untouched
}

// A re-login still under way when the learner switches account must not
// bring the old account back.
TEST_F(Client, ReloginInFlightDuringClearStoresNothing)
{
    KeychainService::saveCredentials(StudyService::demoEmail(), StudyService::demoPassword());
    service->fault({{"mode", "delay"}, {"delayMs", 1500}, {"path", "/api/auth/login"}});
    std::optional<Result<QByteArray>> result;
    APIClient::authenticatedRequest("/journal", "GET", std::nullopt, false, 15, nullptr,
                                    [&](Result<QByteArray> r) { result.emplace(std::move(r)); });
    ASSERT_TRUE(waitUntil([&] { return callsOf(service->requests()).contains("POST /api/auth/login"); }));
    KeychainService::clearAll();
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
    const APIError* e = apiErrorOf(result);
    ASSERT_NE(e, nullptr) << describe(result);
    EXPECT_EQ(e->kind, APIError::Case::unauthorized);
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
    EXPECT_EQ(callsOf(service->requests()), QStringList{"POST /api/auth/login"}); // no repeat for the old account
}

TEST_F(Client, LoginInFlightDuringClearStoresNothing)
{
    service->fault({{"mode", "delay"}, {"delayMs", 1500}, {"path", "/api/auth/login"}});
    std::optional<Result<void>> result;
    APIClient::login(StudyService::demoEmail(), StudyService::demoPassword(), nullptr,
                     [&](Result<void> r) { result.emplace(std::move(r)); });
    ASSERT_TRUE(waitUntil([&] { return !service->requests().isEmpty(); }));
    KeychainService::clearAll();
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(result->ok());
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    EXPECT_FALSE(KeychainService::getCredentials().has_value());
}

TEST_F(Client, NoCallbackAfterTheContextIsGone)
{
    signedIn();
    service->fault({{"mode", "delay"}, {"delayMs", 200}});
    auto* context = new QObject;
    bool called = false;
    APIClient::authenticatedRequest("/journal", context, [&](Result<QByteArray>) { called = true; });
    delete context;
    ASSERT_TRUE(waitUntil([&] { return service->requests().size() == 1; }));
    waitUntil([] { return false; }, 500);
    EXPECT_FALSE(called);
}

// ---- login ---------------------------------------------------------------------

TEST_F(Client, LoginStoresCredentialsExactlyAndLogsOnlyTheURL)
{
    const QString email = " Demo@Tavlo.app ";
    service->fault({{"mode", "body"}, {"body", R"({"data": {"access_token": "tok-1"}})"}}); // no "user": fine
    const auto r = login(email, "p\"w d");
    ASSERT_TRUE(r && r->ok()) << describe(r);
    EXPECT_EQ(KeychainService::getAccessToken(), QString("tok-1"));
    ASSERT_TRUE(KeychainService::getCredentials().has_value());
    EXPECT_EQ(KeychainService::getCredentials()->email, email);
    EXPECT_EQ(KeychainService::getCredentials()->password, QString("p\"w d"));
    const QJsonArray requests = service->requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(bodyOf(requests[0]), (QJsonObject{{"email", email}, {"password", "p\"w d"}}));
    EXPECT_TRUE(header(requests[0], "authorization").isEmpty());
    const QStringList lines = logged();
    EXPECT_TRUE(lines.contains("Login request to " + service->baseURL() + "/auth/login")) << str(lines.join('\n'));
    for (const QString& line : lines) {
        EXPECT_FALSE(line.contains("Demo@Tavlo")) << str(line);
        EXPECT_FALSE(line.contains("p\"w d")) << str(line);
    }
}

TEST_F(Client, RealLoginAgainstTheService)
{
    const auto r = login(StudyService::demoEmail(), StudyService::demoPassword());
    ASSERT_TRUE(r && r->ok()) << describe(r);
    const auto token = KeychainService::getAccessToken();
    ASSERT_TRUE(token.has_value());
    EXPECT_EQ(service->send("GET", "/api/journal", {}, *token).status, 200);
}

struct LoginFailure {
    const char* name;
    QJsonObject fault;
    const char* textForm; // of the error; "" for "a DecodeError"
};

class LoginFailures : public Client, public ::testing::WithParamInterface<LoginFailure> {};

TEST_P(LoginFailures, GiveTheirErrorAndStoreNothing)
{
    KeychainService::saveCredentials("keep@x", "keep");
    service->fault(GetParam().fault);
    const auto r = login(StudyService::demoEmail(), StudyService::demoPassword());
    ASSERT_TRUE(r && !r->ok()) << GetParam().name;
    if (*GetParam().textForm)
        EXPECT_EQ(str(textForm(r->error())), GetParam().textForm) << GetParam().name;
    else
        EXPECT_NE(decodeErrorOf(r), nullptr) << describe(r);
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    EXPECT_EQ(KeychainService::getCredentials()->email, QString("keep@x"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoginFailures,
    ::testing::Values(
        LoginFailure{"201", {{"mode", "status"}, {"status", 201}, {"body", R"({"data": {"access_token": "x"}})"}},
                     "serverError(201, \"Login failed\")"},
        LoginFailure{"401", {{"mode", "status"}, {"status", 401}}, "serverError(401, \"Login failed\")"},
        LoginFailure{"500", {{"mode", "status"}, {"status", 500}, {"body", "oops"}}, "serverError(500, \"Login failed\")"},
        LoginFailure{"token a number", {{"mode", "body"}, {"body", R"({"data": {"access_token": 5}})"}}, "decodingError"},
        LoginFailure{"no data wrapper", {{"mode", "body"}, {"body", R"({"access_token": "x"})"}}, "decodingError"},
        LoginFailure{"data null", {{"mode", "body"}, {"body", R"({"data": null})"}}, "decodingError"},
        LoginFailure{"top-level number", {{"mode", "body"}, {"body", "5"}}, "decodingError"},
        LoginFailure{"top-level array", {{"mode", "body"}, {"body", R"([{"data": {"access_token": "x"}}])"}}, "decodingError"},
        LoginFailure{"truncated JSON", {{"mode", "malformed"}}, ""},
        LoginFailure{"not JSON", {{"mode", "body"}, {"body", "<html>"}}, ""}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& c : n)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return n;
    });

TEST_F(Client, WrongPasswordIsARefusedLogin)
{
    const auto r = login(StudyService::demoEmail(), "nope");
    const APIError* e = apiErrorOf(r);
    ASSERT_NE(e, nullptr) << describe(r);
    EXPECT_TRUE(e->isRefusedLogin());
    EXPECT_EQ(str(e->textForm()), "serverError(401, \"Login failed\")");
}

// ---- status errors ---------------------------------------------------------------

TEST_F(Client, ServerErrorsCarryStatusAndBodyText)
{
    signedIn();
    struct Case {
        QJsonObject fault;
        const char* text;
    };
    const std::vector<Case> cases{
        {{{"mode", "status"}, {"status", 500}, {"body", "oops"}}, "serverError(500, \"oops\")"},
        {{{"mode", "status"}, {"status", 404}, {"body", ""}}, "serverError(404, \"\")"},
        {{{"mode", "status"}, {"status", 503}, {"body", "caf\xc3\xa9"}}, "serverError(503, \"caf\xc3\xa9\")"},
    };
    for (const Case& c : cases) {
        service->fault(c.fault);
        const auto r = get("/journal");
        ASSERT_TRUE(r && !r->ok());
        EXPECT_EQ(str(textForm(r->error())), c.text);
    }
    // A 3xx without a Location header is an answer, not a broken redirect.
    service->fault({{"mode", "status"}, {"status", 302}, {"body", "moved"}});
    const auto r = get("/journal");
    const APIError* e = apiErrorOf(r);
    ASSERT_NE(e, nullptr) << describe(r);
    EXPECT_EQ(e->kind, APIError::Case::serverError);
    EXPECT_EQ(e->status, 302);
}

// The fault body travels as JSON text, so invalid UTF-8 needs a server of our own.
class RawServer {
public:
    explicit RawServer(QByteArray response) : response_(std::move(response))
    {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                ++connections;
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    received += s->readAll();
                    if (received.contains("\r\n\r\n")) {
                        s->write(response_);
                        s->disconnectFromHost();
                    }
                });
            }
        });
    }
    QString baseURL() const { return QStringLiteral("http://127.0.0.1:%1/api").arg(server_.serverPort()); }
    int connections = 0;
    QByteArray received;

private:
    QTcpServer server_;
    QByteArray response_;
};

TEST_F(Client, NonUtf8ErrorBodyIsUnknownError)
{
    KeychainService::saveAccessToken("t");
    RawServer raw("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 3\r\nConnection: close\r\n\r\n\xff\xfe\xfd");
    qputenv("TAVLO_API_BASE_URL", raw.baseURL().toUtf8());
    const auto r = get("/journal");
    ASSERT_TRUE(r && !r->ok());
    EXPECT_EQ(str(textForm(r->error())), "serverError(500, \"Unknown error\")");
}

TEST_F(Client, RedirectToAnotherHostIsNotFollowed)
{
    KeychainService::saveAccessToken("secret-token");
    RawServer target("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}");
    const QByteArray location = QStringLiteral("http://localhost:%1/api/journal").arg(QUrl(target.baseURL()).port()).toUtf8();
    RawServer redirector("HTTP/1.1 307 Temporary Redirect\r\nLocation: " + location
                         + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    qputenv("TAVLO_API_BASE_URL", redirector.baseURL().toUtf8());
    const auto r = get("/journal");
    ASSERT_TRUE(r.has_value());
    EXPECT_FALSE(r->ok()) << describe(r);
    EXPECT_EQ(target.connections, 0);
    EXPECT_FALSE(target.received.contains("secret-token"));
}

// ---- transport failures ----------------------------------------------------------------

TEST_F(Client, RefusedConnectionIsATransportError)
{
    KeychainService::saveAccessToken("t");
    quint16 port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    qputenv("TAVLO_API_BASE_URL", QStringLiteral("http://127.0.0.1:%1/api").arg(port).toUtf8());
    const auto r = get("/journal");
    const TransportError* e = transportErrorOf(r);
    ASSERT_NE(e, nullptr) << describe(r);
    EXPECT_EQ(e->code, int(QNetworkReply::ConnectionRefusedError));
    EXPECT_EQ(str(e->description), "Could not connect to the server.");
    EXPECT_TRUE(e->textForm().startsWith("Error Domain=QNetworkReply Code=1 ")) << str(e->textForm());
    EXPECT_TRUE(e->textForm().contains("ConnectionRefusedError")) << str(e->textForm());
    EXPECT_TRUE(e->textForm().contains("/api/journal")) << str(e->textForm());
}

TEST_F(Client, DroppedConnectionIsATransportError)
{
    signedIn();
    service->fault({{"mode", "drop"}, {"count", 5}});
    const auto r = get("/journal");
    const TransportError* e = transportErrorOf(r);
    ASSERT_NE(e, nullptr) << describe(r);
    EXPECT_EQ(e->code, int(QNetworkReply::RemoteHostClosedError));
    EXPECT_EQ(str(e->description), "The network connection was lost.");
    // Qt's HTTP layer sends a request once more when a connection dies
    // before any answer (a stale keep-alive), but not beyond that.
    EXPECT_LE(service->requests().size(), 2);
    service->reset();
    service->fault({{"mode", "drop"}, {"count", 5}});
    const auto review = await<void>([](auto done) { CardService::submitReview(1, 4, nullptr, done); });
    ASSERT_NE(transportErrorOf(review), nullptr) << describe(review);
    // A POST on a fresh connection that dies is not sent again.
    EXPECT_EQ(callsOf(service->requests()), QStringList{"POST /api/reviews"});
}

TEST_F(Client, OversizedResponseIsAbortedWithAClearError)
{
    signedIn();
    service->fault({{"mode", "oversized"}, {"bytes", 17 * 1024 * 1024}});
    const auto r = get("/journal");
    const TransportError* e = transportErrorOf(r);
    ASSERT_NE(e, nullptr) << describe(r);
    EXPECT_EQ(e->code, TransportError::responseTooLarge);
    EXPECT_TRUE(e->description.contains("16 MiB")) << str(e->description);
    EXPECT_TRUE(e->textForm().startsWith("Error Domain=TavloAPI Code=-2")) << str(e->textForm());
}

TEST_F(Client, ResponseJustUnderTheCapIsRead)
{
    signedIn();
    service->fault({{"mode", "oversized"}, {"bytes", 16 * 1024 * 1024}});
    const auto r = get("/journal");
    ASSERT_TRUE(r && r->ok()) << describe(r);
    EXPECT_EQ(r->value().size(), 16 * 1024 * 1024);
}

TEST_F(Client, TimeOutIsATransportError)
{
    signedIn();
    APIClient::setTimeoutScaleForTesting(0.01); // 15 s -> 150 ms
    service->fault({{"mode", "delay"}, {"delayMs", 2000}});
    const auto r = get("/journal");
    const TransportError* e = transportErrorOf(r);
    ASSERT_NE(e, nullptr) << describe(r);
    EXPECT_EQ(e->code, int(QNetworkReply::TimeoutError));
    EXPECT_EQ(str(e->description), "The request timed out.");
}

// A TLS server whose certificate nobody trusts (a self-signed one kept with
// these tests). The client must refuse it before any HTTP is exchanged.
class UntrustedTlsServer : public QTcpServer {
public:
    UntrustedTlsServer()
    {
        QFile cert(QStringLiteral(TAVLO_TEST_DATA_DIR "/untrusted-cert.pem"));
        QFile key(QStringLiteral(TAVLO_TEST_DATA_DIR "/untrusted-key.pem"));
        if (cert.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly)) {
            certificate_ = QSslCertificate(cert.readAll(), QSsl::Pem);
            key_ = QSslKey(key.readAll(), QSsl::Rsa, QSsl::Pem);
        }
        listen(QHostAddress::LocalHost);
    }
    bool ready() const { return !certificate_.isNull() && !key_.isNull() && isListening(); }
    QByteArray decrypted;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(certificate_);
        socket->setPrivateKey(key_);
        connect(socket, &QSslSocket::readyRead, socket, [this, socket] { decrypted += socket->readAll(); });
        socket->startServerEncryption();
    }

private:
    QSslCertificate certificate_;
    QSslKey key_;
};

TEST_F(Client, UntrustedCertificateIsATlsTransportError)
{
    if (!QSslSocket::supportsSsl())
        GTEST_SKIP() << "no TLS backend";
    UntrustedTlsServer tls;
    ASSERT_TRUE(tls.ready());
    KeychainService::saveAccessToken("secret-token");
    qputenv("TAVLO_API_BASE_URL", QStringLiteral("https://127.0.0.1:%1/api").arg(tls.serverPort()).toUtf8());
    const auto r = get("/journal");
    const TransportError* e = transportErrorOf(r);
    ASSERT_NE(e, nullptr) << describe(r);
    EXPECT_EQ(e->code, int(QNetworkReply::SslHandshakeFailedError)) << str(e->textForm());
    EXPECT_EQ(str(e->description), "A TLS error has occurred and a secure connection to the server cannot be made.");
    EXPECT_TRUE(e->textForm().contains("SslHandshakeFailedError")) << str(e->textForm());
    EXPECT_FALSE(tls.decrypted.contains("secret-token"));
    EXPECT_TRUE(tls.decrypted.isEmpty());
}

TEST_F(Client, CallsFromAnotherThreadAnswerOnTheMainThread)
{
    signedIn();
    std::optional<Result<QByteArray>> result;
    QThread* answeredOn = nullptr;
    std::thread worker([&] {
        APIClient::authenticatedRequest("/journal", nullptr, [&](Result<QByteArray> r) {
            answeredOn = QThread::currentThread();
            result.emplace(std::move(r));
        });
    });
    worker.join();
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(result->ok()) << describe(result);
    EXPECT_EQ(answeredOn, QCoreApplication::instance()->thread());
}

TEST_F(Client, FetchLogsEvenWhenTheCallerIsGone)
{
    signedIn();
    service->fault({{"mode", "body"}, {"body", R"({"data": []})"}});
    auto* context = new QObject;
    bool called = false;
    CardService::fetchTroubleCards(context, [&](Result<QList<TroubleCard>>) { called = true; });
    delete context;
    ASSERT_TRUE(waitUntil([&] { return !logged().isEmpty(); }, 5000));
    EXPECT_EQ(str(logged().last()), R"(API raw response (12 bytes): {"data": []})");
    EXPECT_FALSE(called);
}

struct BaseURLCase {
    const char* url;
    bool allowed;
};

TEST_F(Client, OnlyHttpsOrLoopbackBaseURLsAreUsed)
{
    const std::vector<BaseURLCase> cases{
        {"https://study.example.org/api", true}, {"http://127.0.0.1:8787/api", true}, {"http://127.9.8.7/api", true},
        {"http://[::1]:8787/api", true},         {"http://localhost:1/api", true},   {"http://LocalHost/api", true},
        {"http://example.org/api", false},       {"http://10.0.0.1/api", false},     {"http://127.0.0.1.example.org/api", false},
        {"ftp://127.0.0.1/api", false},          {"not a url", false},               {"https:///api", false},
    };
    for (const auto& c : cases) {
        qputenv("TAVLO_API_BASE_URL", c.url);
        EXPECT_EQ(APIClient::baseURLProblem().isEmpty(), c.allowed) << c.url << ": " << str(APIClient::baseURLProblem());
    }
}

TEST_F(Client, RefusedBaseURLFailsWithoutSending)
{
    KeychainService::saveCredentials("a@b", "pw");
    KeychainService::saveAccessToken("secret-token");
    qputenv("TAVLO_API_BASE_URL", "http://example.org/api");
    const auto r = get("/journal");
    const TransportError* e = transportErrorOf(r);
    ASSERT_NE(e, nullptr) << describe(r);
    EXPECT_EQ(e->code, TransportError::refusedBaseURL);
    EXPECT_TRUE(e->description.contains("http://example.org/api")) << str(e->description);
    const auto l = login("a@b", "pw");
    ASSERT_NE(transportErrorOf(l), nullptr) << describe(l);
    for (const QString& line : logged())
        EXPECT_FALSE(line.startsWith("Login request to")) << str(line);
}

// ---- card service ------------------------------------------------------------------------

TEST_F(Client, FetchTroubleCardsAsksForTenAndLogsTheBody)
{
    signedIn();
    const auto r = await<QList<TroubleCard>>([](auto done) { CardService::fetchTroubleCards(nullptr, done); });
    ASSERT_TRUE(r && r->ok()) << describe(r);
    EXPECT_FALSE(r->value().isEmpty());
    EXPECT_LE(r->value().size(), 10);
    EXPECT_EQ(callsOf(service->requests()), QStringList{"GET /api/trouble-cards?limit=10"});
    const QStringList lines = logged();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().startsWith("API raw response (")) << str(lines.last());
    for (const QString& line : lines)
        EXPECT_FALSE(line.startsWith("Decode error: "));
}

TEST_F(Client, FetchTroubleCardsPassesTheLimitAsIs)
{
    signedIn();
    service->fault({{"mode", "body"}, {"body", R"({"data": []})"}});
    const auto r = await<QList<TroubleCard>>([](auto done) { CardService::fetchTroubleCards(-1, nullptr, done); });
    ASSERT_TRUE(r && r->ok()) << describe(r);
    EXPECT_EQ(callsOf(service->requests()), QStringList{"GET /api/trouble-cards?limit=-1"});
}

struct FetchLogCase {
    const char* name;
    QByteArray body;
    QString rawLine;   // the exact "API raw response" line
    bool decodeError;  // whether a "Decode error: " line follows
};

TEST_F(Client, FetchTroubleCardsLogLines)
{
    signedIn();
    // 300 user-perceived characters of 2 or more bytes each: the cut is by
    // character, the count by byte.
    QString pad;
    for (int i = 0; i < 300; ++i)
        pad += (i % 3 == 0) ? QString::fromUtf8("e\xcc\x81") : (i % 3 == 1) ? QString::fromUtf8("\xc3\xa6") : QString::fromUtf8("👍🏽");
    const QByteArray longBody = ("{\"data\": [], \"pad\": \"" + pad + "\"}").toUtf8();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, QString::fromUtf8(longBody));
    int cut = 0;
    for (int i = 0; i < 200; ++i)
        cut = int(finder.toNextBoundary());
    const QString first200 = QString::fromUtf8(longBody).left(cut);

    const std::vector<FetchLogCase> cases{
        {"empty list", R"({"data": []})", R"(API raw response (12 bytes): {"data": []})", false},
        {"wrong envelope", R"({"cards": []})", R"(API raw response (13 bytes): {"cards": []})", true},
        {"truncated", R"({"data": [)", R"(API raw response (10 bytes): {"data": [)", true},
        {"long", longBody, QStringLiteral("API raw response (%1 bytes): ").arg(longBody.size()) + first200, false},
    };
    for (const auto& c : cases) {
        LogCapture caseLog;
        service->fault({{"mode", "body"}, {"body", QString::fromUtf8(c.body)}});
        const auto r = await<QList<TroubleCard>>([](auto done) { CardService::fetchTroubleCards(nullptr, done); });
        ASSERT_TRUE(r && r->ok()) << c.name << ": " << describe(r); // never an error, at worst no cards
        EXPECT_TRUE(r->value().isEmpty()) << c.name;
        const QStringList lines = caseLog.messages();
        ASSERT_GE(lines.size(), 1) << c.name;
        EXPECT_EQ(str(lines[0]), str(c.rawLine)) << c.name;
        EXPECT_EQ(lines.size() == 2 && lines[1].startsWith("Decode error: "), c.decodeError) << c.name << str(lines.join('\n'));
    }
}

TEST_F(Client, FetchTroubleCardsLogsNilForInvalidUtf8)
{
    KeychainService::saveAccessToken("t");
    RawServer raw("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\n\xff\xfe{}");
    qputenv("TAVLO_API_BASE_URL", raw.baseURL().toUtf8());
    const auto r = await<QList<TroubleCard>>([](auto done) { CardService::fetchTroubleCards(nullptr, done); });
    ASSERT_TRUE(r && r->ok()) << describe(r);
    const QStringList lines = logged();
    ASSERT_EQ(lines.size(), 2) << str(lines.join('\n'));
    EXPECT_EQ(str(lines[0]), "API raw response (4 bytes): nil");
    EXPECT_TRUE(lines[1].startsWith("Decode error: "));
}

TEST_F(Client, FetchTroubleCardsPassesErrorsOn)
{
    signedIn();
    service->fault({{"mode", "status"}, {"status", 500}, {"body", "oops"}});
    const auto r = await<QList<TroubleCard>>([](auto done) { CardService::fetchTroubleCards(nullptr, done); });
    ASSERT_TRUE(r && !r->ok());
    EXPECT_EQ(str(textForm(r->error())), "serverError(500, \"oops\")");
}

TEST_F(Client, SubmitReviewSendsCardIdAndQuality)
{
    signedIn();
    const auto r = await<void>([](auto done) { CardService::submitReview(42, 0, nullptr, done); });
    ASSERT_TRUE(r.has_value());
    const QJsonArray requests = service->requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(callsOf(requests), QStringList{"POST /api/reviews"});
    const QJsonObject body = bodyOf(requests[0]);
    EXPECT_EQ(body.keys(), (QStringList{"card_id", "quality"}));
    EXPECT_EQ(body["card_id"].toInteger(), 42);
    EXPECT_EQ(body["quality"].toInteger(), 0);
}

TEST_F(Client, SubmitReviewOfARealCardIsRecorded)
{
    signedIn();
    const auto cards = await<QList<TroubleCard>>([](auto done) { CardService::fetchTroubleCards(3, nullptr, done); });
    ASSERT_TRUE(cards && cards->ok() && !cards->value().isEmpty()) << describe(cards);
    const std::int64_t id = cards->value().first().id;
    const auto r = await<void>([id](auto done) { CardService::submitReview(id, 4, nullptr, done); });
    ASSERT_TRUE(r && r->ok()) << describe(r);
    const QJsonArray reviews = service->state().value("reviews").toArray();
    ASSERT_FALSE(reviews.isEmpty());
    EXPECT_EQ(reviews.last().toObject()["card_id"].toInteger(), id);
    EXPECT_EQ(reviews.last().toObject()["quality"].toInteger(), 4);
    EXPECT_EQ(reviews.last().toObject()["account"].toString(), StudyService::demoEmail());
}

TEST_F(Client, SubmitReviewServerError)
{
    signedIn();
    service->fault({{"mode", "status"}, {"status", 500}, {"body", "oops"}});
    const auto r = await<void>([](auto done) { CardService::submitReview(1, 4, nullptr, done); });
    const APIError* e = apiErrorOf(r);
    ASSERT_NE(e, nullptr) << describe(r);
    EXPECT_EQ(e->status, 500);
}

// ---- journal service ----------------------------------------------------------------

TEST_F(Client, CreateEntrySendsTheWholeEntryWithEmptyTags)
{
    signedIn();
    const auto r = await<JournalEntryData>(
        [](auto done) { JournalService::createEntry(" T ", "body\n", {}, nullptr, done); });
    ASSERT_TRUE(r && r->ok()) << describe(r);
    EXPECT_EQ(str(r->value().title), " T ");
    const QJsonArray requests = service->requests();
    ASSERT_EQ(callsOf(requests), QStringList{"POST /api/journal"});
    EXPECT_EQ(bodyOf(requests[0]),
              (QJsonObject{{"entry", QJsonObject{{"title", " T "}, {"content", "body\n"}, {"tags", QJsonArray()}}}}));
}

TEST_F(Client, UpdateEntryPutsToItsId)
{
    signedIn();
    const auto created = await<JournalEntryData>(
        [](auto done) { JournalService::createEntry("a", "b", {"x"}, nullptr, done); });
    ASSERT_TRUE(created && created->ok()) << describe(created);
    const std::int64_t id = created->value().id;
    service->reset();
    const auto r = await<JournalEntryData>(
        [id](auto done) { JournalService::updateEntry(id, "a2", "b2", {"x", "y"}, nullptr, done); });
    ASSERT_TRUE(r && r->ok()) << describe(r);
    EXPECT_EQ(r->value().id, id);
    EXPECT_EQ(str(r->value().content), "b2");
    const QJsonArray requests = service->requests();
    ASSERT_EQ(callsOf(requests), QStringList{"PUT /api/journal/" + QString::number(id)});
    EXPECT_EQ(bodyOf(requests[0]),
              (QJsonObject{{"entry", QJsonObject{{"title", "a2"}, {"content", "b2"}, {"tags", QJsonArray{"x", "y"}}}}}));
}

TEST_F(Client, UpdateEntryPathUsesTheDecimalId)
{
    signedIn();
    service->fault({{"mode", "body"}, {"body", R"({"data": {"id": 12, "title": "t", "content": "c"}})"}});
    const auto r = await<JournalEntryData>(
        [](auto done) { JournalService::updateEntry(12, "t", "c", {}, nullptr, done); });
    ASSERT_TRUE(r && r->ok()) << describe(r);
    EXPECT_EQ(callsOf(service->requests()), QStringList{"PUT /api/journal/12"});
}

TEST_F(Client, DeleteEntrySucceedsOnAnEmpty204)
{
    signedIn();
    service->fault({{"mode", "status"}, {"status", 204}, {"body", ""}});
    const auto r = await<void>([](auto done) { JournalService::deleteEntry(5, nullptr, done); });
    ASSERT_TRUE(r && r->ok()) << describe(r);
    EXPECT_EQ(callsOf(service->requests()), QStringList{"DELETE /api/journal/5"});
}

TEST_F(Client, ListEntriesDecodesOrFailsWithADecodeError)
{
    signedIn();
    const auto real = await<QList<JournalEntryData>>([](auto done) { JournalService::listEntries(nullptr, done); });
    ASSERT_TRUE(real && real->ok()) << describe(real);
    EXPECT_FALSE(real->value().isEmpty());

    service->fault({{"mode", "body"}, {"body", R"({"data": []})"}});
    const auto empty = await<QList<JournalEntryData>>([](auto done) { JournalService::listEntries(nullptr, done); });
    ASSERT_TRUE(empty && empty->ok()) << describe(empty);
    EXPECT_TRUE(empty->value().isEmpty());

    for (const QJsonObject& fault : {QJsonObject{{"mode", "body"}, {"body", "not json"}}, QJsonObject{{"mode", "malformed"}},
                                     QJsonObject{{"mode", "body"}, {"body", R"({"entries": []})"}}}) {
        service->fault(fault);
        const auto bad = await<QList<JournalEntryData>>([](auto done) { JournalService::listEntries(nullptr, done); });
        EXPECT_NE(decodeErrorOf(bad), nullptr) << describe(bad);
    }
}

TEST_F(Client, QuickNoteSendsOnlyTheText)
{
    signedIn();
    const auto r = await<JournalEntryData>(
        [](auto done) { JournalService::createQuickNote("remember: hund = dog", nullptr, done); });
    ASSERT_TRUE(r && r->ok()) << describe(r);
    const QJsonArray requests = service->requests();
    ASSERT_EQ(callsOf(requests), QStringList{"POST /api/journal/quick-note"});
    EXPECT_EQ(bodyOf(requests[0]), (QJsonObject{{"text", "remember: hund = dog"}}));
}

TEST_F(Client, NormalizeReturnsTheProposal)
{
    signedIn();
    const auto r = await<NormalizeResult>([](auto done) { JournalService::normalizeText("some note text", nullptr, done); });
    ASSERT_TRUE(r && r->ok()) << describe(r);
    EXPECT_FALSE(r->value().title.isEmpty());
    EXPECT_EQ(bodyOf(service->requests()[0]), (QJsonObject{{"text", "some note text"}}));
}

// normalizeText and createQuickNote wait 30 s, the others 15 s; scaled down.
TEST_F(Client, SlowEndpointsWaitTwiceAsLong)
{
    signedIn();
    APIClient::setTimeoutScaleForTesting(0.08); // 15 s -> 1.2 s, 30 s -> 2.4 s
    service->fault({{"mode", "delay"}, {"delayMs", 1800}, {"count", 3}});
    const auto normalized = await<NormalizeResult>([](auto done) { JournalService::normalizeText("text", nullptr, done); });
    EXPECT_TRUE(normalized && normalized->ok()) << describe(normalized);
    const auto note = await<JournalEntryData>([](auto done) { JournalService::createQuickNote("text", nullptr, done); });
    EXPECT_TRUE(note && note->ok()) << describe(note);
    const auto listed = await<QList<JournalEntryData>>([](auto done) { JournalService::listEntries(nullptr, done); });
    const TransportError* e = transportErrorOf(listed);
    ASSERT_NE(e, nullptr) << describe(listed);
    EXPECT_EQ(e->code, int(QNetworkReply::TimeoutError));
}

TEST_F(Client, LoginTimesOutAfterFifteenSeconds)
{
    APIClient::setTimeoutScaleForTesting(0.05);
    service->fault({{"mode", "delay"}, {"delayMs", 3000}, {"path", "/api/auth/login"}});
    const auto r = login(StudyService::demoEmail(), StudyService::demoPassword());
    const TransportError* e = transportErrorOf(r);
    ASSERT_NE(e, nullptr) << describe(r);
    EXPECT_EQ(e->code, int(QNetworkReply::TimeoutError));
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
}

} // namespace

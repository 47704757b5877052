// The API client, the card service and the journal service against the real
// development study service: what goes over the wire, the single re-login,
// the error model, time-outs and broken responses.
#include "ServiceSupport.h"

#include "api/CardService.h"
#include "api/JournalService.h"
#include "core/Timing.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace {

QJsonObject bodyOf(const QJsonValue& request)
{
    return QJsonDocument::fromJson(request[QLatin1String("body")].toString().toUtf8()).object();
}

QString header(const QJsonValue& request, const char* name)
{
    return request[QLatin1String("headers")][QLatin1String(name)].toString();
}

QStringList callsOf(const QJsonArray& requests)
{
    QStringList calls;
    for (const QJsonValue& r : requests)
        calls << r[QLatin1String("method")].toString() + u' ' + r[QLatin1String("path")].toString();
    return calls;
}

class Client : public ServiceFixture {
protected:
    // Signed in, with the sign-in's own request forgotten by the service.
    QString signedIn()
    {
        EXPECT_TRUE(signInThroughClient());
        service->reset();
        return KeychainService::getAccessToken().value_or("");
    }

    static std::optional<Result<QByteArray>> get(const QString& path, const QString& method = "GET",
                                                 std::optional<QByteArray> body = std::nullopt)
    {
        return await<QByteArray>([&](Callback<QByteArray> done) {
            APIClient::authenticatedRequest(path, method, body, false, 15, nullptr, done);
        });
    }

    static std::optional<Result<void>> login(const QString& email, const QString& password)
    {
        return await<void>([&](Callback<void> done) { APIClient::login(email, password, nullptr, done); });
    }

    // Whatever a test did, no password or token reached the log.
    void TearDown() override
    {
        const QString token = KeychainService::getAccessToken().value_or("no token stored");
        for (const QString& line : logs.messages())
            EXPECT_FALSE(line.contains(StudyService::demoPassword()) || line.contains(token) || line.contains("Bearer "))
                << str(line);
        ServiceFixture::TearDown();
    }

    LogCapture logs;
};

// ---- headers and bodies ---------------------------------------------------------

TEST_F(Client, RequestsCarryTokenAndJsonTypeAndTheBodyUnchanged)
{
    const QString token = signedIn();
    const QByteArray body = R"({"entry":{"title":"Ærø","content":"  spaced  ","tags":[]}})";
    const auto r = get("/journal", "POST", body);
    ASSERT_TRUE(r && r->ok()) << describe(r);
    const QJsonArray requests = service->requests();
    ASSERT_EQ(callsOf(requests), QStringList{"POST /api/journal"});
    EXPECT_EQ(header(requests[0], "authorization"), "Bearer " + token);
    EXPECT_EQ(header(requests[0], "content-type"), "application/json");
    EXPECT_EQ(requests[0][QLatin1String("body")].toString().toUtf8(), body);
}

// ---- re-login ------------------------------------------------------------------

// What is stored before a request decides whether the client signs in (once)
// and what the caller gets.
TEST_F(Client, SignsInAgainOnceWithTheStoredCredentials)
{
    enum Stored { none, old, fresh };
    const QString journal = "GET /api/journal", signIn = "POST /api/auth/login";
    const struct {
        const char* name;
        bool token;           // a token from a real sign-in is stored
        const char* password; // stored with the demo email; nullptr: no credentials
        bool expire;          // the service forgets every token first
        QJsonObject fault;
        QStringList calls;
        const char* outcome;  // "ok" or the error's text form
        Stored tokenAfter;
    } cases[] = {
        {"credentials only", false, "tavlo-demo", false, {}, {signIn, journal}, "ok", fresh},
        {"token refused", true, "tavlo-demo", true, {}, {journal, signIn, journal}, "ok", fresh},
        {"repeat refused too", true, "tavlo-demo", false,
         {{"mode", "status"}, {"status", 401}, {"count", 5}, {"path", "/api/journal"}, {"body", "still no"}},
         {journal, signIn, journal}, "serverError(401, \"still no\")", fresh},
        {"token refused, no credentials", true, nullptr, true, {}, {journal}, "unauthorized", old}, // never cleared
        {"nothing stored", false, nullptr, false, {}, {}, "unauthorized", none},
        {"wrong password", false, "wrong", false, {}, {signIn}, "serverError(401, \"Login failed\")", none},
    };
    for (const auto& c : cases) {
        KeychainService::clearAll();
        QString oldToken;
        if (c.token)
            KeychainService::saveAccessToken(oldToken = service->login());
        if (c.password)
            KeychainService::saveCredentials(StudyService::demoEmail(), c.password);
        service->reset();
        if (c.expire)
            service->expireTokens();
        if (!c.fault.isEmpty())
            service->fault(c.fault);
        const auto r = get("/journal");
        EXPECT_EQ(describe(r), c.outcome) << c.name;
        const QJsonArray requests = service->requests();
        ASSERT_EQ(callsOf(requests), c.calls) << c.name;
        for (const QJsonValue& request : requests) {
            if (request[QLatin1String("path")].toString() != "/api/auth/login")
                continue;
            EXPECT_TRUE(header(request, "authorization").isEmpty()) << c.name;
            EXPECT_EQ(bodyOf(request), (QJsonObject{{"email", StudyService::demoEmail()}, {"password", c.password}})) << c.name;
        }
        EXPECT_EQ(header(requests.at(0), "authorization"), c.token ? "Bearer " + oldToken : QString()) << c.name;
        const std::optional<QString> stored = KeychainService::getAccessToken();
        EXPECT_EQ(stored.has_value(), c.tokenAfter != none) << c.name;
        EXPECT_EQ(stored == oldToken, c.tokenAfter == old) << c.name; // a fresh one differs from the old
        if (r && r->ok()) {
            EXPECT_EQ(header(requests.last(), "authorization"), "Bearer " + stored.value_or("")) << c.name;
        }
        // The stored credentials are never touched.
        EXPECT_EQ(KeychainService::getCredentials().value_or(Credentials{}).password, QString(c.password)) << c.name;
    }
}

// A sign-in still under way when the learner switches account must not bring
// the old account back: neither one of their own nor a re-login for a request.
TEST_F(Client, SignInInFlightDuringClearStoresNothing)
{
    service->fault({{"mode", "delay"}, {"delayMs", 1500}, {"path", "/api/auth/login"}});
    std::optional<Result<void>> loggedIn;
    APIClient::login(StudyService::demoEmail(), StudyService::demoPassword(), nullptr,
                     [&](Result<void> r) { loggedIn.emplace(std::move(r)); });
    ASSERT_TRUE(waitUntil([&] { return !service->requests().isEmpty(); }));
    KeychainService::clearAll();
    ASSERT_TRUE(waitUntil([&] { return loggedIn.has_value(); }));
    EXPECT_FALSE(loggedIn->ok());
    EXPECT_FALSE(KeychainService::getAccessToken().has_value());
    EXPECT_FALSE(KeychainService::getCredentials().has_value());

    service->reset();
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
    const QStringList lines = logs.messages();
    EXPECT_TRUE(lines.contains("Login request to " + service->baseURL() + "/auth/login")) << str(lines.join('\n'));
    for (const QString& line : lines) {
        EXPECT_FALSE(line.contains("Demo@Tavlo")) << str(line);
        EXPECT_FALSE(line.contains("p\"w d")) << str(line);
    }
}

TEST_F(Client, LoginFailuresGiveTheirErrorAndStoreNothing)
{
    const std::pair<QJsonObject, const char*> cases[] = { // the fault, and the error's text form ("": a DecodeError)
        {{{"mode", "status"}, {"status", 201}, {"body", R"({"data": {"access_token": "x"}})"}}, "serverError(201, \"Login failed\")"},
        {{{"mode", "status"}, {"status", 401}}, "serverError(401, \"Login failed\")"},
        {{{"mode", "body"}, {"body", R"({"data": {"access_token": 5}})"}}, "decodingError"},
        {{{"mode", "body"}, {"body", R"({"data": null})"}}, "decodingError"},
        {{{"mode", "body"}, {"body", "5"}}, "decodingError"},
        {{{"mode", "malformed"}}, ""},
    };
    KeychainService::saveCredentials("keep@x", "keep");
    for (const auto& [fault, text] : cases) {
        const std::string name = QJsonDocument(fault).toJson(QJsonDocument::Compact).toStdString();
        service->fault(fault);
        const auto r = login(StudyService::demoEmail(), StudyService::demoPassword());
        ASSERT_TRUE(r && !r->ok()) << name;
        if (*text)
            EXPECT_EQ(str(textForm(r->error())), text) << name;
        else
            EXPECT_NE(decodeErrorOf(r), nullptr) << name << ": " << describe(r);
        EXPECT_FALSE(KeychainService::getAccessToken().has_value()) << name;
        EXPECT_EQ(KeychainService::getCredentials()->email, QString("keep@x")) << name;
    }
}

// ---- status errors ---------------------------------------------------------------

TEST_F(Client, ServerErrorsCarryStatusAndBodyText)
{
    signedIn();
    const std::pair<QJsonObject, const char*> cases[] = {
        {{{"mode", "status"}, {"status", 404}, {"body", ""}}, "serverError(404, \"\")"},
        {{{"mode", "status"}, {"status", 503}, {"body", "caf\xc3\xa9"}}, "serverError(503, \"caf\xc3\xa9\")"},
    };
    for (const auto& [fault, text] : cases) {
        service->fault(fault);
        const auto r = get("/journal");
        ASSERT_TRUE(r && !r->ok()) << text;
        EXPECT_EQ(str(textForm(r->error())), text);
    }
    // A 3xx without a Location header is an answer, not a broken redirect.
    service->fault({{"mode", "status"}, {"status", 302}, {"body", "moved"}});
    const auto moved = get("/journal");
    EXPECT_TRUE(describe(moved).starts_with("serverError(302, ")) << describe(moved);
}

// What a server of our own does with each request (headers and a
// Content-Length body): answers with the next of `replies` (the last one
// repeats), then writes `trickle` every `trickleMs` for as long as the client
// listens, or else closes the connection unless told to keep it.
struct Script {
    QList<QByteArray> replies;
    QByteArray trickle = {};
    int trickleMs = 0;
    bool keepOpen = false;
};

// A server for answers the study service cannot give: redirects, lies about
// lengths, trickles, silence.
class RawServer : public QTcpServer {
public:
    explicit RawServer(Script script)
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, [this, script] {
            while (QTcpSocket* s = nextPendingConnection()) {
                auto pending = std::make_shared<QByteArray>();
                connect(s, &QTcpSocket::readyRead, s, [this, s, script, pending] {
                    const QByteArray bytes = s->readAll();
                    received += bytes;
                    *pending += bytes;
                    static const QRegularExpression length("\r\ncontent-length: *(\\d+)", QRegularExpression::CaseInsensitiveOption);
                    const qsizetype end = pending->indexOf("\r\n\r\n");
                    const auto m = length.match(QString::fromLatin1(pending->left(end)));
                    if (end < 0 || pending->size() < end + 4 + (m.hasMatch() ? m.captured(1).toInt() : 0))
                        return;
                    pending->clear();
                    s->write(script.replies.at(std::min(requests++, int(script.replies.size()) - 1)));
                    if (!script.trickle.isEmpty()) {
                        auto* t = new QTimer(s);
                        connect(t, &QTimer::timeout, s, [s, script] { s->write(script.trickle); });
                        t->start(script.trickleMs);
                    } else if (!script.keepOpen) {
                        s->disconnectFromHost();
                    }
                });
            }
        });
    }
    QString baseURL() const { return QStringLiteral("http://127.0.0.1:%1/api").arg(serverPort()); }
    int requests = 0;
    QByteArray received;
};

TEST_F(Client, RedirectToAnotherHostIsNotFollowed)
{
    KeychainService::saveAccessToken("secret-token");
    RawServer target({{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}"}});
    const QByteArray location = QStringLiteral("http://localhost:%1/api/journal").arg(target.serverPort()).toUtf8();
    RawServer redirector({{"HTTP/1.1 307 Temporary Redirect\r\nLocation: " + location
                           + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"}});
    qputenv("TAVLO_API_BASE_URL", redirector.baseURL().toUtf8());
    const auto r = get("/journal");
    ASSERT_TRUE(r.has_value());
    EXPECT_FALSE(r->ok()) << describe(r);
    EXPECT_EQ(target.requests, 0);
    EXPECT_FALSE(target.received.contains("secret-token"));
}

// Whatever a server does below HTTP ends in one answer, a transport error at
// the latest when the deadline of the whole request has passed (never
// earlier, at most a second later), and a POST never reaches it twice nor is
// turned into a GET by a redirect.
TEST_F(Client, MisbehavingServersEndInOneAnswerWithinTheDeadline)
{
    KeychainService::saveAccessToken("secret-token");
    const Timing::ScopedScale shorter(0.1); // 15 s -> 1.5 s
    const double deadlineMs = Timing::scaled(Timing::requestTimeout) * 1000;
    const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}", timeout = "Error Domain=QNetworkReply Code=4 ",
                     lost = "Error Domain=QNetworkReply Code=2 ";
    const auto moved = [](const char* status) {
        return QByteArray("HTTP/1.1 ") + status + "\r\nLocation: /api/elsewhere\r\nContent-Length: 5\r\n\r\nmoved";
    };
    const struct {
        const char* name;
        const char* method;
        Script script;
        QByteArray outcome; // what describe() starts with
        int requests;       // that reached the server; -1: any
        bool timed;         // ends by the deadline
    } rows[] = {
        {"silent", "GET", {{""}, {}, 0, true}, timeout, 1, true},
        {"trickling body", "GET", {{"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n"}, "x", 100}, timeout, 1, true},
        {"endless headers", "GET", {{"HTTP/1.1 200 OK\r\n"}, "X-Filler: 0123456789\r\n", 20}, timeout, 1, true},
        {"body shorter than its length", "GET", {{"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n{}"}, {}, 0, true}, timeout, 1, true},
        {"body shorter than its length, closed", "GET", {{"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n{}"}}, lost, -1, false},
        {"body longer than its length", "GET", {{ok + "junk"}}, "ok", 1, false},
        {"broken chunking", "GET", {{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n{}\r\n0\r\n\r\n"}}, "ok", 1, false},
        {"not HTTP", "GET", {{"SSH-2.0-OpenSSH_9.2\r\n\r\n"}}, "Error Domain=QNetworkReply", -1, false},
        {"non-UTF-8 error body", "GET", {{"HTTP/1.1 500 Oops\r\nContent-Length: 2\r\n\r\n\xff\xfe"}}, "serverError(500, \"Unknown error\")", 1, false},
        {"dropped GET", "GET", {{""}}, lost, -1, false}, // Qt may send a GET again: harmless
        {"dropped POST", "POST", {{""}}, lost, 1, false},
        {"302 to a POST", "POST", {{moved("302 Found"), ok}}, "serverError(302, \"moved\")", 1, false},
        {"307 to a POST", "POST", {{moved("307 Temporary Redirect"), ok}}, "serverError(307, \"moved\")", 1, false},
        {"302 to a GET", "GET", {{moved("302 Found"), ok}}, "ok", 2, false},
    };
    for (const auto& row : rows) {
        RawServer server(row.script);
        qputenv("TAVLO_API_BASE_URL", server.baseURL().toUtf8());
        QElapsedTimer clock;
        clock.start();
        const auto r = get("/reviews", row.method,
                           row.method == QLatin1String("POST") ? std::optional(QByteArray(R"({"card_id": 5, "quality": 1})")) : std::nullopt);
        const qint64 elapsed = clock.elapsed();
        EXPECT_TRUE(describe(r).starts_with(row.outcome.toStdString())) << row.name << ": " << describe(r);
        EXPECT_TRUE(row.requests < 0 || server.requests == row.requests) << row.name << ": " << server.requests;
        EXPECT_TRUE(row.timed ? elapsed >= deadlineMs && elapsed < deadlineMs + 1000 : elapsed < deadlineMs)
            << row.name << ": " << elapsed << " ms";
    }
}

// ---- transport failures ----------------------------------------------------------------

TEST_F(Client, RefusedConnectionIsATransportError)
{
    KeychainService::saveAccessToken("t");
    QTcpServer probe; // a free port, closed again
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
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

TEST_F(Client, ResponsesAreReadUpTo16MiBAndAbortedBeyond)
{
    signedIn();
    service->fault({{"mode", "oversized"}, {"bytes", 16 * 1024 * 1024}});
    const auto atCap = get("/journal");
    ASSERT_TRUE(atCap && atCap->ok()) << describe(atCap);
    EXPECT_EQ(atCap->value().size(), 16 * 1024 * 1024);

    service->fault({{"mode", "oversized"}, {"bytes", 17 * 1024 * 1024}});
    const auto r = get("/journal");
    const TransportError* e = transportErrorOf(r);
    ASSERT_NE(e, nullptr) << describe(r);
    EXPECT_EQ(e->code, TransportError::responseTooLarge);
    EXPECT_TRUE(e->description.contains("16 MiB")) << str(e->description);
    EXPECT_TRUE(e->textForm().startsWith("Error Domain=TavloAPI Code=-2")) << str(e->textForm());
}

// ---- at most once ---------------------------------------------------------------

// A POST reaches the service once per sending even when the connection drops
// before the answer (Qt would send it again by itself); the caller's resend
// and the repeat after a re-login carry the same key, so the service applies
// the answer once.
TEST_F(Client, AnAnswerIsAppliedOnceWhateverHappensToTheConnection)
{
    signedIn();
    ASSERT_TRUE(get("/journal")->ok()); // a kept-alive connection for the POST to find
    service->reset();
    service->fault({{"mode", "drop"}, {"path", "/api/reviews"}});
    QString key;
    const auto dropped = await<void>([&](Callback<void> done) { key = CardService::submitReview(5, 1, nullptr, done); });
    ASSERT_NE(transportErrorOf(dropped), nullptr) << describe(dropped);
    EXPECT_EQ(transportErrorOf(dropped)->code, int(QNetworkReply::RemoteHostClosedError));
    EXPECT_EQ(callsOf(service->requests()), QStringList{"POST /api/reviews"});

    service->expireTokens();
    for (int resend = 0; resend < 2; ++resend) {
        const auto r = await<void>([&](Callback<void> done) { CardService::submitReview(5, 1, nullptr, done, key); });
        EXPECT_TRUE(r && r->ok()) << describe(r);
    }
    const QJsonArray requests = service->requests();
    EXPECT_EQ(callsOf(requests), (QStringList{"POST /api/reviews", "POST /api/reviews", "POST /api/auth/login",
                                              "POST /api/reviews", "POST /api/reviews"}));
    for (const QJsonValue& request : requests)
        EXPECT_EQ(header(request, "idempotency-key"), request["path"] == "/api/reviews" ? key : QString());
    EXPECT_EQ(service->state()["reviews"].toArray().size(), 1);
}

// The service keeps the answers to keys in its data file: a resend after a
// restart (and the re-login it needs) is answered, not applied again.
TEST_F(Client, AKeptAnswerOutlivesARestartOfTheService)
{
    QTemporaryDir dir;
    StudyService durable({"--data", dir.filePath("data.json")});
    qputenv("TAVLO_API_BASE_URL", durable.baseURL().toUtf8());
    ASSERT_TRUE(signInThroughClient());
    QString key;
    const auto first = await<void>([&](Callback<void> done) { key = CardService::submitReview(5, 1, nullptr, done); });
    ASSERT_TRUE(first && first->ok()) << describe(first);
    durable.restart();
    const auto again = await<void>([&](Callback<void> done) { CardService::submitReview(5, 1, nullptr, done, key); });
    EXPECT_TRUE(again && again->ok()) << describe(again);
    EXPECT_EQ(callsOf(durable.requests()), (QStringList{"POST /api/reviews", "POST /api/auth/login", "POST /api/reviews"}));
    EXPECT_EQ(durable.state()["reviews"].toArray().size(), 1);
}

// ---- the service address ------------------------------------------------------------

TEST_F(Client, OnlyHttpsOrLoopbackBaseURLsAreUsed)
{
    // Read from the environment on every call, without the trailing slash.
    qputenv("TAVLO_API_BASE_URL", "https://study.example.org/api/");
    EXPECT_EQ(str(APIClient::baseURL()), "https://study.example.org/api");
    const std::pair<const char*, bool> cases[] = {
        {"https://study.example.org/api", true}, {"http://127.0.0.1:8787/api", true}, {"http://127.9.8.7/api", true},
        {"http://[::1]:8787/api", true},         {"http://localhost:1/api", true},   {"http://LocalHost/api", true},
        {"http://example.org/api", false},       {"http://10.0.0.1/api", false},     {"http://127.0.0.1.example.org/api", false},
        {"ftp://127.0.0.1/api", false},          {"not a url", false},               {"https:///api", false},
    };
    for (const auto& [url, allowed] : cases) {
        qputenv("TAVLO_API_BASE_URL", url);
        EXPECT_EQ(APIClient::baseURLProblem().isEmpty(), allowed) << url << ": " << str(APIClient::baseURLProblem());
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
    for (const QString& line : logs.messages())
        EXPECT_FALSE(line.startsWith("Login request to")) << str(line);
}

// ---- card service ------------------------------------------------------------------------

TEST_F(Client, FetchTroubleCardsLogLines)
{
    signedIn();
    // 300 user-perceived characters of 2 or more bytes each: the cut is by
    // character, the count by byte.
    const QString characters[] = {QString::fromUtf8("e\xcc\x81"), QString::fromUtf8("\xc3\xa6"), QString::fromUtf8("👍🏽")};
    QString longText = "{\"data\": [], \"pad\": \"", first200 = longText; // 21 characters so far
    for (int i = 0; i < 300; ++i) {
        longText += characters[i % 3];
        if (i < 200 - 21)
            first200 += characters[i % 3];
    }
    const QByteArray longBody = (longText + "\"}").toUtf8();

    const struct {
        const char* name;
        QByteArray body;
        QString rawLine;  // the exact "API raw response" line
        bool decodeError; // whether a "Decode error: " line follows
    } cases[] = {
        {"empty list", R"({"data": []})", R"(API raw response (12 bytes): {"data": []})", false},
        {"truncated", R"({"data": [)", R"(API raw response (10 bytes): {"data": [)", true},
        {"pretty-printed", "{\n  \"data\": []\r\n}", R"(API raw response (17 bytes): {\n  "data": []\r\n})", false},
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

TEST_F(Client, FetchLogsEvenWhenTheCallerIsGone)
{
    signedIn();
    service->fault({{"mode", "body"}, {"body", R"({"data": []})"}});
    auto* context = new QObject;
    bool called = false;
    CardService::fetchTroubleCards(context, [&](Result<QList<TroubleCard>>) { called = true; });
    delete context;
    ASSERT_TRUE(waitUntil([&] { return !logs.startingWith("API raw response").isEmpty(); }, 5000));
    EXPECT_EQ(str(logs.messages().last()), R"(API raw response (12 bytes): {"data": []})");
    EXPECT_FALSE(called);
}

// ---- journal service ----------------------------------------------------------------

// normalizeText and createQuickNote send only the text and wait 30 s, the
// other calls and a sign-in 15 s; scaled down.
TEST_F(Client, TextEndpointsSendOnlyTheTextAndWaitTwiceAsLong)
{
    signedIn();
    const Timing::ScopedScale shorter(0.08); // 15 s -> 1.2 s, 30 s -> 2.4 s
    service->fault({{"mode", "delay"}, {"delayMs", 1800}, {"count", 3}});
    const auto normalized = await<NormalizeResult>([](auto done) { JournalService::normalizeText("some note text", nullptr, done); });
    ASSERT_TRUE(normalized && normalized->ok()) << describe(normalized);
    EXPECT_FALSE(normalized->value().title.isEmpty());
    const auto note = await<JournalEntryData>([](auto done) { JournalService::createQuickNote("remember: hund = dog", nullptr, done); });
    EXPECT_TRUE(note && note->ok()) << describe(note);
    const QJsonArray requests = service->requests();
    ASSERT_EQ(callsOf(requests), (QStringList{"POST /api/journal/normalize", "POST /api/journal/quick-note"}));
    EXPECT_EQ(bodyOf(requests[0]), (QJsonObject{{"text", "some note text"}}));
    EXPECT_EQ(bodyOf(requests[1]), (QJsonObject{{"text", "remember: hund = dog"}}));
    const auto listed = await<QList<JournalEntryData>>([](auto done) { JournalService::listEntries(nullptr, done); });
    const TransportError* e = transportErrorOf(listed);
    ASSERT_NE(e, nullptr) << describe(listed);
    EXPECT_EQ(e->code, int(QNetworkReply::TimeoutError));
    EXPECT_EQ(str(e->description), "The request timed out.");
    service->fault({{"mode", "delay"}, {"delayMs", 1800}, {"path", "/api/auth/login"}}); // a sign-in waits 15 s
    const auto l = login(StudyService::demoEmail(), StudyService::demoPassword());
    ASSERT_NE(transportErrorOf(l), nullptr) << describe(l);
    EXPECT_EQ(transportErrorOf(l)->code, int(QNetworkReply::TimeoutError));
}

// ---- the error model --------------------------------------------------------------

// A refused sign-in sends the learner back to the form; nothing else does.
TEST(ErrorModel, RefusedLoginAndDescriptions)
{
    EXPECT_TRUE(APIError::unauthorized().isRefusedLogin());
    EXPECT_TRUE(APIError::serverError(401, "Login failed").isRefusedLogin());
    EXPECT_FALSE(APIError::serverError(500, "x").isRefusedLogin());
    EXPECT_FALSE(APIError::serverError(403, "x").isRefusedLogin());
    EXPECT_FALSE(APIError::decodingError().isRefusedLogin());
    EXPECT_FALSE(APIError::networkError("a", "b").isRefusedLogin());
    EXPECT_EQ(str(localizedDescription(APIError::networkError("x", "y"))), "y");
    EXPECT_EQ(str(localizedDescription(APIError::serverError(500, "oops"))), "Server error (500): oops");
    EXPECT_EQ(str(textForm(APIError::serverError(404, "%1 %2"))), "serverError(404, \"%1 %2\")");
}

} // namespace

// The client over HTTPS, with a certificate authority made for this run and
// trusted by this test process alone: the whole round trip with the study
// service works, a certificate from an unknown authority or for another name
// is refused, and HTTP/2 (nghttpd) carries a keyed POST once.
#include "ServiceSupport.h"

#include "api/CardService.h"
#include "api/JournalService.h"

#include <QNetworkReply>
#include <QProcess>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace {

class Https : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(certify("ca", "study", "IP:127.0.0.1"));
        QSslConfiguration trusting = plain;
        ASSERT_TRUE(trusting.addCaCertificates(dir.filePath("ca.pem")));
        QSslConfiguration::setDefaultConfiguration(trusting);
        KeychainService::clearAll();
        KeychainService::saveAccessToken("secret-token");
    }
    void TearDown() override
    {
        QSslConfiguration::setDefaultConfiguration(plain);
        KeychainService::clearAll();
    }

    bool openssl(const QStringList& args)
    {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(QStringLiteral("openssl"), args);
        return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
    // NAME.pem and NAME.key, signed by the authority CA (made when missing) for the subject alternative name `san`.
    bool certify(const QString& ca, const QString& name, const QString& san)
    {
        const QStringList key{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-subj", "/CN=" + name};
        QFile ext(dir.filePath(name + ".ext"));
        return ext.open(QIODevice::WriteOnly)
               && ext.write("basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=" + san.toUtf8()) > 0
               && ext.flush()
               && (QFile::exists(dir.filePath(ca + ".pem"))
                   || openssl(QStringList{"req", "-x509", "-days", "2", "-keyout", ca + ".key", "-out", ca + ".pem"} + key))
               && openssl(QStringList{"req", "-keyout", name + ".key", "-out", name + ".csr"} + key)
               && openssl({"x509", "-req", "-days", "2", "-in", name + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key",
                           "-CAcreateserial", "-extfile", name + ".ext", "-out", name + ".pem"});
    }
    QStringList tls(const QString& name) const
    {
        return {"--tls-cert", dir.filePath(name + ".pem"), "--tls-key", dir.filePath(name + ".key")};
    }

    QTemporaryDir dir;
    const QSslConfiguration plain = QSslConfiguration::defaultConfiguration();
};

TEST_F(Https, RoundTripWithTheTestAuthorityAndRefusalsWithout)
{
    ASSERT_TRUE(certify("ca", "misnamed", "DNS:elsewhere.invalid") && certify("unknown-ca", "untrusted", "IP:127.0.0.1"));
    StudyService service(tls("study")), misnamed(tls("misnamed")), untrusted(tls("untrusted"));
    ASSERT_TRUE(service.isRunning() && misnamed.isRunning() && untrusted.isRunning());
    ASSERT_TRUE(service.baseURL().startsWith("https://127.0.0.1:")) << str(service.baseURL());
    for (StudyService* refused : {&untrusted, &misnamed}) {
        qputenv("TAVLO_API_BASE_URL", refused->baseURL().toUtf8());
        const auto r = await<QByteArray>([](auto done) { APIClient::authenticatedRequest("/journal", nullptr, done); });
        ASSERT_NE(transportErrorOf(r), nullptr) << describe(r);
        EXPECT_EQ(transportErrorOf(r)->code, int(QNetworkReply::SslHandshakeFailedError)) << describe(r);
    }

    qputenv("TAVLO_API_BASE_URL", service.baseURL().toUtf8());
    ASSERT_TRUE(signInThroughClient());
    const auto cards = await<QList<TroubleCard>>([](auto done) { CardService::fetchTroubleCards(nullptr, done); });
    ASSERT_TRUE(cards && cards->ok() && cards->value().size() == 10) << describe(cards);
    const auto review = await<void>([&](auto done) { CardService::submitReview(cards->value()[0].id, 4, nullptr, done); });
    EXPECT_TRUE(review && review->ok()) << describe(review);
    const auto created = await<JournalEntryData>(
        [](auto done) { JournalService::createEntry(QString::fromUtf8("Über TLS"), "sent encrypted", {"tls"}, nullptr, done); });
    ASSERT_TRUE(created && created->ok()) << describe(created);
    const auto listed = await<QList<JournalEntryData>>([](auto done) { JournalService::listEntries(nullptr, done); });
    ASSERT_TRUE(listed && listed->ok() && !listed->value().isEmpty()) << describe(listed);
    EXPECT_EQ(listed->value().first().title, QString::fromUtf8("Über TLS"));
    const auto deleted = await<void>([&](auto done) { JournalService::deleteEntry(created->value().id, nullptr, done); });
    EXPECT_TRUE(deleted && deleted->ok()) << describe(deleted);
    EXPECT_EQ(service.state()["reviews"].toArray().size(), 1);
}

// The study service speaks HTTP/1.1 only; where a server offers HTTP/2 Qt
// takes it, and a POST still goes out once, with its key and its whole body.
TEST_F(Https, Http2CarriesAKeyedPostOnce)
{
    QTcpServer probe; // a free port, closed again for the server
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    QProcess server;
    server.start("/usr/sbin/nghttpd", {"-v", "--echo-upload", "-a", "127.0.0.1", "-d", dir.path(), QString::number(port),
                                       dir.filePath("study.key"), dir.filePath("study.pem")});
    ASSERT_TRUE(server.waitForStarted()) << "nghttpd (nghttp2-server) is needed: " << str(server.errorString());
    ASSERT_TRUE(waitUntil([&] {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        return s.waitForConnected(100);
    }, 10000));
    qputenv("TAVLO_API_BASE_URL", QStringLiteral("https://127.0.0.1:%1/api").arg(port).toUtf8());
    const QByteArray body = R"({"card_id": 5, "quality": 1})";
    QString key;
    const auto echoed = await<QByteArray>([&](auto done) {
        key = APIClient::authenticatedRequest("/reviews", "POST", body, false, 15, nullptr, done);
    });
    EXPECT_TRUE(echoed && echoed->ok() && echoed->value() == body) << describe(echoed);
    server.terminate();
    server.waitForFinished();
    const QByteArray frames = server.readAllStandardOutput();
    EXPECT_TRUE(frames.contains("recv (stream_id=1) :method: POST")) << "HTTP/2 was not used";
    EXPECT_EQ(frames.count(":method: POST"), 1);
    EXPECT_EQ(frames.count("recv (stream_id=1) idempotency-key: " + key.toLatin1()), 1);
}

} // namespace

// tavlo-study-service: a local stand-in for the study service, for development,
// tests and a first run without an account elsewhere.
#include "service/DataFile.h"
#include "service/StudyServer.h"
#include "service/StudyStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslKey>

#include <cstdio>
#include <optional>

namespace {

struct Tls {
    QList<QSslCertificate> chain;
    QSslKey key;
};

std::optional<Tls> loadTls(const QString& certPath, const QString& keyPath, QString* error)
{
    Tls tls;
    tls.chain = QSslCertificate::fromPath(certPath, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
    if (tls.chain.isEmpty()) {
        *error = QStringLiteral("%1 holds no PEM certificate").arg(certPath);
        return std::nullopt;
    }
    QFile file(keyPath);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(keyPath, file.errorString());
        return std::nullopt;
    }
    const QByteArray pem = file.readAll();
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa}) {
        tls.key = QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!tls.key.isNull())
            return tls;
    }
    *error = QStringLiteral("%1 holds no unencrypted PEM private key (EC or RSA)").arg(keyPath);
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavlo-study-service"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Development study service for TavloPopup (loopback only)."));
    parser.addHelpOption();
    const QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("TCP port on 127.0.0.1 (0: any free port)."),
                                     QStringLiteral("N"), QStringLiteral("8787"));
    const QCommandLineOption dataOpt(QStringLiteral("data"), QStringLiteral("Keep accounts, cards, reviews and journal in this JSON file."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption ttlOpt(QStringLiteral("token-ttl"), QStringLiteral("Lifetime of access tokens in seconds."),
                                    QStringLiteral("SECONDS"), QStringLiteral("86400"));
    const QCommandLineOption quietOpt(QStringLiteral("quiet"), QStringLiteral("Do not log requests to stderr."));
    const QCommandLineOption controlOpt(
        QStringLiteral("test-control"),
        QStringLiteral("For tests: record every request (tokens and passwords included) and answer the /control "
                       "endpoints (faults, reseed) to any local process."));
    const QCommandLineOption certOpt(QStringLiteral("tls-cert"), QStringLiteral("Speak HTTPS with this PEM certificate (chain)."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption keyOpt(QStringLiteral("tls-key"), QStringLiteral("The PEM private key of --tls-cert."),
                                    QStringLiteral("FILE"));
    parser.addOptions({portOpt, dataOpt, ttlOpt, quietOpt, controlOpt, certOpt, keyOpt});
    parser.process(app);

    auto fail = [](const QString& message) {
        std::fprintf(stderr, "tavlo-study-service: %s\n", qPrintable(message));
        return 2;
    };
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
    bool ok = false;
    const uint port = parser.value(portOpt).toUInt(&ok);
    if (!ok || port > 65535)
        return fail(QStringLiteral("--port needs a number from 0 to 65535"));
    // Fractions are allowed so tests can watch a token run out quickly.
    const double ttl = parser.value(ttlOpt).toDouble(&ok);
    if (!ok || !(ttl >= 0.001) || ttl > 10.0 * 365 * 86400)
        return fail(QStringLiteral("--token-ttl needs a positive number of seconds"));

    study::StudyStore store;
    study::StudyServer::Options options;
    options.tokenTtlSeconds = ttl;
    options.quiet = parser.isSet(quietOpt);
    options.testControl = parser.isSet(controlOpt);
    if (parser.isSet(certOpt) != parser.isSet(keyOpt))
        return fail(QStringLiteral("--tls-cert and --tls-key go together"));
    std::optional<Tls> tls;
    if (parser.isSet(certOpt)) {
        QString error;
        tls = loadTls(parser.value(certOpt), parser.value(keyOpt), &error);
        if (!tls)
            return fail(error);
    }
    if (parser.isSet(dataOpt)) {
        const QString path = parser.value(dataOpt);
        QString error;
        if (!study::loadDataFile(path, &store, &error))
            return fail(error);
        options.persist = [path](const study::StudyStore& s) {
            QString error;
            if (study::saveDataFile(path, s, &error))
                return true;
            std::fprintf(stderr, "tavlo-study-service: %s\n", qPrintable(error));
            return false;
        };
    }

    study::StudyServer server(&store, options);
    if (tls)
        server.sslSetup(tls->chain.first(), tls->key);
    const quint16 bound = server.listen(QHostAddress::LocalHost, quint16(port));
    if (bound == 0)
        return fail(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(port));

    std::printf("listening on %s://127.0.0.1:%u/api\n", tls ? "https" : "http", unsigned(bound));
    std::fflush(stdout);
    return app.exec();
}

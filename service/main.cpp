// tavlo-study-service: a local stand-in for the study service, for development,
// tests and a first run without an account elsewhere.
#include "service/DataFile.h"
#include "service/StudyServer.h"
#include "service/StudyStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>

#include <cstdio>

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
    parser.addOptions({portOpt, dataOpt, ttlOpt, quietOpt});
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
    const quint16 bound = server.listen(QHostAddress::LocalHost, quint16(port));
    if (bound == 0)
        return fail(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(port));

    std::printf("listening on http://127.0.0.1:%u/api\n", unsigned(bound));
    std::fflush(stdout);
    return app.exec();
}

// tavlo-study-service: the learner's own study backend on this machine, and
// the stand-in tests and a first run use; also the commands on its database.
#include "service/Backup.h"
#include "service/Commands.h"
#include "service/SqlStore.h"
#include "service/StudyServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QTimer>
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

bool isSqliteFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && study::SqlStore::isDatabaseHeader(file.read(16));
}

std::optional<study::Snapshot> readJsonData(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = QStringLiteral("%1 is neither a SQLite database nor valid JSON: %2").arg(path, parse.errorString());
        return std::nullopt;
    }
    QString why;
    std::optional<study::Snapshot> data = study::snapshotFromJson(doc.object(), &why);
    if (!data)
        *error = QStringLiteral("%1: %2").arg(path, why);
    return data;
}

// The imported JSON file stays beside the database under a name that says so;
// it is never deleted.
void keepImported(const QString& json, const QString& db)
{
    QString kept = QFileInfo(db).absoluteDir().filePath(QFileInfo(json).fileName() + QStringLiteral(".imported"));
    for (int n = 2; QFileInfo::exists(kept); ++n)
        kept = QFileInfo(db).absoluteDir().filePath(QFileInfo(json).fileName() + QStringLiteral(".imported-%1").arg(n));
    if (QFile::rename(json, kept) || QFile::copy(json, kept))
        std::fprintf(stderr, "tavlo-study-service: imported %s into %s; the file is kept as %s\n", qPrintable(json),
                     qPrintable(db), qPrintable(kept));
    else
        std::fprintf(stderr, "tavlo-study-service: imported %s into %s\n", qPrintable(json), qPrintable(db));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavlo-study-service"));
    if (study::isCommand(app.arguments().mid(1)))
        return study::runCommand(app.arguments().mid(1));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Study service for TavloPopup (loopback only). Commands: account add|passwd|list|remove, "
                       "backup, import, export; run one without arguments for its usage."));
    parser.addHelpOption();
    const QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("TCP port on 127.0.0.1 (0: any free port)."),
                                     QStringLiteral("N"), QStringLiteral("8787"));
    const QCommandLineOption dbOpt(QStringLiteral("db"), QStringLiteral("Keep accounts, cards, reviews and journal in this SQLite database."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption dataOpt(
        QStringLiteral("data"),
        QStringLiteral("A JSON data file of an earlier version to import once (the database is FILE with .sqlite "
                       "unless --db is given), or the database itself."),
        QStringLiteral("FILE"));
    const QCommandLineOption backupOpt(QStringLiteral("backup-dir"),
                                       QStringLiteral("Keep the last 7 daily copies of the database in this folder."),
                                       QStringLiteral("DIR"));
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
    parser.addOptions({portOpt, dbOpt, dataOpt, backupOpt, ttlOpt, quietOpt, controlOpt, certOpt, keyOpt});
    parser.process(app);

    auto fail = [](const QString& message) { return study::complain(message, 2); };
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

    // --db names the database; --data names an old JSON file to import once,
    // or, when it already is a database, the database.
    QString db = parser.value(dbOpt);
    QString json;
    if (parser.isSet(dataOpt)) {
        const QString data = parser.value(dataOpt);
        if (isSqliteFile(data) && db.isEmpty())
            db = data;
        else if (QFileInfo::exists(data))
            json = data;
        if (db.isEmpty()) {
            const QFileInfo info(data);
            db = info.dir().filePath(info.completeBaseName() + QStringLiteral(".sqlite"));
        }
    } else if (!db.isEmpty()) {
        const QString beside = QFileInfo(db).dir().filePath(QStringLiteral("data.json"));
        if (QFileInfo::exists(beside) && !isSqliteFile(beside))
            json = beside;
    }
    if (parser.isSet(backupOpt) && db.isEmpty())
        return fail(QStringLiteral("--backup-dir needs a database (--db FILE)"));
    // Read the JSON before the database exists, so a bad file leaves nothing behind.
    std::optional<study::Snapshot> imported;
    if (!json.isEmpty() && QFileInfo(db).size() == 0) {
        QString error;
        imported = readJsonData(json, &error);
        if (!imported)
            return fail(error);
    }
    QString error;
    study::SqlStore::OpenOptions openOptions;
    openOptions.exclusive = true;
    openOptions.seedNew = !imported;
    const std::unique_ptr<study::SqlStore> store = study::SqlStore::open(db, openOptions, &error);
    if (!store)
        return fail(error);
    if (imported && store->wasCreated()) {
        if (!store->replaceAll(*imported, &error))
            return fail(QStringLiteral("cannot import %1 into %2: %3").arg(json, db, error));
        keepImported(json, db);
    }

    QTimer backups;
    if (parser.isSet(backupOpt)) {
        const QString dir = parser.value(backupOpt);
        auto daily = [dir, s = store.get()] {
            QString why;
            if (!study::keepDailyBackups(*s, dir, QDate::currentDate(), 7, &why))
                std::fprintf(stderr, "tavlo-study-service: daily backup in %s failed: %s\n", qPrintable(dir),
                             qPrintable(why));
        };
        daily();
        QObject::connect(&backups, &QTimer::timeout, daily);
        backups.start(3600 * 1000);
    }

    study::StudyServer server(store.get(), options);
    if (tls)
        server.sslSetup(tls->chain.first(), tls->key);
    const quint16 bound = server.listen(QHostAddress::LocalHost, quint16(port));
    if (bound == 0)
        return fail(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(port));

    std::printf("listening on %s://127.0.0.1:%u/api\n", tls ? "https" : "http", unsigned(bound));
    std::fflush(stdout);
    return app.exec();
}

// Test fixture: runs the development study service ($TAVLO_SERVICE_BIN) on a
// free loopback port for the lifetime of the object, and drives its /control
// endpoints. The control calls block on a local event loop, which is fine in
// tests and nowhere else.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <memory>

class QProcess;
class QNetworkAccessManager;

class StudyService {
public:
    // Starts $TAVLO_SERVICE_BIN --port 0 --quiet [--test-control] <extraArgs>
    // and waits (<= 10 s) for its "listening on" line. A failure is reported as
    // a test failure and leaves isRunning() false.
    explicit StudyService(QStringList extraArgs = {}, bool testControl = true);
    ~StudyService();
    StudyService(const StudyService&) = delete;
    StudyService& operator=(const StudyService&) = delete;

    bool isRunning() const;
    QString baseURL() const;   // "http://127.0.0.1:PORT/api" (https with --tls-cert)
    quint16 port() const;

    void reset();
    void reseed();
    void fault(const QJsonObject& params);
    void expireTokens();
    QJsonArray requests();     // the "data" array of /control/requests
    QJsonObject state();       // the "data" object of /control/state

    void stop();
    void restart();            // same port and arguments

    static QString demoEmail();       // "demo@tavlo.app"
    static QString demoPassword();    // "tavlo-demo"
    static QString secondEmail();     // "second@tavlo.app"
    static QString secondPassword();  // "tavlo-second"

    // One plain HTTP exchange with the service, for tests of the service itself
    // and for setting up state. `path` is appended to the host root, so it
    // starts with "/api/..." or "/control/...".
    struct Response {
        int status = 0;               // 0: no HTTP response (see `error`)
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        QString error;                // transport error text, empty on success
        QJsonObject json() const;     // the body as a JSON object (empty if it is not one)
    };
    Response send(const QByteArray& method, const QString& path, const QByteArray& body = {},
                  const QString& token = {}, int timeoutMs = 10000, const QByteArray& idempotencyKey = {});
    // Signs in and returns the access token (empty on failure).
    QString login(const QString& email = demoEmail(), const QString& password = demoPassword());

private:
    bool start(const QStringList& portArgs, bool reportFailure);
    QJsonValue control(const QByteArray& method, const QString& path, const QJsonObject& body = {});

    QStringList extraArgs_;
    QString scheme_ = QStringLiteral("http");
    quint16 port_ = 0;
    std::unique_ptr<QProcess> process_;
    std::unique_ptr<QNetworkAccessManager> network_;
};

#include "StudyService.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/prctl.h>

namespace {

constexpr int kStartTimeoutMs = 10000;

} // namespace

StudyService::StudyService(QStringList extraArgs, bool testControl)
    : extraArgs_(std::move(extraArgs)), network_(std::make_unique<QNetworkAccessManager>())
{
    if (testControl)
        extraArgs_.prepend(QStringLiteral("--test-control"));
    network_->setProxy(QNetworkProxy::NoProxy);
    start(QStringList{QStringLiteral("--port"), QStringLiteral("0")}, true);
}

StudyService::~StudyService() { stop(); }

bool StudyService::start(const QStringList& portArgs, bool reportFailure)
{
    const QString bin = qEnvironmentVariable("TAVLO_SERVICE_BIN");
    if (bin.isEmpty()) {
        ADD_FAILURE() << "TAVLO_SERVICE_BIN is not set; the study service binary is unknown";
        return false;
    }
    process_ = std::make_unique<QProcess>();
    // Keep the service's own complaints visible in the test output.
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test binary that crashes or is killed must not leave services behind.
    process_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    QStringList args = portArgs;
    args << QStringLiteral("--quiet") << extraArgs_;
    process_->start(bin, args);
    if (!process_->waitForStarted(kStartTimeoutMs)) {
        ADD_FAILURE() << "cannot start " << bin.toStdString() << ": "
                      << process_->errorString().toStdString();
        process_.reset();
        return false;
    }
    port_ = 0;
    static const QRegularExpression line(QStringLiteral("^listening on (https?)://127\\.0\\.0\\.1:(\\d+)/api$"));
    QByteArray out;
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!deadline.hasExpired()) {
        if (process_->canReadLine() || process_->waitForReadyRead(int(deadline.remainingTime()))) {
            while (process_->canReadLine()) {
                const QString text = QString::fromUtf8(process_->readLine()).trimmed();
                const QRegularExpressionMatch m = line.match(text);
                if (m.hasMatch()) {
                    scheme_ = m.captured(1);
                    port_ = quint16(m.captured(2).toUInt());
                    return true;
                }
                out += text.toUtf8() + '\n';
            }
        }
        if (process_->state() != QProcess::Running)
            break;
    }
    if (reportFailure)
        ADD_FAILURE() << "study service did not report \"listening on\" (exit code "
                      << process_->exitCode() << "); stdout: " << out.toStdString();
    stop();
    return false;
}

bool StudyService::isRunning() const
{
    return process_ && process_->state() == QProcess::Running && port_ != 0;
}

QString StudyService::baseURL() const
{
    return QStringLiteral("%1://127.0.0.1:%2/api").arg(scheme_).arg(port_);
}

quint16 StudyService::port() const { return port_; }

void StudyService::stop()
{
    if (!process_)
        return;
    if (process_->state() != QProcess::NotRunning) {
        process_->terminate();
        if (!process_->waitForFinished(5000)) {
            process_->kill();
            process_->waitForFinished(5000);
        }
    }
    process_.reset();
    // Kept-alive connections point at the old process.
    network_->clearConnectionCache();
}

void StudyService::restart()
{
    const quint16 port = port_;
    stop();
    if (port == 0) {
        start(QStringList{QStringLiteral("--port"), QStringLiteral("0")}, true);
        return;
    }
    // The old listening socket is gone at once; retry briefly in case the
    // kernel has not let go of the port yet.
    constexpr int kAttempts = 20;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (start(QStringList{QStringLiteral("--port"), QString::number(port)}, attempt == kAttempts))
            return;
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

StudyService::Response StudyService::send(const QByteArray& method, const QString& path,
                                          const QByteArray& body, const QString& token, int timeoutMs,
                                          const QByteArray& idempotencyKey)
{
    Response out;
    QNetworkRequest request(QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme_).arg(port_).arg(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    if (!idempotencyKey.isEmpty())
        request.setRawHeader("Idempotency-Key", idempotencyKey);
    request.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = network_->sendCustomRequest(request, method, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    out.status = status.isValid() ? status.toInt() : 0;
    out.body = reply->readAll();
    for (const auto& h : reply->rawHeaderPairs())
        out.headers.append({h.first.toLower(), h.second});
    if (out.status == 0)
        out.error = reply->errorString();
    reply->deleteLater();
    return out;
}

QJsonObject StudyService::Response::json() const
{
    return QJsonDocument::fromJson(body).object();
}

QString StudyService::login(const QString& email, const QString& password)
{
    const QByteArray body = QJsonDocument(QJsonObject{{"email", email}, {"password", password}})
                                .toJson(QJsonDocument::Compact);
    const Response r = send("POST", QStringLiteral("/api/auth/login"), body);
    return r.json().value("data").toObject().value("access_token").toString();
}

QJsonValue StudyService::control(const QByteArray& method, const QString& path, const QJsonObject& body)
{
    const Response r = send(method, QStringLiteral("/control") + path,
                            method == "POST" ? QJsonDocument(body).toJson(QJsonDocument::Compact) : QByteArray());
    if (r.status != 200) {
        ADD_FAILURE() << "control call " << method.toStdString() << " /control" << path.toStdString()
                      << " failed: " << r.status << " " << r.error.toStdString() << " "
                      << r.body.toStdString();
        return {};
    }
    return r.json().value("data");
}

void StudyService::reset() { control("POST", QStringLiteral("/reset")); }
void StudyService::reseed() { control("POST", QStringLiteral("/reseed")); }
void StudyService::fault(const QJsonObject& params) { control("POST", QStringLiteral("/fault"), params); }
void StudyService::expireTokens() { control("POST", QStringLiteral("/expire-tokens")); }
QJsonArray StudyService::requests() { return control("GET", QStringLiteral("/requests")).toArray(); }
QJsonObject StudyService::state() { return control("GET", QStringLiteral("/state")).toObject(); }

QString StudyService::demoEmail() { return QStringLiteral("demo@tavlo.app"); }
QString StudyService::demoPassword() { return QStringLiteral("tavlo-demo"); }
QString StudyService::secondEmail() { return QStringLiteral("second@tavlo.app"); }
QString StudyService::secondPassword() { return QStringLiteral("tavlo-second"); }

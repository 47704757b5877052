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

StudyService::StudyService(QStringList extraArgs)
    : m_extraArgs(std::move(extraArgs)), m_network(std::make_unique<QNetworkAccessManager>())
{
    m_network->setProxy(QNetworkProxy::NoProxy);
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
    m_process = std::make_unique<QProcess>();
    // Keep the service's own complaints visible in the test output.
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test binary that crashes or is killed must not leave services behind.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    QStringList args = portArgs;
    args << QStringLiteral("--quiet") << m_extraArgs;
    m_process->start(bin, args);
    if (!m_process->waitForStarted(kStartTimeoutMs)) {
        ADD_FAILURE() << "cannot start " << bin.toStdString() << ": "
                      << m_process->errorString().toStdString();
        m_process.reset();
        return false;
    }
    m_port = 0;
    static const QRegularExpression line(QStringLiteral("^listening on http://127\\.0\\.0\\.1:(\\d+)/api$"));
    QByteArray out;
    const QDeadlineTimer deadline(kStartTimeoutMs);
    while (!deadline.hasExpired()) {
        if (m_process->canReadLine() || m_process->waitForReadyRead(int(deadline.remainingTime()))) {
            while (m_process->canReadLine()) {
                const QString text = QString::fromUtf8(m_process->readLine()).trimmed();
                const QRegularExpressionMatch m = line.match(text);
                if (m.hasMatch()) {
                    m_port = quint16(m.captured(1).toUInt());
                    return true;
                }
                out += text.toUtf8() + '\n';
            }
        }
        if (m_process->state() != QProcess::Running)
            break;
    }
    if (reportFailure)
        ADD_FAILURE() << "study service did not report \"listening on\" (exit code "
                      << m_process->exitCode() << "); stdout: " << out.toStdString();
    stop();
    return false;
}

bool StudyService::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running && m_port != 0;
}

QString StudyService::baseURL() const
{
    return QStringLiteral("http://127.0.0.1:%1/api").arg(m_port);
}

quint16 StudyService::port() const { return m_port; }

void StudyService::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_process.reset();
    // Kept-alive connections point at the old process.
    m_network->clearConnectionCache();
}

void StudyService::restart()
{
    const quint16 port = m_port;
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
                                          const QByteArray& body, const QString& token, int timeoutMs)
{
    Response out;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    request.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = m_network->sendCustomRequest(request, method, body);
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

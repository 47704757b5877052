#pragma once
// The development study service on a free loopback port, for the tools and
// benchmarks that want a real backend (the tests have tests/support instead).
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>

#include <memory>

struct ServiceProcess {
    std::unique_ptr<QProcess> process;
    QString baseURL; // "http://127.0.0.1:PORT/api"

    // $TAVLO_SERVICE_BIN, or the service of the same build.
    bool start(QStringList extraArgs = {})
    {
        QString bin = qEnvironmentVariable("TAVLO_SERVICE_BIN");
        if (bin.isEmpty())
            bin = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../service/tavlo-study-service"));
        if (!QFileInfo(bin).isExecutable())
            return false;
        process = std::make_unique<QProcess>();
        process->start(bin, QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--quiet")} + extraArgs);
        if (!process->waitForStarted(5000))
            return false;
        QDeadlineTimer deadline(10000);
        QByteArray out;
        while (!out.contains('\n') && !deadline.hasExpired()) {
            process->waitForReadyRead(100);
            out += process->readAllStandardOutput();
        }
        const qsizetype at = out.indexOf("http://");
        if (at < 0)
            return false;
        baseURL = QString::fromUtf8(out.mid(at).trimmed());
        return true;
    }

    // POST /control/<what> with a JSON body, waiting for the answer.
    void control(const QString& what, const QJsonObject& body = {})
    {
        QNetworkAccessManager network;
        QString root = baseURL;
        root.chop(4); // "/api"
        QNetworkRequest request(QUrl(root + QStringLiteral("/control/") + what));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        QNetworkReply* reply = network.post(request, QJsonDocument(body).toJson());
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        reply->deleteLater();
    }

    ~ServiceProcess()
    {
        if (process) {
            process->kill();
            process->waitForFinished(2000);
        }
    }
};

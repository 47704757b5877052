#pragma once
// The development study service, started on a free loopback port for the
// benchmarks that need a real backend.
#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QString>

#include <memory>

struct Service {
    std::unique_ptr<QProcess> process;
    QString baseURL;

    bool start()
    {
        QString bin = qEnvironmentVariable("TAVLO_SERVICE_BIN");
        if (bin.isEmpty())
            bin = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../service/tavlo-study-service"));
        if (!QFileInfo(bin).isExecutable())
            return false;
        process = std::make_unique<QProcess>();
        process->start(bin, {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--quiet")});
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
    ~Service()
    {
        if (process) {
            process->kill();
            process->waitForFinished(2000);
        }
    }
};

#pragma once
// Shared helpers of the application shell tests: a private log file to read
// the agent's log lines from, and small waits on the event loop.
#include "Log.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

class LogCapture {
public:
    LogCapture()
    {
        path_ = dir_.filePath(QStringLiteral("app.log"));
        LogFile::setPathForTesting(path_);
    }
    ~LogCapture() { LogFile::setPathForTesting(QString()); }

    // The messages logged so far, without their timestamps.
    QStringList messages() const
    {
        QFile f(path_);
        QStringList out;
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const qsizetype at = line.indexOf(" +0000: ");
            if (at >= 0)
                out.append(QString::fromUtf8(line.mid(at + 8)));
        }
        return out;
    }
    bool contains(const QString& message) const { return messages().contains(message); }
    int count(const QString& message) const { return int(messages().count(message)); }
    QStringList startingWith(const QString& prefix) const { return messages().filter(QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(prefix))); }

private:
    QTemporaryDir dir_;
    QString path_;
};

// Runs the event loop until `done` holds or the time is up; says which.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Lets queued work (deleteLater, posted tasks) run.
inline void drainEvents(int rounds = 5)
{
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

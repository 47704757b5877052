#pragma once
// What every test may use: one wait on the event loop and one reader of the
// agent's log lines.
#include "core/Log.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

// Runs the event loop (deferred deletes included, as the real loop does)
// until `done` holds or the time is up; says which. It sleeps between
// events rather than polling, so a service process started by the test gets
// the CPU.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake; // bounds each wait for events
    wake.start(5);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
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

// Points the diagnostic log at a private file for its lifetime and reads the
// messages back without their time stamps.
class LogCapture {
public:
    LogCapture()
    {
        path_ = dir_.filePath(QStringLiteral("app.log"));
        LogFile::setPath(path_);
    }
    ~LogCapture() { LogFile::setPath(QString()); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QString path() const { return path_; }
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
    QStringList startingWith(const QString& prefix) const
    {
        return messages().filter(QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(prefix)));
    }
    // The messages written since the last call: a long run reads each line once.
    QStringList newMessages()
    {
        QFile f(path_);
        if (!f.open(QIODevice::ReadOnly) || !f.seek(read_))
            return {};
        const QByteArray tail = f.readAll();
        const qsizetype end = tail.lastIndexOf('\n') + 1; // a line still being written waits
        read_ += end;
        QStringList out;
        for (const QByteArray& line : tail.left(end).split('\n')) {
            const qsizetype at = line.indexOf(" +0000: ");
            if (at >= 0)
                out.append(QString::fromUtf8(line.mid(at + 8)));
        }
        return out;
    }

private:
    QTemporaryDir dir_;
    QString path_;
    qint64 read_ = 0;
};

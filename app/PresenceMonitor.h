#pragma once
#include <QObject>
#include <QString>

#include <vector>

class QDBusMessage;
class QDBusServiceWatcher;

// Watches what the desktop says about whether anyone can see a popup now: a
// locked screen or an active screensaver, and do-not-disturb. Every source is
// optional and asked asynchronously; one that is missing, answers garbage or
// leaves the bus counts as "nothing to wait for".
class PresenceMonitor : public QObject {
    Q_OBJECT
public:
    explicit PresenceMonitor(QObject* parent = nullptr);

    // Why a timed popup should wait now, as a phrase for the log; empty when
    // no source says so.
    QString reasonToWait() const;
    // Asks every source again, for a signal that never came.
    void refresh();

signals:
    void changed();

private slots:
    void signalled(const QDBusMessage& message);

private:
    struct Source {
        QString service;
        QString path;
        QString interface;
        // Read as a property of `interface` (else its GetActive method).
        QString property;
        QString reason;
        bool on = false;
    };
    void query(Source& source);
    void set(Source& source, bool on);
    void answered(Source& source, const QVariant& value);

    std::vector<Source> sources_;
    QDBusServiceWatcher* watcher_ = nullptr;
};

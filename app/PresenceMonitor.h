#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QDBusMessage;
class QDBusServiceWatcher;
class QTimer;

// Watches what the desktop says about whether anyone can see a popup now: a
// locked screen or an active screensaver, do-not-disturb, and how long nobody
// has touched the keyboard or mouse. Every source is optional and the D-Bus
// ones are asked asynchronously; one that is missing, answers garbage or
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
    // Seconds since the last key or pointer input, where the desktop tells.
    std::optional<double> idleSeconds() const;

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
        // Counts questions and signals: an answer to an older question
        // (from an owner that has since left, say) is stale.
        quint64 asked = 0;
    };
    // An idle monitor answering a method with the idle time in `msPerUnit`.
    struct IdleSource {
        QString service;
        QString path;
        QString interface;
        QString method;
        double msPerUnit = 1;
        std::optional<double> idleMs;
        QElapsedTimer answeredAt;
        bool complained = false;
    };
    // Sends `call` on the session bus; `answer` gets the reply or the error.
    void ask(const QDBusMessage& call, std::function<void(const QDBusMessage&)> answer);
    void query(Source& source);
    void queryIdle(IdleSource& source);
    void idleAnswered(IdleSource& source, std::optional<double> idleMs);
    void set(Source& source, bool on);
    void answered(Source& source, const QVariant& value);

    std::vector<Source> sources_;
    std::vector<IdleSource> idleSources_;
    // Asks the idle monitors again while one of them answers.
    QTimer* idlePoll_ = nullptr;
    bool plainX11_ = false;
    QDBusServiceWatcher* watcher_ = nullptr;
};

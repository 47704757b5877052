#pragma once
#include <QObject>
#include <QString>

class QLocalServer;

// One agent per user: a later launch hands its "reopen" to the running agent
// over a local socket and exits instead of starting a second tray icon.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // "$XDG_RUNTIME_DIR/tavlopopup.sock", or a name keyed by the user id.
    static QString defaultName();

    // True when another agent is listening and took the reopen request.
    bool notifyRunning(int timeoutMs = 1000);
    // Starts listening for later launches; false if that failed.
    bool listen();

signals:
    void reopenRequested();

private:
    QString name_;
    QLocalServer* server_ = nullptr;
};

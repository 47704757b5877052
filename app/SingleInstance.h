#pragma once
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

// One agent per user and display. The agent holds a lock file in the user's
// private runtime directory and listens on a socket beside it; a later launch
// on the same display finds the lock taken, hands its "reopen" to the agent
// over the socket and ends. Only the lock holder ever removes the socket, so
// an agent that answers slowly is never replaced by a second one.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The guard of the agents of this user on `display` (an X11 DISPLAY
    // value, or a Wayland socket name prefixed with "wayland:"), with its
    // files in `directory`.
    explicit SingleInstance(QString directory = runtimeDirectory(), QString display = currentDisplay(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // /run/user/<uid> when it is the user's own and private (0700), else a
    // private directory of the user's under /tmp, else under the user's home
    // cache; empty when there is none. Never taken from the environment.
    static QString runtimeDirectory();
    // The display this process shows its windows on.
    static QString currentDisplay();
    // One name per display: ":0", ":0.0" and "unix:0" are the same display.
    static QString displayKey(const QString& display);

    enum class Role {
        primary,  // this process is the agent and listens for later launches
        secondary // another agent runs and was asked to reopen; this one ends
    };
    // Waits at most Timing::instanceHandover for an agent that is still
    // starting or busy to answer.
    Role claim();

    QString lockPath() const;
    QString socketPath() const;

signals:
    void reopenRequested();

private:
    enum class Handover { acknowledged, unanswered, unreachable };
    Handover handOver(int timeoutMs) const;
    void listen();
    void serve(QLocalSocket* socket);

    QString directory_;
    QString key_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};

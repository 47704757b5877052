#include "app/SingleInstance.h"

#include "core/Log.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace {
constexpr char kReopen[] = "reopen\n";
}

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), name_(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return QDir(runtime).filePath(QStringLiteral("tavlopopup.sock"));
    return QStringLiteral("tavlopopup-%1").arg(::getuid());
}

bool SingleInstance::notifyRunning(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(kReopen);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    // Wait for the agent's acknowledgement so a half-dead listener is not
    // mistaken for a running agent.
    if (!socket.waitForReadyRead(timeoutMs))
        return false;
    return socket.readAll().startsWith("ok");
}

bool SingleInstance::listen()
{
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        // Only reached after notifyRunning() found nobody answering: the
        // socket file is left over from an agent that died.
        QLocalServer::removeServer(name_);
        if (!server_->listen(name_)) {
            log(QStringLiteral("Single-instance socket unavailable: ") + server_->errorString());
            return false;
        }
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server_->nextPendingConnection()) {
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            connect(s, &QLocalSocket::readyRead, this, [this, s] {
                const QByteArray line = s->readAll();
                if (line.startsWith("reopen")) {
                    s->write("ok\n");
                    s->flush();
                    s->disconnectFromServer();
                    emit reopenRequested();
                }
            });
        }
    });
    return true;
}

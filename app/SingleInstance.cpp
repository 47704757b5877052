#include "app/SingleInstance.h"

#include "core/Log.h"
#include "core/Timing.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QRegularExpression>
#include <QSysInfo>
#include <QThread>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kReopen[] = "reopen\n";

// A directory, not a link, of this user's that nobody else may enter.
bool isPrivateDirectory(const QString& path)
{
    struct stat st{};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid()
           && (st.st_mode & 0777) == 0700;
}

QString makePrivateDirectory(const QString& path)
{
    // mkdir leaves an existing path alone; whoever made it, it must pass the check.
    QDir().mkpath(QFileInfo(path).path());
    ::mkdir(QFile::encodeName(path).constData(), 0700);
    return isPrivateDirectory(path) ? path : QString();
}

QString homeDirectory()
{
    const passwd* pw = ::getpwuid(::getuid());
    return pw && pw->pw_dir ? QFile::decodeName(pw->pw_dir) : QString();
}

} // namespace

SingleInstance::SingleInstance(QString directory, QString display, QObject* parent)
    : QObject(parent), directory_(std::move(directory)), key_(displayKey(display))
{
}

SingleInstance::~SingleInstance()
{
    // Closing the server unlinks the socket by name: that must happen while
    // the lock is still held, or it could remove the next agent's socket.
    delete server_;
}

QString SingleInstance::runtimeDirectory()
{
    const QString uid = QString::number(::getuid());
    const QString system = QStringLiteral("/run/user/") + uid;
    if (isPrivateDirectory(system))
        return system;
    QString dir = makePrivateDirectory(QStringLiteral("/tmp/tavlopopup-") + uid);
    // A home may be shared between machines; the lock is only meaningful on one.
    if (dir.isEmpty() && !homeDirectory().isEmpty())
        dir = makePrivateDirectory(homeDirectory() + QStringLiteral("/.cache/tavlopopup-") + QSysInfo::machineHostName());
    return dir;
}

QString SingleInstance::currentDisplay()
{
    const QString x11 = qEnvironmentVariable("DISPLAY");
    if (!x11.isEmpty() || qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return x11;
    return QStringLiteral("wayland:") + qEnvironmentVariable("WAYLAND_DISPLAY");
}

QString SingleInstance::displayKey(const QString& display)
{
    // [protocol/][host]:number[.screen]; the host "unix" is the local socket.
    static const QRegularExpression x11(QStringLiteral(R"(^(?:[^/]*/)?([^:]*):(\d+)(?:\.\d+)?$)"));
    QString key;
    if (display.isEmpty()) {
        key = QStringLiteral("none");
    } else if (const auto m = x11.match(display); m.hasMatch() && !display.startsWith(QLatin1String("wayland:"))) {
        const QString host = m.captured(1) == QLatin1String("unix") ? QString() : m.captured(1);
        key = QStringLiteral("x11-") + (host.isEmpty() ? QString() : host + u'-') + QString::number(m.captured(2).toULongLong());
    } else {
        key = display;
    }
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    key.replace(unsafe, QStringLiteral("_"));
    // Socket paths are short (108 bytes with the directory).
    if (key.size() > 40)
        key = QString::fromLatin1(QCryptographicHash::hash(display.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    return key;
}

QString SingleInstance::lockPath() const
{
    return QDir(directory_).filePath(QStringLiteral("tavlopopup-%1.lock").arg(key_));
}

QString SingleInstance::socketPath() const
{
    return QDir(directory_).filePath(QStringLiteral("tavlopopup-%1.sock").arg(key_));
}

SingleInstance::Role SingleInstance::claim()
{
    if (directory_.isEmpty()) {
        log(QStringLiteral("Single instance: no private runtime directory; running without the guard"));
        return Role::primary;
    }
    lock_ = std::make_unique<QLockFile>(lockPath());
    // Held for the agent's whole life; only a dead holder makes it stale.
    lock_->setStaleLockTime(0);
    const QDeadlineTimer deadline(Timing::deadlineInterval(Timing::instanceHandover));
    const int pause = int(std::max<qint64>(1, Timing::deadlineInterval(Timing::instanceHandover).count() / 100));
    for (;;) {
        if (lock_->tryLock(0)) {
            listen();
            return Role::primary;
        }
        if (lock_->error() != QLockFile::LockFailedError) {
            log(QStringLiteral("Single instance: cannot use %1; running without the guard").arg(lockPath()));
            return Role::primary;
        }
        // The holder may still be starting (not listening yet) or busy.
        switch (handOver(int(std::max<qint64>(1, deadline.remainingTime())))) {
        case Handover::acknowledged:
            return Role::secondary;
        case Handover::unanswered:
            log(QStringLiteral("Single instance: the running agent did not answer in time; it gets the request when it is free"));
            return Role::secondary;
        case Handover::unreachable:
            break;
        }
        if (deadline.hasExpired()) {
            log(QStringLiteral("Single instance: an agent holds %1 but does not listen; not starting a second one")
                    .arg(lockPath()));
            return Role::secondary;
        }
        QThread::msleep(pause);
    }
}

SingleInstance::Handover SingleInstance::handOver(int timeoutMs) const
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(timeoutMs))
        return Handover::unreachable;
    socket.write(kReopen);
    if (!socket.waitForBytesWritten(timeoutMs))
        return Handover::unreachable;
    // The request sits in the socket until the agent reads it, even once this
    // process is gone; the answer only says it was read.
    if (!socket.waitForReadyRead(timeoutMs) || !socket.readAll().startsWith("ok"))
        return Handover::unanswered;
    return Handover::acknowledged;
}

void SingleInstance::listen()
{
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // The lock is ours: a socket file left here belongs to an agent that died.
    QLocalServer::removeServer(socketPath());
    if (!server_->listen(socketPath())) {
        log(QStringLiteral("Single-instance socket unavailable: ") + server_->errorString());
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server_->nextPendingConnection())
            serve(s);
    });
}

void SingleInstance::serve(QLocalSocket* socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // Also read when the launch that wrote gave up waiting and is gone.
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine())
            return;
        const bool reopen = socket->readLine().startsWith("reopen");
        if (reopen) {
            socket->write("ok\n");
            socket->flush();
        }
        socket->disconnectFromServer();
        if (reopen)
            emit reopenRequested();
    });
}

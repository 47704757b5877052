#include "core/Log.h"

#include <QByteArray>
#include <QFile>
#include <QDateTime>
#include <QMutex>
#include <QMutexLocker>
#include <QTimeZone>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace {

constexpr const char* kDefaultPath = "/tmp/tavlopopup.log";

QMutex& pathMutex()
{
    static QMutex m;
    return m;
}

QString& overridePath()
{
    static QString p;
    return p;
}

void toSyslog(const QByteArray& message)
{
    static std::once_flag once;
    // openlog keeps the identity pointer, so it must outlive every call.
    std::call_once(once, [] { openlog("com.tavlo.popup", LOG_PID, LOG_USER); });
    syslog(LOG_INFO, "%s", message.constData());
}

// /tmp is world-writable: anyone could plant a symlink or a file of their own
// under our name. We only ever append to a regular file that we own, and we
// never follow a link, truncate or replace what is there.
void toFile(const QByteArray& path, const QByteArray& line)
{
    int fd;
    do {
        // O_NONBLOCK: a FIFO planted under our name must not hang the caller.
        fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
        // One write per line: with O_APPEND the kernel places each write at
        // the end atomically, so concurrent callers never overwrite each other.
        ssize_t n;
        do {
            n = ::write(fd, line.constData(), static_cast<size_t>(line.size()));
        } while (n < 0 && errno == EINTR);
    }
    ::close(fd);
}

} // namespace

namespace LogFile {

QString path()
{
    QMutexLocker lock(&pathMutex());
    return overridePath().isEmpty() ? QString::fromLatin1(kDefaultPath) : overridePath();
}

void setPath(const QString& p)
{
    QMutexLocker lock(&pathMutex());
    overridePath() = p;
}

QByteArray formatLine(const QString& message, const QDateTime& when)
{
    const QDateTime utc = when.toTimeZone(QTimeZone::utc());
    return utc.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1() + " +0000: " + message.toUtf8() + '\n';
}

} // namespace LogFile

void log(const QString& message)
{
    const QByteArray utf8 = message.toUtf8();
    toSyslog(utf8);
    toFile(QFile::encodeName(LogFile::path()), LogFile::formatLine(message, QDateTime::currentDateTimeUtc()));
}

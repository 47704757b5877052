#include "core/Log.h"

#include <QByteArray>
#include <QFile>
#include <QDateTime>
#include <QMutex>
#include <QMutexLocker>
#include <QTimeZone>

#include <algorithm>
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

QString oneLine(const QString& message)
{
    QString out;
    out.reserve(std::min(message.size(), maxMessageCharacters) + 16);
    qsizetype i = 0;
    for (; i < message.size() && out.size() < maxMessageCharacters; ++i) {
        const char16_t c = message.at(i).unicode();
        switch (c) {
        case u'\n': out += QLatin1String("\\n"); continue;
        case u'\r': out += QLatin1String("\\r"); continue;
        case u'\t': out += QLatin1String("\\t"); continue;
        default: break;
        }
        // C0, DEL, C1 (NEL among them) and the Unicode line and paragraph
        // separators: anything a reader of the file could take as a new line
        // or a terminal could take as a command.
        if (c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029)
            out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
        else
            out += QChar(c);
    }
    if (i == message.size())
        return out;
    // Never end on half of a surrogate pair.
    if (out.back().isHighSurrogate())
        out.chop(1);
    return out + QStringLiteral(" \u2026[cut, %1 characters in all]").arg(message.size());
}

QByteArray formatLine(const QString& message, const QDateTime& when)
{
    const QDateTime utc = when.toTimeZone(QTimeZone::utc());
    return utc.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1() + " +0000: " + oneLine(message).toUtf8() + '\n';
}

} // namespace LogFile

void log(const QString& message)
{
    toSyslog(LogFile::oneLine(message).toUtf8());
    toFile(QFile::encodeName(LogFile::path()), LogFile::formatLine(message, QDateTime::currentDateTimeUtc()));
}

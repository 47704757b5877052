#include "service/Backup.h"

#include "service/SqlStore.h"

#include <QDir>
#include <QRegularExpression>

namespace study {

QString writeBackup(SqlStore& store, const QString& dir, const QString& fileName, QString* error)
{
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create folder %1").arg(dir);
        return {};
    }
    const QString path = QDir(dir).absoluteFilePath(fileName);
    // Written beside the target and renamed, so a crash never leaves a torn
    // file under a backup's name.
    const QString partial = path + QStringLiteral(".partial");
    QFile::remove(partial);
    if (!store.backupTo(partial, error))
        return {};
    // The copy holds password hashes as the database does.
    QFile::setPermissions(partial, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!QFile::rename(partial, path)) {
        QFile::remove(partial);
        *error = QStringLiteral("cannot rename %1 to %2").arg(partial, path);
        return {};
    }
    return path;
}

bool keepDailyBackups(SqlStore& store, const QString& dir, const QDate& today, int keep, QString* error)
{
    const QString name = QStringLiteral("daily-%1.sqlite").arg(today.toString(Qt::ISODate));
    if (!QFileInfo::exists(QDir(dir).filePath(name)) && writeBackup(store, dir, name, error).isEmpty())
        return false;
    static const QRegularExpression daily(QStringLiteral("^daily-\\d{4}-\\d{2}-\\d{2}\\.sqlite$"));
    QStringList names = QDir(dir).entryList({QStringLiteral("daily-*.sqlite")}, QDir::Files, QDir::Name | QDir::Reversed);
    names.removeIf([](const QString& n) { return !daily.match(n).hasMatch(); });
    for (qsizetype i = keep; i < names.size(); ++i)
        QFile::remove(QDir(dir).filePath(names[i]));
    return true;
}

} // namespace study

#include "service/DataFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace study {

namespace {

// QSaveFile syncs the temporary file before renaming it; the rename itself
// only becomes durable once the directory entry is flushed too.
bool syncDirectory(const QString& dir, QString* error)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(dir, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const bool ok = ::fsync(fd) == 0;
    if (!ok)
        *error = QStringLiteral("fsync of %1 failed: %2").arg(dir, QString::fromLocal8Bit(std::strerror(errno)));
    ::close(fd);
    return ok;
}

} // namespace

bool loadDataFile(const QString& path, StudyStore* store, QString* error)
{
    QFile file(path);
    if (!file.exists())
        return saveDataFile(path, *store, error);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
        *error = QStringLiteral("%1 is not valid JSON: %2").arg(path, parse.errorString());
        return false;
    }
    QString why;
    if (!store->fromJson(doc.object(), &why)) {
        *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    }
    return true;
}

bool saveDataFile(const QString& path, const StudyStore& store, QString* error)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        *error = QStringLiteral("cannot create folder %1").arg(info.absolutePath());
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    // The file holds password hashes: keep it to its owner.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray bytes = QJsonDocument(store.toJson()).toJson(QJsonDocument::Indented);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return syncDirectory(info.absolutePath(), error);
}

} // namespace study

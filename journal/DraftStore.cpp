#include "journal/DraftStore.h"

#include "core/Log.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>

namespace {
quint64 writes = 0;

QString& sharedFileOverride()
{
    static QString path;
    return path;
}
} // namespace

DraftStore& DraftStore::shared()
{
    static DraftStore store;
    store.file_ = sharedFileOverride();
    return store;
}

quint64 DraftStore::writeCount()
{
    return writes;
}

void DraftStore::useSharedFile(const QString& path)
{
    sharedFileOverride() = path;
}

DraftStore::DraftStore(QString settingsFile) : file_(std::move(settingsFile)) {}

std::unique_ptr<QSettings> SettingsFile::open(const QString& path)
{
    if (path.isEmpty())
        return std::make_unique<QSettings>(QStringLiteral("tavlo"), QStringLiteral("TavloPopup"));
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

void SettingsFile::keepUnreadable(QSettings& s, const QString& key, const QString& backupPrefix, const QString& what)
{
    const QVariant old = s.value(key);
    const QByteArray bytes = old.typeId() == QMetaType::QByteArray ? old.toByteArray() : old.toString().toUtf8();
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmsszzz'Z'"));
    QString backupKey = backupPrefix + stamp;
    for (int n = 2; s.contains(backupKey); ++n)
        backupKey = backupPrefix + stamp + QLatin1Char('-') + QString::number(n);
    s.setValue(backupKey, bytes);
    s.sync();
    log(QStringLiteral("%1: stored %2 could not be read; kept %3 bytes under %4 before overwriting")
            .arg(what.left(1).toUpper() + what.mid(1), what)
            .arg(bytes.size())
            .arg(backupKey));
}

std::optional<QList<NoteDraft>> DraftStore::read(QSettings& s) const
{
    const QVariant value = s.value(QLatin1String(key));
    if (!value.isValid())
        return QList<NoteDraft>{};
    // A value of another kind is not ours to decode and counts as undecodable.
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return decode(value.toByteArray());
}

std::optional<QList<NoteDraft>> DraftStore::decode(const QByteArray& bytes)
{
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
    if (err.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    QList<NoteDraft> drafts;
    const QJsonArray array = doc.array();
    drafts.reserve(array.size());
    for (const QJsonValue& item : array) {
        auto draft = NoteDraft::fromJson(item);
        if (!draft)
            return std::nullopt;
        drafts.append(std::move(*draft));
    }
    return drafts;
}

QList<NoteDraft> DraftStore::loadAll() const
{
    auto s = SettingsFile::open(file_);
    return read(*s).value_or(QList<NoteDraft>{});
}

QList<NoteDraft> DraftStore::loadForWrite(QSettings& s)
{
    if (auto drafts = read(s))
        return *drafts;
    // The stored value is about to be replaced; its drafts can still be recovered from the copy.
    SettingsFile::keepUnreadable(s, QLatin1String(key), QLatin1String(backupKeyPrefix), QStringLiteral("drafts"));
    return {};
}

void DraftStore::save(const NoteDraft& draft)
{
    auto s = SettingsFile::open(file_);
    QList<NoteDraft> drafts = loadForWrite(*s);
    auto it = std::find_if(drafts.begin(), drafts.end(), [&](const NoteDraft& d) { return d.id == draft.id; });
    if (it != drafts.end())
        *it = draft;
    else
        drafts.prepend(draft);
    persist(*s, drafts);
}

void DraftStore::remove(const QUuid& id)
{
    auto s = SettingsFile::open(file_);
    QList<NoteDraft> drafts = loadForWrite(*s);
    drafts.removeIf([&](const NoteDraft& d) { return d.id == id; });
    persist(*s, drafts);
}

std::optional<NoteDraft> DraftStore::get(const QUuid& id) const
{
    for (const NoteDraft& d : loadAll())
        if (d.id == id)
            return d;
    return std::nullopt;
}

std::optional<NoteDraft> DraftStore::mostRecent() const
{
    const QList<NoteDraft> drafts = loadAll();
    if (drafts.isEmpty())
        return std::nullopt;
    return drafts.first();
}

void DraftStore::persist(QSettings& s, const QList<NoteDraft>& drafts)
{
    QJsonArray array;
    for (const NoteDraft& d : drafts)
        array.append(d.toJson());
    s.setValue(QLatin1String(key), QJsonDocument(array).toJson(QJsonDocument::Compact));
    s.sync();
    ++writes;
}

#include "journal/EditDraftStore.h"

#include "journal/DraftStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <cmath>

namespace {

std::optional<QList<EditDraft>> read(QSettings& s)
{
    const QVariant value = s.value(QLatin1String(EditDraftStore::key));
    if (!value.isValid())
        return QList<EditDraft>{};
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return EditDraftStore::decode(value.toByteArray());
}

QList<EditDraft> loadForWrite(QSettings& s)
{
    if (auto drafts = read(s))
        return *drafts;
    SettingsFile::keepUnreadable(s, QLatin1String(EditDraftStore::key), QLatin1String(EditDraftStore::backupKeyPrefix),
                                 QStringLiteral("edit drafts"));
    return {};
}

void persist(QSettings& s, const QList<EditDraft>& drafts)
{
    QJsonArray array;
    for (const EditDraft& d : drafts) {
        // The id as text: a JSON number loses digits past 2^53.
        array.append(QJsonObject{{QStringLiteral("entryId"), QString::number(d.entryId)},
                                 {QStringLiteral("title"), d.title},
                                 {QStringLiteral("content"), d.content},
                                 {QStringLiteral("tags"), d.tags},
                                 {QStringLiteral("updatedAt"), DraftDates::toStored(d.updatedAt)}});
    }
    s.setValue(QLatin1String(EditDraftStore::key), QJsonDocument(array).toJson(QJsonDocument::Compact));
    s.sync();
}

} // namespace

EditDraftStore EditDraftStore::shared()
{
    return EditDraftStore(DraftStore::shared().settingsFile());
}

EditDraftStore::EditDraftStore(QString settingsFile) : file_(std::move(settingsFile)) {}

std::optional<QList<EditDraft>> EditDraftStore::decode(const QByteArray& bytes)
{
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
    if (err.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    QList<EditDraft> drafts;
    for (const QJsonValue& item : doc.array()) {
        // Any malformed element makes the whole value unreadable, as for the quick-note drafts.
        const QJsonObject o = item.toObject();
        const QJsonValue id = o.value(QStringLiteral("entryId"));
        const QJsonValue updated = o.value(QStringLiteral("updatedAt"));
        EditDraft d;
        bool idOk = false;
        d.entryId = id.toString().toLongLong(&idOk);
        if (!item.isObject() || !id.isString() || !idOk || !updated.isDouble() || !std::isfinite(updated.toDouble()))
            return std::nullopt;
        for (const char* name : {"title", "content", "tags"})
            if (!o.value(QLatin1String(name)).isString())
                return std::nullopt;
        d.title = o.value(QStringLiteral("title")).toString();
        d.content = o.value(QStringLiteral("content")).toString();
        d.tags = o.value(QStringLiteral("tags")).toString();
        d.updatedAt = DraftDates::fromStored(updated.toDouble());
        drafts.append(std::move(d));
    }
    return drafts;
}

EditDraftStore::Lookup EditDraftStore::get(std::int64_t entryId) const
{
    auto s = SettingsFile::open(file_);
    const auto drafts = read(*s);
    if (!drafts)
        return {std::nullopt, true};
    for (const EditDraft& d : *drafts)
        if (d.entryId == entryId)
            return {d, false};
    return {};
}

void EditDraftStore::save(const EditDraft& draft)
{
    auto s = SettingsFile::open(file_);
    QList<EditDraft> drafts = loadForWrite(*s);
    drafts.removeIf([&](const EditDraft& d) { return d.entryId == draft.entryId; });
    drafts.prepend(draft);
    persist(*s, drafts);
}

void EditDraftStore::remove(std::int64_t entryId)
{
    auto s = SettingsFile::open(file_);
    auto drafts = read(*s);
    // An unreadable value stays as it is until a save backs it up.
    if (!drafts || drafts->removeIf([&](const EditDraft& d) { return d.entryId == entryId; }) == 0)
        return;
    persist(*s, *drafts);
}

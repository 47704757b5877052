#include "journal/NoteDraft.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QTimeZone>

#include <cmath>

QDateTime DraftDates::referenceDate()
{
    return QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
}

double DraftDates::toStored(const QDateTime& when)
{
    return double(when.toMSecsSinceEpoch() - referenceDate().toMSecsSinceEpoch()) / 1000.0;
}

QDateTime DraftDates::fromStored(double seconds)
{
    const auto ms = static_cast<qint64>(std::llround(seconds * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(referenceDate().toMSecsSinceEpoch() + ms, QTimeZone::utc());
}

QString draftIdString(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

NoteDraft NoteDraft::make(QUuid id, QString text)
{
    NoteDraft d;
    d.id = id;
    d.text = std::move(text);
    d.createdAt = QDateTime::currentDateTimeUtc();
    d.updatedAt = d.createdAt;
    return d;
}

QJsonObject NoteDraft::toJson() const
{
    QJsonObject o;
    o.insert(QStringLiteral("id"), draftIdString(id));
    o.insert(QStringLiteral("text"), text);
    if (normalizedTitle)
        o.insert(QStringLiteral("normalizedTitle"), *normalizedTitle);
    if (normalizedContent)
        o.insert(QStringLiteral("normalizedContent"), *normalizedContent);
    if (normalizedTags)
        o.insert(QStringLiteral("normalizedTags"), QJsonArray::fromStringList(*normalizedTags));
    o.insert(QStringLiteral("isNormalized"), isNormalized);
    o.insert(QStringLiteral("createdAt"), DraftDates::toStored(createdAt));
    o.insert(QStringLiteral("updatedAt"), DraftDates::toStored(updatedAt));
    return o;
}

namespace {

// Absent and null both mean none; anything else must be a string.
bool optionalString(const QJsonObject& o, const QString& key, std::optional<QString>& out)
{
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull()) {
        out.reset();
        return true;
    }
    if (!v.isString())
        return false;
    out = v.toString();
    return true;
}

bool optionalStrings(const QJsonObject& o, const QString& key, std::optional<QStringList>& out)
{
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull()) {
        out.reset();
        return true;
    }
    if (!v.isArray())
        return false;
    QStringList list;
    for (const QJsonValue& item : v.toArray()) {
        if (!item.isString())
            return false;
        list.append(item.toString());
    }
    out = list;
    return true;
}

bool finiteNumber(const QJsonObject& o, const QString& key, double& out)
{
    const QJsonValue v = o.value(key);
    if (!v.isDouble())
        return false;
    out = v.toDouble();
    return std::isfinite(out);
}

} // namespace

std::optional<NoteDraft> NoteDraft::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    NoteDraft d;

    const QJsonValue id = o.value(QStringLiteral("id"));
    if (!id.isString())
        return std::nullopt;
    // Accept either case on reading; the braced and other forms QUuid would
    // also take are not a canonical UUID string.
    const QString idText = id.toString();
    if (idText.size() != 36)
        return std::nullopt;
    d.id = QUuid::fromString(idText);
    if (d.id.isNull() && idText != QStringLiteral("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;

    const QJsonValue text = o.value(QStringLiteral("text"));
    if (!text.isString())
        return std::nullopt;
    d.text = text.toString();

    if (!optionalString(o, QStringLiteral("normalizedTitle"), d.normalizedTitle)
        || !optionalString(o, QStringLiteral("normalizedContent"), d.normalizedContent)
        || !optionalStrings(o, QStringLiteral("normalizedTags"), d.normalizedTags))
        return std::nullopt;

    const QJsonValue normalized = o.value(QStringLiteral("isNormalized"));
    if (!normalized.isBool())
        return std::nullopt;
    d.isNormalized = normalized.toBool();

    double created = 0, updated = 0;
    if (!finiteNumber(o, QStringLiteral("createdAt"), created) || !finiteNumber(o, QStringLiteral("updatedAt"), updated))
        return std::nullopt;
    d.createdAt = DraftDates::fromStored(created);
    d.updatedAt = DraftDates::fromStored(updated);
    return d;
}

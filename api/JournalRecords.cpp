#include "api/JournalRecords.h"

#include "api/JsonDecoding.h"

#include <QJsonArray>

using JsonDecoding::ObjectReader;

JournalEntryData journalEntryFromJson(const QJsonValue& value, const QString& path)
{
    const ObjectReader r(value, path);
    JournalEntryData entry;
    entry.id = r.requiredInt64(QStringLiteral("id"));
    entry.title = r.requiredString(QStringLiteral("title"));
    entry.content = r.requiredString(QStringLiteral("content"));
    entry.tags = r.optionalStringList(QStringLiteral("tags"));
    entry.insertedAt = r.optionalString(QStringLiteral("inserted_at"));
    entry.updatedAt = r.optionalString(QStringLiteral("updated_at"));
    return entry;
}

NormalizeResult normalizeResultFromJson(const QJsonValue& value, const QString& path)
{
    const ObjectReader r(value, path);
    NormalizeResult result;
    result.title = r.requiredString(QStringLiteral("title"));
    result.content = r.requiredString(QStringLiteral("content"));
    result.tags = r.optionalStringList(QStringLiteral("tags"));
    return result;
}

Result<JournalEntryResponse> decodeJournalEntryResponse(const QByteArray& json)
{
    return JsonDecoding::decode<JournalEntryResponse>(json, [](const QJsonValue& top) {
        const ObjectReader r(top, QString());
        return JournalEntryResponse{journalEntryFromJson(r.required(QStringLiteral("data")), QStringLiteral("data"))};
    });
}

Result<JournalListResponse> decodeJournalListResponse(const QByteArray& json)
{
    return JsonDecoding::decode<JournalListResponse>(json, [](const QJsonValue& top) {
        const ObjectReader r(top, QString());
        const QJsonArray array = JsonDecoding::toArray(r.required(QStringLiteral("data")), QStringLiteral("data"));
        JournalListResponse response;
        response.data.reserve(array.size());
        for (qsizetype i = 0; i < array.size(); ++i)
            response.data.append(journalEntryFromJson(array[i], QStringLiteral("data[%1]").arg(i)));
        return response;
    });
}

Result<NormalizeResponse> decodeNormalizeResponse(const QByteArray& json)
{
    return JsonDecoding::decode<NormalizeResponse>(json, [](const QJsonValue& top) {
        const ObjectReader r(top, QString());
        return NormalizeResponse{normalizeResultFromJson(r.required(QStringLiteral("data")), QStringLiteral("data"))};
    });
}

QJsonObject toJson(const JournalEntryData& entry)
{
    QJsonObject object{
        {QStringLiteral("id"), qint64(entry.id)},
        {QStringLiteral("title"), entry.title},
        {QStringLiteral("content"), entry.content},
    };
    if (entry.tags)
        object.insert(QStringLiteral("tags"), QJsonArray::fromStringList(*entry.tags));
    if (entry.insertedAt)
        object.insert(QStringLiteral("inserted_at"), *entry.insertedAt);
    if (entry.updatedAt)
        object.insert(QStringLiteral("updated_at"), *entry.updatedAt);
    return object;
}

QJsonObject toJson(const NormalizeResult& result)
{
    QJsonObject object{
        {QStringLiteral("title"), result.title},
        {QStringLiteral("content"), result.content},
    };
    if (result.tags)
        object.insert(QStringLiteral("tags"), QJsonArray::fromStringList(*result.tags));
    return object;
}

QJsonObject toJson(const JournalEntryResponse& response)
{
    return QJsonObject{{QStringLiteral("data"), toJson(response.data)}};
}

QJsonObject toJson(const JournalListResponse& response)
{
    QJsonArray array;
    for (const JournalEntryData& entry : response.data)
        array.append(toJson(entry));
    return QJsonObject{{QStringLiteral("data"), array}};
}

QJsonObject toJson(const NormalizeResponse& response)
{
    return QJsonObject{{QStringLiteral("data"), toJson(response.data)}};
}

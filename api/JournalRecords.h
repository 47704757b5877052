#pragma once
#include "api/Result.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

struct JournalEntryData {
    std::int64_t id = 0;
    QString title;
    QString content;
    std::optional<QStringList> tags;
    std::optional<QString> insertedAt;
    std::optional<QString> updatedAt;
};

struct NormalizeResult {
    QString title;
    QString content;
    std::optional<QStringList> tags;
};

struct JournalEntryResponse {
    JournalEntryData data;
};

struct JournalListResponse {
    QList<JournalEntryData> data;
};

struct NormalizeResponse {
    NormalizeResult data;
};

// Decoders with the same rules as the card records (snake-case keys converted
// to camel case, unknown keys ignored, a bad required field fails the whole
// response with a DecodeError). Pure functions, safe on any thread.
Result<JournalEntryResponse> decodeJournalEntryResponse(const QByteArray& json);
Result<JournalListResponse> decodeJournalListResponse(const QByteArray& json);
Result<NormalizeResponse> decodeNormalizeResponse(const QByteArray& json);

// Throw JsonDecoding::Failure; call them inside JsonDecoding::decode.
JournalEntryData journalEntryFromJson(const QJsonValue& value, const QString& path);
NormalizeResult normalizeResultFromJson(const QJsonValue& value, const QString& path);

QJsonObject toJson(const JournalEntryData& entry);
QJsonObject toJson(const NormalizeResult& result);
QJsonObject toJson(const JournalEntryResponse& response);
QJsonObject toJson(const JournalListResponse& response);
QJsonObject toJson(const NormalizeResponse& response);

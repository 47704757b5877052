#pragma once
#include "api/Result.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

struct CardReview {
    double easeFactor = 0;
    std::int64_t interval = 0;
    std::int64_t repetitions = 0;
    QString dueDate;
};

struct TroubleCard {
    std::int64_t id = 0;
    std::int64_t deckId = 0;
    QString front;
    QString back;
    std::optional<QString> notes;
    QString deckName;
    double troubleScore = 0;
    std::optional<CardReview> review;
};

struct TroubleCardsResponse {
    QList<TroubleCard> data;
};

// The body of POST /reviews.
struct ReviewRequest {
    std::int64_t cardId = 0;
    int quality = 0;
};

struct AuthUser {
    std::int64_t id = 0;
    QString email;
};

struct AuthData {
    QString accessToken;
    AuthUser user;
};

struct AuthResponse {
    AuthData data;
};

// Decoders: UTF-8 JSON bytes in, a record or a DecodeError (with a readable
// description naming the offending key) out. Wire keys are snake case and are
// matched after conversion to camel case, so camel-case keys are accepted too;
// unknown keys are ignored; a required field that is missing, null or of the
// wrong type fails the whole response. Pure functions, safe on any thread.
Result<TroubleCardsResponse> decodeTroubleCardsResponse(const QByteArray& json);
Result<TroubleCard> decodeTroubleCard(const QByteArray& json);
Result<AuthResponse> decodeAuthResponse(const QByteArray& json);

// The same readers on a value already parsed; `path` names it in errors.
// They throw JsonDecoding::Failure, so call them inside JsonDecoding::decode.
TroubleCard troubleCardFromJson(const QJsonValue& value, const QString& path);
CardReview cardReviewFromJson(const QJsonValue& value, const QString& path);

// Encoders, with snake-case keys; 64-bit integers stay exact.
QJsonObject toJson(const CardReview& review);
QJsonObject toJson(const TroubleCard& card);
QJsonObject toJson(const TroubleCardsResponse& response);
QJsonObject toJson(const ReviewRequest& request);
QJsonObject toJson(const AuthResponse& response);

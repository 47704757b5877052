#include "api/CardRecords.h"

#include "api/JsonDecoding.h"

#include <QJsonArray>

using JsonDecoding::ObjectReader;

CardReview cardReviewFromJson(const QJsonValue& value, const QString& path)
{
    const ObjectReader r(value, path);
    CardReview review;
    review.easeFactor = r.requiredDouble(QStringLiteral("ease_factor"));
    review.interval = r.requiredInt64(QStringLiteral("interval"));
    review.repetitions = r.requiredInt64(QStringLiteral("repetitions"));
    review.dueDate = r.requiredString(QStringLiteral("due_date"));
    return review;
}

TroubleCard troubleCardFromJson(const QJsonValue& value, const QString& path)
{
    const ObjectReader r(value, path);
    TroubleCard card;
    card.id = r.requiredInt64(QStringLiteral("id"));
    card.deckId = r.requiredInt64(QStringLiteral("deck_id"));
    card.front = r.requiredString(QStringLiteral("front"));
    card.back = r.requiredString(QStringLiteral("back"));
    card.notes = r.optionalString(QStringLiteral("notes"));
    card.deckName = r.requiredString(QStringLiteral("deck_name"));
    card.troubleScore = r.requiredDouble(QStringLiteral("trouble_score"));
    if (const auto review = r.optional(QStringLiteral("review")))
        card.review = cardReviewFromJson(*review, r.pathOf(QStringLiteral("review")));
    return card;
}

Result<TroubleCardsResponse> decodeTroubleCardsResponse(const QByteArray& json)
{
    return JsonDecoding::decode<TroubleCardsResponse>(json, [](const QJsonValue& top) {
        const ObjectReader r(top, QString());
        const QJsonArray array = JsonDecoding::toArray(r.required(QStringLiteral("data")), QStringLiteral("data"));
        TroubleCardsResponse response;
        response.data.reserve(array.size());
        for (qsizetype i = 0; i < array.size(); ++i)
            response.data.append(troubleCardFromJson(array[i], QStringLiteral("data[%1]").arg(i)));
        return response;
    });
}

Result<TroubleCard> decodeTroubleCard(const QByteArray& json)
{
    return JsonDecoding::decode<TroubleCard>(json, [](const QJsonValue& top) { return troubleCardFromJson(top, QString()); });
}

Result<AuthResponse> decodeAuthResponse(const QByteArray& json)
{
    return JsonDecoding::decode<AuthResponse>(json, [](const QJsonValue& top) {
        const ObjectReader r(top, QString());
        const ObjectReader data(r.required(QStringLiteral("data")), QStringLiteral("data"));
        AuthResponse response;
        response.data.accessToken = data.requiredString(QStringLiteral("access_token"));
        const ObjectReader user(data.required(QStringLiteral("user")), QStringLiteral("data.user"));
        response.data.user.id = user.requiredInt64(QStringLiteral("id"));
        response.data.user.email = user.requiredString(QStringLiteral("email"));
        return response;
    });
}

QJsonObject toJson(const CardReview& review)
{
    return QJsonObject{
        {QStringLiteral("ease_factor"), review.easeFactor},
        {QStringLiteral("interval"), qint64(review.interval)},
        {QStringLiteral("repetitions"), qint64(review.repetitions)},
        {QStringLiteral("due_date"), review.dueDate},
    };
}

QJsonObject toJson(const TroubleCard& card)
{
    QJsonObject object{
        {QStringLiteral("id"), qint64(card.id)},
        {QStringLiteral("deck_id"), qint64(card.deckId)},
        {QStringLiteral("front"), card.front},
        {QStringLiteral("back"), card.back},
        {QStringLiteral("deck_name"), card.deckName},
        {QStringLiteral("trouble_score"), card.troubleScore},
    };
    if (card.notes)
        object.insert(QStringLiteral("notes"), *card.notes);
    if (card.review)
        object.insert(QStringLiteral("review"), toJson(*card.review));
    return object;
}

QJsonObject toJson(const TroubleCardsResponse& response)
{
    QJsonArray array;
    for (const TroubleCard& card : response.data)
        array.append(toJson(card));
    return QJsonObject{{QStringLiteral("data"), array}};
}

QJsonObject toJson(const ReviewRequest& request)
{
    return QJsonObject{
        {QStringLiteral("card_id"), qint64(request.cardId)},
        {QStringLiteral("quality"), request.quality},
    };
}

QJsonObject toJson(const AuthResponse& response)
{
    return QJsonObject{{QStringLiteral("data"),
                        QJsonObject{{QStringLiteral("access_token"), response.data.accessToken},
                                    {QStringLiteral("user"), QJsonObject{{QStringLiteral("id"), qint64(response.data.user.id)},
                                                                         {QStringLiteral("email"), response.data.user.email}}}}}};
}

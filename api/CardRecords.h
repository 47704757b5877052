#pragma once
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

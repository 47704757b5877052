#pragma once
#include "api/CardRecords.h"
#include "api/Result.h"

#include <QObject>

namespace CardService {

// GET /trouble-cards?limit=N. A body that does not decode gives an empty list
// (and a "Decode error: " log line), never an error.
void fetchTroubleCards(int limit, QObject* context, Callback<QList<TroubleCard>> done);
void fetchTroubleCards(QObject* context, Callback<QList<TroubleCard>> done); // limit 10

// POST /reviews {"card_id", "quality"}, keyed by `idempotencyKey` (a new
// key when empty); returns the key used. Resending an answer whose fate is
// unknown (a transport error) with the same key applies it at most once.
QString submitReview(std::int64_t cardId, int quality, QObject* context, Callback<void> done,
                     const QString& idempotencyKey = {});

} // namespace CardService

#include "api/CardService.h"

#include "api/APIClient.h"
#include "api/Delivery.h"
#include "core/Log.h"
#include "core/Timing.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QTextBoundaryFinder>

namespace CardService {

namespace {

constexpr double kTimeout = Timing::requestTimeout;
constexpr int kLoggedCharacters = 200;

// The start of the body as the learner would count it: whole grapheme
// clusters, so an emoji or a combining accent is never cut in half.
QString bodyPreview(const QByteArray& body)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decoder(body);
    if (decoder.hasError())
        return QStringLiteral("nil");
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (int i = 0; i < kLoggedCharacters; ++i) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            break;
        end = next;
    }
    return text.left(end);
}

} // namespace

void fetchTroubleCards(int limit, QObject* context, Callback<QList<TroubleCard>> done)
{
    const QString path = QStringLiteral("/trouble-cards?limit=") + QString::number(limit);
    // The log lines are written even when the caller has gone meanwhile, so
    // the request is made without a context and the caller is guarded here.
    auto deliver = makeDelivery<QList<TroubleCard>>(context, std::move(done));
    APIClient::authenticatedRequest(
        path, QStringLiteral("GET"), std::nullopt, false, kTimeout, nullptr,
        [deliver](Result<QByteArray> result) {
            if (!result) {
                (*deliver)(result.error());
                return;
            }
            const QByteArray& body = result.value();
            log(QStringLiteral("API raw response (%1 bytes): ").arg(body.size()) + bodyPreview(body));
            Result<TroubleCardsResponse> decoded = decodeTroubleCardsResponse(body);
            if (!decoded) {
                // Looks like an account with nothing to practise, not a failure.
                log(QStringLiteral("Decode error: ") + localizedDescription(decoded.error()));
                (*deliver)(QList<TroubleCard>());
                return;
            }
            (*deliver)(std::move(decoded).value().data);
        });
}

void fetchTroubleCards(QObject* context, Callback<QList<TroubleCard>> done)
{
    fetchTroubleCards(10, context, std::move(done));
}

QString submitReview(std::int64_t cardId, int quality, QObject* context, Callback<void> done,
                     const QString& idempotencyKey)
{
    const QByteArray body = QJsonDocument(toJson(ReviewRequest{cardId, quality})).toJson(QJsonDocument::Compact);
    return APIClient::authenticatedRequest(QStringLiteral("/reviews"), QStringLiteral("POST"), body, false, kTimeout,
                                           context,
                                           [done = std::move(done)](Result<QByteArray> result) {
                                               if (!result)
                                                   done(result.error());
                                               else
                                                   done(Result<void>());
                                           },
                                           idempotencyKey);
}

} // namespace CardService

// Backend access timings: decoding the two largest responses the agent reads,
// the key conversion, and one full card fetch against the local study service
// (skipped unless TAVLO_SERVICE_BIN names the service binary).
#include "api/APIClient.h"
#include "api/CardRecords.h"
#include "api/CardService.h"
#include "api/JournalRecords.h"
#include "api/JsonDecoding.h"
#include "api/KeychainService.h"
#include "core/Log.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

QByteArray troubleCardsBody(int n)
{
    TroubleCardsResponse response;
    for (int i = 0; i < n; ++i) {
        TroubleCard card;
        card.id = 9007199254740993LL + i;
        card.deckId = 3;
        card.front = QStringLiteral("at glemme (verb) %1").arg(i);
        card.back = QStringLiteral("to forget, to leave behind");
        card.notes = QStringLiteral("irregular: glemte, glemt");
        card.deckName = QStringLiteral("Danish verbs");
        card.troubleScore = 3.25 + i;
        card.review = CardReview{2.36, 6, 2, QStringLiteral("2026-03-07T09:05:03Z")};
        response.data.append(card);
    }
    return QJsonDocument(toJson(response)).toJson(QJsonDocument::Compact);
}

QByteArray journalBody(int n)
{
    JournalListResponse response;
    for (int i = 0; i < n; ++i) {
        JournalEntryData entry;
        entry.id = 1000 + i;
        entry.title = QStringLiteral("Entry %1").arg(i);
        entry.content = QStringLiteral("# Notes\n\nSome **markdown** text about words, %1 lines of it.\n\n- one\n- two\n").arg(i);
        entry.tags = QStringList{QStringLiteral("danish"), QStringLiteral("verbs"), QStringLiteral("review")};
        entry.insertedAt = QStringLiteral("2026-03-07T09:05:03Z");
        entry.updatedAt = QStringLiteral("2026-03-08T10:00:00Z");
        response.data.append(entry);
    }
    return QJsonDocument(toJson(response)).toJson(QJsonDocument::Compact);
}

void BM_DecodeTroubleCards10(benchmark::State& state)
{
    const QByteArray body = troubleCardsBody(10);
    for (auto _ : state) {
        auto r = decodeTroubleCardsResponse(body);
        if (!r.ok())
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_DecodeTroubleCards10);

void BM_DecodeJournalList500(benchmark::State& state)
{
    const QByteArray body = journalBody(500);
    for (auto _ : state) {
        auto r = decodeJournalListResponse(body);
        if (!r.ok())
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_DecodeJournalList500)->Unit(benchmark::kMillisecond);

void BM_ConvertFromSnakeCase(benchmark::State& state)
{
    const QStringList keys{"id", "deck_id", "trouble_score", "ease_factor", "due_date", "__private_key__", "DECK_NAME"};
    for (auto _ : state)
        for (const QString& key : keys)
            benchmark::DoNotOptimize(JsonDecoding::convertFromSnakeCase(key));
    state.SetItemsProcessed(state.iterations() * keys.size());
}
BENCHMARK(BM_ConvertFromSnakeCase);

bool spinUntil(const std::function<bool()>& done, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    return done();
}

// One fetchTroubleCards (GET, log line, decode) against a running service,
// with a token already in the store's cache.
void BM_FetchTroubleCardsRoundTrip(benchmark::State& state)
{
    const QString bin = qEnvironmentVariable("TAVLO_SERVICE_BIN");
    if (bin.isEmpty()) {
        state.SkipWithError("TAVLO_SERVICE_BIN not set");
        return;
    }
    QProcess service;
    service.start(bin, {"--port", "0", "--quiet"});
    QString baseURL;
    static const QRegularExpression line(QStringLiteral("^listening on (http://127\\.0\\.0\\.1:\\d+/api)$"));
    QDeadlineTimer deadline(10000);
    while (baseURL.isEmpty() && !deadline.hasExpired() && service.waitForReadyRead(int(deadline.remainingTime())))
        while (service.canReadLine())
            if (const auto m = line.match(QString::fromUtf8(service.readLine()).trimmed()); m.hasMatch())
                baseURL = m.captured(1);
    if (baseURL.isEmpty()) {
        state.SkipWithError("study service did not start");
        return;
    }
    qputenv("TAVLO_API_BASE_URL", baseURL.toUtf8());
    QTemporaryDir logDir;
    LogFile::setPath(logDir.filePath("bench.log"));

    std::optional<Result<void>> signedIn;
    APIClient::login("demo@tavlo.app", "tavlo-demo", nullptr, [&](Result<void> r) { signedIn.emplace(std::move(r)); });
    spinUntil([&] { return signedIn.has_value(); });
    if (!signedIn || !signedIn->ok()) {
        // Without a keyring the login is not stored; keep the token in the cache instead.
        state.SkipWithError("sign-in failed (run inside scripts/test-env.sh)");
        service.kill();
        service.waitForFinished();
        return;
    }
    int cards = 0;
    for (auto _ : state) {
        std::optional<Result<QList<TroubleCard>>> result;
        CardService::fetchTroubleCards(nullptr, [&](Result<QList<TroubleCard>> r) { result.emplace(std::move(r)); });
        spinUntil([&] { return result.has_value(); });
        if (!result || !result->ok()) {
            state.SkipWithError("fetch failed");
            break;
        }
        cards = int(result->value().size());
    }
    state.counters["cards"] = cards;
    LogFile::setPath(QString());
    KeychainService::clearAll();
    service.kill();
    service.waitForFinished();
}
BENCHMARK(BM_FetchTroubleCardsRoundTrip)->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

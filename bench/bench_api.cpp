// Backend access timings: decoding the two largest responses the agent reads,
// the key conversion, and one full card fetch against the local study service
// (skipped unless TAVLO_SERVICE_BIN names the service binary).
#include "api/APIClient.h"
#include "api/AnswerOutbox.h"
#include "tools/ServiceProcess.h"
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

// The study service of this build with the demo account signed in (the
// token in the store's cache); null, with the reason given to `state`, if not.
std::unique_ptr<ServiceProcess> signedInService(benchmark::State& state)
{
    auto service = std::make_unique<ServiceProcess>();
    if (!service->start()) {
        state.SkipWithError("study service did not start (TAVLO_SERVICE_BIN?)");
        return nullptr;
    }
    qputenv("TAVLO_API_BASE_URL", service->baseURL.toUtf8());
    std::optional<Result<void>> signedIn;
    APIClient::login("demo@tavlo.app", "tavlo-demo", nullptr, [&](Result<void> r) { signedIn.emplace(std::move(r)); });
    spinUntil([&] { return signedIn.has_value(); });
    if (!signedIn || !signedIn->ok()) {
        state.SkipWithError("sign-in failed (run inside scripts/test-env.sh)");
        return nullptr;
    }
    return service;
}

// One fetchTroubleCards (GET, log line, decode) against a running service,
// with a token already in the store's cache.
void BM_FetchTroubleCardsRoundTrip(benchmark::State& state)
{
    QTemporaryDir logDir;
    LogFile::setPath(logDir.filePath("bench.log"));
    const auto service = signedInService(state);
    if (!service)
        return;
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
}
BENCHMARK(BM_FetchTroubleCardsRoundTrip)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// A full outbox (5,000 waiting answers) sent to the local service: the time
// until the last one is delivered and the file is empty.
void BM_OutboxFlushOfAFullOutbox(benchmark::State& state)
{
    QTemporaryDir dir;
    LogFile::setPath(dir.filePath("bench.log"));
    const auto service = signedInService(state);
    if (!service)
        return;
    const QString path = dir.filePath("outbox.json");
    for (auto _ : state) {
        state.PauseTiming();
        QJsonArray entries;
        for (int i = 0; i < AnswerOutbox::kCapacity; ++i)
            entries.append(QJsonObject{{"account", "demo@tavlo.app"}, {"card_id", QString::number(i % 30 + 1)},
                                       {"quality", 4}, {"key", APIClient::newIdempotencyKey()}, {"answered_at", ""}});
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return state.SkipWithError("cannot write the outbox");
        file.write(QJsonDocument(QJsonObject{{"entries", entries}}).toJson(QJsonDocument::Compact));
        file.close();
        AnswerOutbox outbox(path);
        state.ResumeTiming();
        outbox.setAccount("demo@tavlo.app");
        if (!spinUntil([&] { return outbox.pending() == 0; }, 600000)) {
            state.SkipWithError("the outbox did not empty");
            break;
        }
    }
    state.counters["answers"] = AnswerOutbox::kCapacity;
    LogFile::setPath(QString());
    KeychainService::clearAll();
}

BENCHMARK(BM_OutboxFlushOfAFullOutbox)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

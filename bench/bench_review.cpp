// Answer matching speed: similarity over texts of 10, 100 and 1,000
// user-perceived characters, and one typed-answer decision end to end.
#include "review/AnswerMatching.h"
#include "review/SoundEffects.h"
#include "review/TypingState.h"

#include <benchmark/benchmark.h>

#include <QString>

namespace {

// Deterministic text of `count` characters from `alphabet` (one cluster per
// entry), so the distance table cannot be skipped through a shared prefix.
QString makeText(int count, const QStringList& alphabet, unsigned seed)
{
    QString text;
    unsigned state = seed;
    for (int i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        text += alphabet.at(int((state >> 16) % unsigned(alphabet.size())));
    }
    return text;
}

const QStringList latin = [] {
    QStringList letters;
    for (char c = 'a'; c <= 'z'; ++c)
        letters << QString(QChar(c));
    letters << QStringLiteral(" ");
    return letters;
}();

const QStringList mixed = {QStringLiteral("a"),          QStringLiteral("e\u0301"), QStringLiteral("\u00E9"),
                           QStringLiteral("👍🏽"),  QStringLiteral("🇫🇷"),  QStringLiteral("日"),
                           QStringLiteral("ß"),          QStringLiteral("Ä"),       QStringLiteral(" ")};

void similarityOf(benchmark::State& state, const QStringList& alphabet)
{
    const int count = int(state.range(0));
    const QString a = makeText(count, alphabet, 1);
    const QString b = makeText(count, alphabet, 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(similarity(a, b));
    state.SetLabel(QStringLiteral("%1 characters").arg(count).toStdString());
}

void BM_SimilarityLatin(benchmark::State& state)
{
    similarityOf(state, latin);
}
BENCHMARK(BM_SimilarityLatin)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_SimilarityMixedClusters(benchmark::State& state)
{
    similarityOf(state, mixed);
}
BENCHMARK(BM_SimilarityMixedClusters)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// One near miss in a long text: the shared prefix and suffix are skipped.
void BM_SimilarityOneTypo(benchmark::State& state)
{
    const int count = int(state.range(0));
    const QString a = makeText(count, latin, 3);
    QString b = a;
    b[count / 2] = QChar(u'#');
    for (auto _ : state)
        benchmark::DoNotOptimize(similarity(a, b));
}
BENCHMARK(BM_SimilarityOneTypo)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void submitOnce(benchmark::State& state, const QString& expected, const QString& typed)
{
    SoundEffects::setObserver([](SoundEffects::Sound) {});
    int reported = 0;
    for (auto _ : state) {
        TypingState typing(expected, [&](int q) { reported += q; });
        typing.setInput(typed);
        typing.handleSubmit();
        benchmark::DoNotOptimize(typing.result());
    }
    benchmark::DoNotOptimize(reported);
    SoundEffects::setObserver(nullptr);
}

void BM_HandleSubmitCorrect(benchmark::State& state)
{
    submitOnce(state, QStringLiteral("apple (n.)"), QStringLiteral("Apple"));
}
BENCHMARK(BM_HandleSubmitCorrect)->Unit(benchmark::kMicrosecond);

void BM_HandleSubmitPartialMatch(benchmark::State& state)
{
    submitOnce(state, QStringLiteral("(n.) apple, (v.) to fall; to drop (v.)"), QStringLiteral("to fal"));
}
BENCHMARK(BM_HandleSubmitPartialMatch)->Unit(benchmark::kMicrosecond);

void BM_HandleSubmitWrongLongAnswer(benchmark::State& state)
{
    const QString expected = makeText(300, latin, 5) + QStringLiteral(", ") + makeText(300, latin, 6);
    submitOnce(state, expected, makeText(100, latin, 7));
}
BENCHMARK(BM_HandleSubmitWrongLongAnswer)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

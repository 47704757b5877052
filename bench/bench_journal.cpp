// Notes and journal: the preview of a 100 KB note and the journal search per
// keystroke over 5,000 entries.

#include "journal/JournalListView.h"
#include "journal/JournalText.h"
#include "journal/MarkdownBlocks.h"
#include "journal/MarkdownPreview.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QTextDocument>

#include <benchmark/benchmark.h>

namespace {

// About 100 KB of a typical standardized note: headings, bullets and
// paragraphs with inline markup, code blocks and blank lines.
QString hundredKilobyteNote()
{
    QString note;
    for (int i = 0; note.size() < 100 * 1024; ++i) {
        note += QStringLiteral("## Section %1\n\n").arg(i);
        note += QStringLiteral("Plain words about the **verb** ser and *estar*, with `code` and ~~old~~ notes.\n");
        note += QStringLiteral("- **ser**: identity, origin, time\n- estar: location, states, results\n");
        note += QStringLiteral("A line without any markup at all, just a sentence about the lesson today.\n");
        note += QStringLiteral("```\nlet a = %1 * 2 // **not bold**\nprint(a)\n```\n\n").arg(i);
        note += QStringLiteral("### Example\n\u56f3\u66f8\u9928 is *library*; \u9928 means a building.\n\n");
    }
    return note;
}

QList<JournalEntryData> entries(int count)
{
    const QStringList words = {"spanish", "grammar", "kanji", "Падежи", "verbs", "café", "review", "trouble"};
    QList<JournalEntryData> out;
    for (int i = 0; i < count; ++i) {
        JournalEntryData e;
        e.id = i;
        e.title = QStringLiteral("Entry %1 about %2 and %3").arg(i).arg(words.at(i % 8), words.at((i / 8) % 8));
        e.content = QStringLiteral("content is not searched");
        e.tags = QStringList{words.at(i % 8), words.at((i + 3) % 8), QStringLiteral("tag%1").arg(i % 50)};
        out.append(e);
    }
    return out;
}

void BM_MarkdownParseBlocks100KB(benchmark::State& state)
{
    const QString note = hundredKilobyteNote();
    for (auto _ : state)
        benchmark::DoNotOptimize(Markdown::parseBlocks(note));
    state.SetBytesProcessed(state.iterations() * note.size() * 2);
}
BENCHMARK(BM_MarkdownParseBlocks100KB)->Unit(benchmark::kMillisecond);

// What the learner waits for on switching to the preview: parse, inline
// markup and the document of the first slice (the rest follows in slices of
// the same size from the event loop, each one about this long).
void BM_MarkdownPreview100KBFirstSlice(benchmark::State& state)
{
    const QString note = hundredKilobyteNote();
    MarkdownPreview preview;
    preview.resize(356, 300);
    for (auto _ : state) {
        preview.setText(note);
        benchmark::DoNotOptimize(preview.document()->characterCount());
        state.PauseTiming();
        preview.setText(QString());
        state.ResumeTiming();
    }
}
BENCHMARK(BM_MarkdownPreview100KBFirstSlice)->Unit(benchmark::kMillisecond);

// The whole note in the document, all slices back to back.
void BM_MarkdownPreview100KBWhole(benchmark::State& state)
{
    const QString note = hundredKilobyteNote();
    MarkdownPreview preview;
    preview.resize(356, 300);
    for (auto _ : state) {
        preview.setText(note);
        preview.finishRendering();
        benchmark::DoNotOptimize(preview.document()->characterCount());
        state.PauseTiming();
        preview.setText(QString());
        state.ResumeTiming();
    }
}
BENCHMARK(BM_MarkdownPreview100KBWhole)->Unit(benchmark::kMillisecond);

// One keystroke of the browser's search: the index is built when the
// entries arrive; each keystroke only scans it.
void BM_JournalSearchKeystroke5000(benchmark::State& state)
{
    const QList<JournalEntryData> list = entries(5000);
    const JournalText::SearchIndex index(list);
    const QStringList typed = {"g", "gr", "gra", "gram", "CAF", "café", "пад", "zebra", " "};
    qsizetype i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(index.matches(typed.at(i++ % typed.size())));
}
BENCHMARK(BM_JournalSearchKeystroke5000)->Unit(benchmark::kMicrosecond);

// Without the index: fold every title and tag again on the keystroke.
void BM_JournalSearchKeystroke5000NoIndex(benchmark::State& state)
{
    const QList<JournalEntryData> list = entries(5000);
    const QStringList typed = {"g", "gr", "gra", "gram", "CAF", "café", "пад", "zebra", " "};
    qsizetype i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(JournalText::filterEntries(list, typed.at(i++ % typed.size())));
}
BENCHMARK(BM_JournalSearchKeystroke5000NoIndex)->Unit(benchmark::kMicrosecond);

// The whole keystroke in the browser: the search field's text changes, the
// matches are found and the first page of rows is rebuilt and laid out.
void BM_JournalViewKeystroke5000(benchmark::State& state)
{
    JournalListView view([] {});
    view.show();
    // Showing starts a load; let it fail (no service here) before the
    // entries go in, so nothing arrives during the measurement.
    auto* loading = view.findChild<QLabel*>(QStringLiteral("loadingLabel"));
    QDeadlineTimer deadline(20000);
    while (loading->isVisible() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    view.showEntries(entries(5000));
    QCoreApplication::processEvents();
    auto* field = view.findChild<QLineEdit*>(QStringLiteral("searchField"));
    const QStringList typed = {"g", "gr", "gra", "gram", "CAF", "café", "пад", "zebra", " ", ""};
    qsizetype i = 0;
    for (auto _ : state) {
        field->setText(typed.at(i++ % typed.size()));
        view.layout()->activate();
        QCoreApplication::sendPostedEvents();
    }
}
BENCHMARK(BM_JournalViewKeystroke5000)->Unit(benchmark::kMillisecond);

void BM_JournalSearchIndexBuild5000(benchmark::State& state)
{
    const QList<JournalEntryData> list = entries(5000);
    for (auto _ : state)
        benchmark::DoNotOptimize(JournalText::SearchIndex(list));
}
BENCHMARK(BM_JournalSearchIndexBuild5000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

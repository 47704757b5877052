// Memory of the agent across popups: the real AppDelegate and
// PopupWindowController against a local study service, with the popup delay
// and the after-answer wait scaled down. Reports the resident set size
// (VmRSS) after start and sign-in, after 100 popups and after 200, as
// counters in MB. Needs a Secret Service: run inside scripts/test-env.sh (or
// through scripts/measure-resources.sh, which also gives it a real X display
// with a tray).
#include "api/APIClient.h"
#include "api/KeychainService.h"
#include "app/AppDelegate.h"
#include "app/PopupPanel.h"
#include "app/PopupWindowController.h"
#include "app/RandomSource.h"
#include "core/Log.h"
#include "core/Timing.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>
#include <malloc.h>
#include <memory>
#include "tools/ServiceProcess.h"
#include "BenchSupport.h"

namespace {

void settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

void printBreakdown(const char* when)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return;
    QStringList parts;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("Rss"))
            parts << QString::fromLatin1(line.simplified());
    QFile rollup(QStringLiteral("/proc/self/smaps_rollup"));
    if (rollup.open(QIODevice::ReadOnly))
        for (const QByteArray& line : rollup.readAll().split('\n'))
            if (line.startsWith("Pss:"))
                parts << QString::fromLatin1(line.simplified());
    std::fprintf(stderr, "%s: %s\n", when, qPrintable(parts.join(QStringLiteral(", "))));
}

// The mapped files and regions holding most resident pages, summed per name.
void printTopMappings(int count)
{
    QFile f(QStringLiteral("/proc/self/smaps"));
    if (!f.open(QIODevice::ReadOnly))
        return;
    std::map<QString, qint64> kb;
    QString name;
    static const QRegularExpression header(QStringLiteral("^[0-9a-f]+-[0-9a-f]+ "));
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString line = QString::fromLatin1(raw);
        if (header.match(line).hasMatch()) {
            const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            name = fields.size() > 5 ? fields.mid(5).join(QLatin1Char(' ')) : QStringLiteral("[anon]");
        } else if (line.startsWith(QLatin1String("Rss:"))) {
            kb[name] += line.split(QLatin1Char(' '), Qt::SkipEmptyParts).value(1).toLongLong();
        }
    }
    std::vector<std::pair<qint64, QString>> sorted;
    for (const auto& [n, k] : kb)
        sorted.emplace_back(k, n);
    std::sort(sorted.rbegin(), sorted.rend());
    for (int i = 0; i < count && i < int(sorted.size()); ++i)
        std::fprintf(stderr, "  %6lld kB %s\n", static_cast<long long>(sorted[i].first), qPrintable(sorted[i].second));
}

// Context switches of each thread of this process so far, by thread id.
std::map<QString, long long> contextSwitches()
{
    std::map<QString, long long> byThread;
    const QStringList tasks = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks) {
        QFile f(QStringLiteral("/proc/self/task/%1/status").arg(task));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.contains("ctxt_switches:"))
                byThread[task] += line.split(':').value(1).trimmed().toLongLong();
    }
    return byThread;
}

// Runs the real event loop (no spinning) for `ms`; how often the threads
// that lived throughout were woken meanwhile (the wake-up that ends the
// wait included), and how many threads ended.
std::pair<long long, int> wakeUpsWhileIdle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    const auto before = contextSwitches();
    loop.exec();
    const auto after = contextSwitches();
    long long woke = 0;
    int ended = 0;
    for (const auto& [thread, count] : before) {
        const auto it = after.find(thread);
        if (it == after.end())
            ++ended;
        else
            woke += it->second - count;
    }
    return {woke, ended};
}

double rssMB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression re(QStringLiteral("^VmRSS:\\s+(\\d+) kB"), QRegularExpression::MultilineOption);
    const auto m = re.match(QString::fromLatin1(f.readAll()));
    return m.hasMatch() ? m.captured(1).toDouble() / 1024.0 : -1;
}


ServiceProcess* g_service = nullptr;

bool signIn()
{
    bool done = false, ok = false;
    QObject ctx;
    // The demo account learns Japanese (a CJK fallback font gets loaded); the
    // second account's German deck shows what a Latin-script learner carries.
    const bool german = qgetenv("TAVLO_BENCH_ACCOUNT") == "second";
    APIClient::login(german ? QStringLiteral("second@tavlo.app") : QStringLiteral("demo@tavlo.app"),
                     german ? QStringLiteral("tavlo-second") : QStringLiteral("tavlo-demo"), &ctx, [&](Result<void> r) {
        ok = r.ok();
        done = true;
    });
    waitUntil([&] { return done; });
    return ok;
}

// Runs `count` popups through the real cycle, each answered with a random grade.
bool runPopups(AppDelegate& d, int count, Seeded& rs)
{
    static const int grades[] = {4, 3, 1};
    d.setMinInterval(0.01);
    d.setMaxInterval(0.02);
    d.scheduleNextPopup();
    PopupWindowController* last = nullptr;
    for (int i = 0; i < count; ++i) {
        if (!waitUntil([&] {
                auto* c = d.popupController();
                return c && c != last && c->shownQuestion() && c->panel() && c->panel()->isVisible();
            }))
            return false;
        last = d.popupController();
        last->answerShownCard(grades[rs.below(3)]);
        if (i + 1 == count) {
            d.setMinInterval(300);
            d.setMaxInterval(300);
        }
        if (!waitUntil([&] { return d.popupTimer() != nullptr; }))
            return false;
    }
    return true;
}

void BM_RssAcrossPopups(benchmark::State& state)
{
    if (!g_service) {
        state.SkipWithError("no study service");
        return;
    }
    for (auto _ : state) {
        KeychainService::clearAll();
        AppDelegate d;
        d.applicationDidFinishLaunching();
        if (!signIn()) {
            state.SkipWithError("sign-in failed (no Secret Service? run inside scripts/test-env.sh)");
            return;
        }
        d.updateAccountMenu();
        settle(1000);
        const double atStart = rssMB();
        printBreakdown("after start");
        Seeded rs(7);
        if (!runPopups(d, 100, rs)) {
            state.SkipWithError("a popup did not appear or close");
            return;
        }
        settle(1000);
        const double after100 = rssMB();
        if (!runPopups(d, 100, rs)) {
            state.SkipWithError("a popup did not appear or close");
            return;
        }
        settle(1000);
        const double after200 = rssMB();
        printBreakdown("after 200 popups");
        printTopMappings(12);
        const auto [woke, ended] = wakeUpsWhileIdle(30000);
        state.counters["idle_wakeups_30s_after_popups"] = double(woke);
        std::fprintf(stderr,
                     "Idle 30 s after the popups (next one due in 300 s): %lld context switches, %d threads ended\n",
                     woke, ended);
        malloc_trim(0);
        const double trimmed = rssMB();
        state.counters["rss_200_trimmed_MB"] = trimmed;
        state.counters["rss_start_MB"] = atStart;
        state.counters["rss_100_MB"] = after100;
        state.counters["rss_200_MB"] = after200;
        std::fprintf(stderr, "VmRSS: %.1f MB after start, %.1f MB after 100 popups, %.1f MB after 200, %.1f MB after malloc_trim\n", atStart,
                     after100, after200, trimmed);
        KeychainService::clearAll();
    }
}
BENCHMARK(BM_RssAcrossPopups)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QTemporaryDir logDir;
    LogFile::setPath(logDir.filePath(QStringLiteral("agent.log")));
    // The 2 s wait after an answer becomes 100 ms; requests keep 750 ms.
    const Timing::ScopedScale shorter(0.05);
    Random::setSource(std::make_shared<Seeded>(7));
    ServiceProcess service;
    if (service.start()) {
        g_service = &service;
        qputenv("TAVLO_API_BASE_URL", service.baseURL.toUtf8());
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

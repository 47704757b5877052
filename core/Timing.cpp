#include "core/Timing.h"

#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

namespace Timing {

namespace {
// Read from the keyring's worker thread as well as the main thread.
std::atomic<double> factor{1.0};
std::atomic<double> deadlineFactor{1.0};

std::chrono::milliseconds toInterval(double seconds)
{
    const double ms = std::ceil(seconds * 1000.0);
    return std::chrono::milliseconds(
        static_cast<long long>(std::clamp(ms, 1.0, double(std::numeric_limits<int>::max()))));
}
} // namespace

double scaled(double seconds)
{
    return seconds * factor.load();
}

double unscaled(double seconds)
{
    return seconds / factor.load();
}

std::chrono::milliseconds interval(double seconds)
{
    return toInterval(scaled(seconds));
}

double scaledDeadline(double seconds)
{
    return seconds * deadlineFactor.load();
}

std::chrono::milliseconds deadlineInterval(double seconds)
{
    return toInterval(scaledDeadline(seconds));
}

double cardSessionLimit()
{
    return 2 * (3 * scaledDeadline(requestTimeout) + 4 * scaledDeadline(keyringCall)) + scaled(autoDismiss)
           + scaled(afterAnswer);
}

QTimer* startOneShot(double seconds, QObject* parent, std::function<void()> then)
{
    auto* timer = new QTimer(parent);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(interval(seconds));
    QObject::connect(timer, &QTimer::timeout, timer, [timer, then = std::move(then)]() mutable {
        timer->deleteLater();
        // Moved out first: `then` may delete the parent and with it this lambda.
        auto run = std::move(then);
        run();
    });
    timer->start();
    return timer;
}

ScopedScale::ScopedScale(double pacing, double deadlines)
    : previous_(factor.load()), previousDeadlines_(deadlineFactor.load())
{
    factor = pacing > 0 ? pacing : 1.0;
    deadlineFactor = deadlines > 0 ? deadlines : 1.0;
}

ScopedScale::~ScopedScale()
{
    factor = previous_;
    deadlineFactor = previousDeadlines_;
}

} // namespace Timing

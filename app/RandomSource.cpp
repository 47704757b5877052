#include "app/RandomSource.h"

#include <QMutex>
#include <QMutexLocker>

#include <cerrno>
#include <cstdlib>
#include <sys/random.h>

std::uint64_t RandomSource::below(std::uint64_t bound)
{
    if (bound <= 1)
        return 0;
    // Reject the top sliver of the 64-bit range that does not divide evenly.
    const std::uint64_t limit = UINT64_MAX - (UINT64_MAX % bound + 1) % bound;
    for (;;) {
        const std::uint64_t v = next64();
        if (v <= limit)
            return v % bound;
    }
}

std::uint64_t OsRandomSource::next64()
{
    std::uint64_t value = 0;
    auto* p = reinterpret_cast<unsigned char*>(&value);
    size_t got = 0;
    while (got < sizeof value) {
        const ssize_t n = ::getrandom(p + got, sizeof value - got, 0);
        if (n > 0)
            got += static_cast<size_t>(n);
        else if (n < 0 && errno != EINTR)
            std::abort(); // no entropy source at all: nothing sensible to fall back to
    }
    return value;
}

namespace {
QMutex sourceMutex;
std::shared_ptr<RandomSource> current;
} // namespace

namespace Random {

RandomSource& source()
{
    QMutexLocker lock(&sourceMutex);
    if (!current)
        current = std::make_shared<OsRandomSource>();
    return *current;
}

void setSource(std::shared_ptr<RandomSource> s)
{
    QMutexLocker lock(&sourceMutex);
    current = std::move(s);
}

double drawDelay(double minSeconds, double maxSeconds, RandomSource& rs)
{
    const std::uint64_t k = rs.below(kTwo53 + 1);
    if (k == kTwo53)
        return maxSeconds;
    return minSeconds + (maxSeconds - minSeconds) * (static_cast<double>(k) / static_cast<double>(kTwo53));
}

} // namespace Random

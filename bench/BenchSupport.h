#pragma once
// What the benchmarks that drive the real agent objects share: a seeded
// random source, so every run draws the same cards and delays, and a wait
// that runs the event loop until something holds.
#include "app/RandomSource.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <cstdint>
#include <functional>
#include <random>

class Seeded final : public RandomSource {
public:
    explicit Seeded(std::uint64_t seed) : engine(seed) {}
    std::uint64_t next64() override { return engine(); }
    std::mt19937_64 engine;
};

// Runs the event loop until `done` holds or `timeoutMs` passed; says which.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

#pragma once
#include <cstdint>
#include <memory>

// Where the popup delay, the card pick, the coin flip and the shuffles get
// their randomness. The agent uses the operating system's source; tests put a
// seeded or scripted one in its place.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    // 64 uniformly random bits.
    virtual std::uint64_t next64() = 0;

    // Uniform integer in [0, bound) without modulo bias; bound > 0.
    std::uint64_t below(std::uint64_t bound);
    // 53 random bits: k in [0, 2^53).
    std::uint64_t bits53() { return next64() >> 11; }
    // One fair bit.
    bool coin() { return (next64() >> 63) != 0; }
};

// getrandom(2), retried on interruption.
class OsRandomSource final : public RandomSource {
public:
    std::uint64_t next64() override;
};

namespace Random {
// The source the agent draws from (OsRandomSource unless a test replaced it).
RandomSource& source();
// Replaces the source; nullptr goes back to the operating system's.
void setSource(std::shared_ptr<RandomSource> source);

constexpr std::uint64_t kTwo53 = std::uint64_t(1) << 53;

// A delay uniformly distributed over the closed range [minSeconds, maxSeconds]:
// k is drawn from the 2^53 + 1 values 0...2^53, and k = 2^53 gives exactly the
// maximum, so equal bounds always give that bound.
double drawDelay(double minSeconds, double maxSeconds, RandomSource& rs);
} // namespace Random

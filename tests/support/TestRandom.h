#pragma once
#include "app/RandomSource.h"

#include <deque>
#include <random>

// Reproducible randomness for statistics.
class SeededSource final : public RandomSource {
public:
    explicit SeededSource(std::uint64_t seed) : engine_(seed) {}
    std::uint64_t next64() override { return engine_(); }

private:
    std::mt19937_64 engine_;
};

// Hands out exactly the values queued, then repeats the last one.
class ScriptedSource final : public RandomSource {
public:
    ScriptedSource(std::initializer_list<std::uint64_t> values) : values_(values) {}
    void push(std::uint64_t v) { values_.push_back(v); }
    std::uint64_t next64() override
    {
        if (values_.size() > 1) {
            const auto v = values_.front();
            values_.pop_front();
            return v;
        }
        return values_.empty() ? 0 : values_.front();
    }
    int calls = 0;

private:
    std::deque<std::uint64_t> values_;
};

// Installs a source for one test and puts the operating system's back after.
struct ScopedRandom {
    explicit ScopedRandom(std::shared_ptr<RandomSource> s) { Random::setSource(std::move(s)); }
    ~ScopedRandom() { Random::setSource(nullptr); }
};

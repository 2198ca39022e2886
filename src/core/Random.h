// The one pseudo-random source of the trainer.
#pragma once

#include <cstdint>
#include <functional>

namespace vocarine {

// 0 to n - 1, and 0 when n is 0 (or negative).
int32_t PickRandom(int32_t n);

// Seeds the source from the clock; the program does this once at start-up.
void SeedRandomFromClock();

// Seeds the source with a fixed value, for reproducible draws in tests.
void SeedRandom(uint32_t seed);

// Replaces the source for as long as the object lives (tests script the draws).
// The function gets n and must answer 0..n-1.
class ScopedRandomSource {
public:
    explicit ScopedRandomSource(std::function<int32_t(int32_t)> source);
    ~ScopedRandomSource();
    ScopedRandomSource(const ScopedRandomSource&) = delete;
    ScopedRandomSource& operator=(const ScopedRandomSource&) = delete;

private:
    std::function<int32_t(int32_t)> previous_;
};

}  // namespace vocarine

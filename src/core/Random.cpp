#include "core/Random.h"

#include <chrono>
#include <random>
#include <utility>

namespace vocarine {

namespace {

std::mt19937& Engine()
{
    static std::mt19937 engine{5489u};
    return engine;
}

// Set only while a test scripts the draws.
std::function<int32_t(int32_t)>& Override()
{
    static std::function<int32_t(int32_t)> source;
    return source;
}

}  // namespace

int32_t PickRandom(int32_t n)
{
    if (n <= 0) {
        return 0;
    }
    if (const auto& source = Override()) {
        return source(n);
    }
    // The distribution rejects the engine's surplus values, so every answer is equally likely.
    std::uniform_int_distribution<int32_t> pick(0, n - 1);
    return pick(Engine());
}

void SeedRandomFromClock()
{
    const auto ticks = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count())
                       ^ static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::seed_seq seeds{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
    Engine().seed(seeds);
}

void SeedRandom(uint32_t seed)
{
    Engine().seed(seed);
}

ScopedRandomSource::ScopedRandomSource(std::function<int32_t(int32_t)> source)
    : previous_(std::exchange(Override(), std::move(source)))
{
}

ScopedRandomSource::~ScopedRandomSource()
{
    Override() = std::move(previous_);
}

}  // namespace vocarine

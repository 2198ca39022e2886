#include <gtest/gtest.h>

#include <chrono>

#include "core/PreciseWait.h"

namespace vocarine {
namespace {

using namespace std::chrono_literals;

TEST(PreciseWait, NeverReturnsBeforeTheDeadline)
{
    for (auto ahead : {0us, 100us, 299us, 301us, 1000us, 2500us, 20000us}) {
        const auto deadline = SteadyClock::now() + ahead;
        WaitUntil(deadline);
        EXPECT_GE(SteadyClock::now(), deadline) << ahead.count() << " us ahead";
    }
}

TEST(PreciseWait, ADeadlineInThePastReturns)
{
    const auto deadline = SteadyClock::now() - 1s;
    WaitUntil(deadline);
    EXPECT_GE(SteadyClock::now(), deadline);
}

TEST(PreciseWait, WaitingMillisecondsLastsAtLeastThatLong)
{
    for (int ms : {0, 1, 3, 15}) {
        const auto start = SteadyClock::now();
        WaitMilliseconds(ms);
        EXPECT_GE(SteadyClock::now() - start, std::chrono::milliseconds(ms)) << ms << " ms";
    }
    const auto start = SteadyClock::now();
    WaitMilliseconds(-5);
    EXPECT_GE(SteadyClock::now(), start);
}

}  // namespace
}  // namespace vocarine

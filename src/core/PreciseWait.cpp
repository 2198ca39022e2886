#include "core/PreciseWait.h"

#include <thread>

namespace vocarine {

void WaitUntil(SteadyClock::time_point deadline)
{
    // Sleeping right up to the deadline would let the scheduler's wake-up delay
    // overshoot it; the last stretch is polled instead.
    const auto wake = deadline - PollMargin;
    if (SteadyClock::now() < wake) {
        std::this_thread::sleep_until(wake);
    }
    while (SteadyClock::now() < deadline) {
    }
}

void WaitMilliseconds(int milliseconds)
{
    const auto start = SteadyClock::now();
    WaitUntil(start + std::chrono::milliseconds(milliseconds > 0 ? milliseconds : 0));
}

}  // namespace vocarine

// Waiting for a deadline on the steady clock without burning a processor:
// sleep while the deadline is far, poll only for the last stretch.
#pragma once

#include <chrono>

namespace vocarine {

using SteadyClock = std::chrono::steady_clock;

// How long before the deadline the wait stops sleeping and starts polling.
constexpr std::chrono::microseconds PollMargin{300};

// Returns at the deadline or as soon after it as the clock shows.
void WaitUntil(SteadyClock::time_point deadline);

// Waits at least `milliseconds` from now (0 returns at once).
void WaitMilliseconds(int milliseconds);

}  // namespace vocarine

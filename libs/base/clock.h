// The wall clock (for log lines and archive times) and a monotonic clock (for time-outs).
// Callable from any thread.
#pragma once

#include <cstdint>
#include <ctime>

namespace tessel {

struct WallClock {
    int64_t seconds;       // since the epoch
    int64_t milliseconds;  // since the epoch
};
WallClock wallClockNow();
// The local calendar time of `seconds` since the epoch.
void localTime(int64_t seconds, std::tm* out);
// Milliseconds of a monotonic clock, for time-outs.
int64_t monotonicMilliseconds();

}  // namespace tessel

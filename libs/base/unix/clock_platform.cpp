// Linux clocks.
#include "base/clock.h"

#include <time.h>

namespace tessel {

WallClock wallClockNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return {static_cast<int64_t>(ts.tv_sec),
            static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000};
}

void localTime(int64_t seconds, std::tm* out) {
    time_t t = static_cast<time_t>(seconds);
    localtime_r(&t, out);
}

int64_t monotonicMilliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace tessel

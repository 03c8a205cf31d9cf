// Windows clocks.
#include "base/clock.h"

#include <windows.h>

#include <time.h>

namespace tessel {

WallClock wallClockNow() {
    // 100-nanosecond intervals since 1601-01-01.
    constexpr int64_t kEpochOffset = 116444736000000000LL;
    FILETIME ft{};
    GetSystemTimeAsFileTime(&ft);
    int64_t ticks = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    int64_t ms = (ticks - kEpochOffset) / 10000;
    return {ms / 1000, ms};
}

void localTime(int64_t seconds, std::tm* out) {
    __time64_t t = static_cast<__time64_t>(seconds);
    _localtime64_s(out, &t);
}

int64_t monotonicMilliseconds() {
    return static_cast<int64_t>(GetTickCount64());
}

}  // namespace tessel

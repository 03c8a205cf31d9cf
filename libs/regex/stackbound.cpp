// The stack bound of matching: the calling thread's stack, read once per thread, minus a
// reserve for the frames that run after the check.
#include "regex/stackbound_platform.h"

#include <algorithm>

namespace tessel {
namespace regex {
namespace detail {
namespace {

constexpr uintptr_t kMinReserve = 16 * 1024;
constexpr uintptr_t kMaxReserve = 64 * 1024;
// When the bounds cannot be read: assume this much room below the first measurement.
constexpr uintptr_t kFallbackRoom = 128 * 1024;

struct Bounds {
    uintptr_t base;   // lowest address the stack may grow to
    uintptr_t top;    // one past the highest
    uintptr_t limit;  // base plus the reserve
};

Bounds computeBounds() {
    uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    uintptr_t base = 0;
    uintptr_t top = 0;
    if (threadStack(here, base, top) && base < here && here <= top) {
        uintptr_t reserve = std::clamp<uintptr_t>((top - base) / 4, kMinReserve, kMaxReserve);
        return Bounds{base, top, base + reserve};
    }
    base = here > kFallbackRoom ? here - kFallbackRoom : 0;
    return Bounds{base, ~uintptr_t{0}, base + kMinReserve};
}

// Constant-initialised, so that reading them costs no initialisation check.
thread_local bool t_known = false;
thread_local Bounds t_bounds = {0, 0, 0};

}  // namespace

uintptr_t stackLimit() {
    if (__builtin_expect(!t_known, 0)) {
        t_bounds = computeBounds();
        t_known = true;
    }
    uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    if (here < t_bounds.base || here >= t_bounds.top)
        return 0;
    return t_bounds.limit;
}

}  // namespace detail
}  // namespace regex
}  // namespace tessel

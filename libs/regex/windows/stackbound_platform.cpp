// Stack bounds of the calling thread from the system's thread information.
#include "regex/stackbound_platform.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>

namespace tessel {
namespace regex {
namespace detail {
namespace {

constexpr uintptr_t kMinReserve = 16 * 1024;
constexpr uintptr_t kMaxReserve = 64 * 1024;

struct Bounds {
    uintptr_t base;   // lowest address the stack may grow to
    uintptr_t top;    // one past the highest
    uintptr_t limit;  // base plus the reserve
};

Bounds computeBounds() {
    // The whole reservation of the stack: its pages are committed as the stack grows, down to
    // the allocation base (the last pages are the guard).
    MEMORY_BASIC_INFORMATION region{};
    uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    VirtualQuery(reinterpret_cast<void*>(here), &region, sizeof region);
    uintptr_t base = reinterpret_cast<uintptr_t>(region.AllocationBase);
    uintptr_t top = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    uintptr_t size = top > base ? top - base : 0;
    uintptr_t reserve = std::clamp<uintptr_t>(size / 4, kMinReserve, kMaxReserve);
    return Bounds{base, top, base + reserve};
}

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

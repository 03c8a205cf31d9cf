// Stack bounds of the calling thread from the system's description of its memory.
#include "regex/stackbound_platform.h"

#include <windows.h>

namespace tessel {
namespace regex {
namespace detail {

bool threadStack(uintptr_t here, uintptr_t& base, uintptr_t& top) {
    // The whole reservation of the stack: its pages are committed as the stack grows, down to
    // the allocation base (the last pages are the guard).
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(reinterpret_cast<void*>(here), &region, sizeof region) == 0)
        return false;
    base = reinterpret_cast<uintptr_t>(region.AllocationBase);
    top = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    return true;
}

}  // namespace detail
}  // namespace regex
}  // namespace tessel

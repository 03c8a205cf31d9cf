// The lowest stack address that matching may reach on the calling thread: the thread's stack
// end plus a reserve, so that a match that recurses too deeply stops before it overflows.
#pragma once

#include <cstdint>

namespace tessel {
namespace regex {
namespace detail {

// Computed once per thread. Never 0 on a thread whose stack could be measured.
uintptr_t stackLimit();

}  // namespace detail
}  // namespace regex
}  // namespace tessel

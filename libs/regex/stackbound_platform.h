// The lowest stack address that matching may reach on the calling thread: the thread's stack
// end plus a reserve, so that a match that recurses too deeply stops before it overflows.
#pragma once

#include <cstdint>

namespace tessel {
namespace regex {
namespace detail {

// Computed once per thread. 0 when the calling frame does not lie on the thread's own stack
// (a stack of the program's own making), where no bound can be given.
uintptr_t stackLimit();

}  // namespace detail
}  // namespace regex
}  // namespace tessel

// The calling thread's stack as the system describes it (implemented by unix/ and
// windows/stackbound_platform.cpp), and the lowest address that matching may reach on it.
#pragma once

#include <cstdint>

namespace tessel {
namespace regex {
namespace detail {

// The lowest stack address that matching may reach on the calling thread: the thread's stack
// end plus a reserve, so that a match that recurses too deeply stops before it overflows.
// Computed once per thread. 0 when the calling frame does not lie on the thread's own stack
// (a stack of the program's own making), where no bound can be given.
uintptr_t stackLimit();

// The stack of the calling thread: `base` is the lowest address it may grow to, `top` one past
// its highest. `here` is an address in the caller's frame, which tells the stack apart where
// the system describes memory regions rather than threads. False when the system cannot say.
bool threadStack(uintptr_t here, uintptr_t& base, uintptr_t& top);

}  // namespace detail
}  // namespace regex
}  // namespace tessel

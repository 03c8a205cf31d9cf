// What threads need from the system (implemented by unix/thread_platform.cpp).
#pragma once

#include <cstdint>

namespace tessel {
namespace detail {

// The kernel's identifier of the calling thread.
uint32_t currentThreadId();
// Names the calling thread for debuggers (the system keeps the first 15 bytes).
void setCurrentThreadName(const char* name);
// Runs `routine(argument)` on a new thread with the system's default stack size. The thread
// is detached: nobody joins it, its resources go back to the system when the routine returns.
// `handle` receives the system's handle of the thread. False when the system refuses.
bool startThread(void (*routine)(void*), void* argument, uint64_t* handle);

}  // namespace detail
}  // namespace tessel

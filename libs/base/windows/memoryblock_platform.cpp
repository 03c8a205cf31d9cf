// The thread's cache is closed by a fiber-local storage callback. MinGW's thread_local variables
// live in emulated storage that the thread library frees in its own thread-end pass, and on
// threads it started (std::thread) the thread_local destructors run after that pass: they would
// find the cache pointer gone. The system calls the callback with the value kept in its slot
// however the thread was started, also for the main thread at the program's end.
#include "base/memoryblock_platform.h"

#include <windows.h>

namespace tessel {
namespace detail {

namespace {

void (*g_close)(void*) = nullptr;

void WINAPI closeStored(void* cache) {
    if (cache && g_close)
        g_close(cache);
}

DWORD cacheSlot() {
    static const DWORD slot = FlsAlloc(&closeStored);
    return slot;
}

}  // namespace

void closeAtThreadEnd(void (*close)(void*), void* cache, void (*closed)()) {
    g_close = close;
    const DWORD slot = cacheSlot();
    if (slot == FLS_OUT_OF_INDEXES) {
        // Without a slot the cache is handed back at once; later returns bypass it.
        close(cache);
        closed();
        return;
    }
    // A cache opened again after the thread's variables were freed replaces the earlier one.
    if (void* earlier = FlsGetValue(slot))
        close(earlier);
    FlsSetValue(slot, cache);
}

void closeRegisteredNow() {
    const DWORD slot = cacheSlot();
    if (slot == FLS_OUT_OF_INDEXES)
        return;
    if (void* cache = FlsGetValue(slot)) {
        FlsSetValue(slot, nullptr);
        g_close(cache);
    }
}

}  // namespace detail
}  // namespace tessel

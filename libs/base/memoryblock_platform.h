// What the block pool needs from the system (implemented by unix/memoryblock_platform.cpp and
// windows/memoryblock_platform.cpp): handing a thread's cache back when the thread ends.
#pragma once

namespace tessel {
namespace detail {

// Has `close(cache)` called once when the calling thread ends. Where the thread's variables
// outlive that call (Linux), `closed()` is called after it, so that blocks returned later on
// the thread bypass the cache. On Windows the thread_local variables of a thread may be gone
// before its last destructors run, so `close` must not touch any, and a cache registered
// earlier on the same thread and not closed yet is closed at once.
void closeAtThreadEnd(void (*close)(void*), void* cache, void (*closed)());
// Closes the cache registered on the calling thread now, if one still is (the program's end).
void closeRegisteredNow();

}  // namespace detail
}  // namespace tessel

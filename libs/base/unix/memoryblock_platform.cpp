// The thread's cache is closed by a thread_local object's destructor: the C library runs those
// while the thread's other variables are still there.
#include "base/memoryblock_platform.h"

namespace tessel {
namespace detail {

namespace {

struct CacheCloser {
    void (*close)(void*) = nullptr;
    void* cache = nullptr;
    void (*closed)() = nullptr;

    void closeNow() {
        if (!close)
            return;
        close(cache);
        close = nullptr;
        closed();
    }
    ~CacheCloser() { closeNow(); }
};

thread_local CacheCloser t_closer;

}  // namespace

void closeAtThreadEnd(void (*close)(void*), void* cache, void (*closed)()) {
    CacheCloser& closer = t_closer;
    closer.closeNow();
    closer.close = close;
    closer.cache = cache;
    closer.closed = closed;
}

void closeRegisteredNow() {
    t_closer.closeNow();
}

}  // namespace detail
}  // namespace tessel

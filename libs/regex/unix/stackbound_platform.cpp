// Stack bounds of the calling thread from the thread library.
#include "regex/stackbound_platform.h"

#include <pthread.h>

#include <cstddef>

namespace tessel {
namespace regex {
namespace detail {

bool threadStack(uintptr_t, uintptr_t& base, uintptr_t& top) {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0)
        return false;
    void* low = nullptr;
    size_t size = 0;
    int rc = pthread_attr_getstack(&attr, &low, &size);
    pthread_attr_destroy(&attr);
    if (rc != 0 || size == 0)
        return false;
    base = reinterpret_cast<uintptr_t>(low);
    top = base + size;
    return true;
}

}  // namespace detail
}  // namespace regex
}  // namespace tessel

// Stack bounds of the calling thread from the thread library.
#include "regex/stackbound.h"

#include <pthread.h>

#include <algorithm>
#include <cstddef>

namespace tessel {
namespace regex {
namespace detail {
namespace {

constexpr uintptr_t kMinReserve = 16 * 1024;
constexpr uintptr_t kMaxReserve = 64 * 1024;
// When the bounds cannot be read: assume this much room below the first measurement.
constexpr uintptr_t kFallbackRoom = 128 * 1024;

uintptr_t computeLimit() {
    uintptr_t here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* low = nullptr;
        size_t size = 0;
        int rc = pthread_attr_getstack(&attr, &low, &size);
        pthread_attr_destroy(&attr);
        uintptr_t base = reinterpret_cast<uintptr_t>(low);
        if (rc == 0 && size > 0 && base < here && here - base <= size) {
            uintptr_t reserve = std::clamp<uintptr_t>(size / 4, kMinReserve, kMaxReserve);
            return base + reserve;
        }
    }
    return here > kFallbackRoom ? here - kFallbackRoom : 0;
}

// Constant-initialised, so that reading it costs no initialisation check.
thread_local uintptr_t t_limit = 0;

}  // namespace

uintptr_t stackLimit() {
    if (__builtin_expect(t_limit == 0, 0)) t_limit = computeLimit();
    return t_limit;
}

}  // namespace detail
}  // namespace regex
}  // namespace tessel

#include "channel.h"

#include <errno.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

namespace vexlan {
namespace paceval {

void prepareProcess() {
    signal(SIGPIPE, SIG_IGN);
    // Ended by its CPU limit, it leaves no core file behind.
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
}

namespace {

// Moves all `count` bytes through `step` (read or write on the socket), resuming after signals
// and short transfers. False at the end of the stream or on an error.
template <class Byte, class Step>
bool transferAll(Byte* at, size_t count, Step step) {
    while (count > 0) {
        ssize_t n = step(at, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool readFromClient(void* data, size_t count) {
    return transferAll(static_cast<char*>(data), count,
                       [](char* at, size_t n) { return read(0, at, n); });
}

bool writeToClient(const void* data, size_t count) {
    return transferAll(static_cast<const char*>(data), count,
                       [](const char* at, size_t n) { return write(0, at, n); });
}

void limitCpuTime(uint32_t milliseconds) {
    rusage usage{};
    rlimit limit{};
    if (getrusage(RUSAGE_SELF, &usage) != 0 || getrlimit(RLIMIT_CPU, &limit) != 0)
        return;
    // Whole seconds: the CPU used so far, the evaluation's time and one more second.
    rlim_t seconds = static_cast<rlim_t>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     milliseconds / 1000 + 2;
    if (limit.rlim_max != RLIM_INFINITY && seconds > limit.rlim_max)
        seconds = limit.rlim_max;
    limit.rlim_cur = seconds;
    setrlimit(RLIMIT_CPU, &limit);
}

}  // namespace paceval
}  // namespace vexlan

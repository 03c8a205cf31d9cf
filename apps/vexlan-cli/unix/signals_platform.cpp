// Signal delivery for vexlan-cli on POSIX systems: the signals stay blocked in every thread
// and the watcher thread takes them with sigwait.
#include "vexlan-cli/signals_platform.h"

#include <pthread.h>
#include <signal.h>

namespace vexlancli {
namespace detail {
namespace {

sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    return set;
}

}  // namespace

void watchSignals() {
    // Threads started later inherit the block, so only sigwait receives the signals.
    sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

Signal waitForSignal() {
    sigset_t set = watchedSignals();
    for (;;) {
        int number = 0;
        if (sigwait(&set, &number) != 0)
            continue;
        return number == SIGINT    ? Signal::Interrupt
               : number == SIGTERM ? Signal::Terminate
                                   : Signal::Logs;
    }
}

}  // namespace detail
}  // namespace vexlancli

// Linux side of the process hardening: the argument text that /proc/PID/cmdline shows, and the
// dumpable flag that decides core files, ptrace and the ownership of /proc/PID.
#include "base/process_platform.h"

#include <sys/prctl.h>

#include <cstring>

namespace tessel {
namespace detail {

void eraseArgument(char* argument) {
    // The kernel reads the process list from this very memory: zero bytes show as blanks.
    std::memset(argument, 0, std::strlen(argument));
}

bool setProcessDumpable(bool dumpable) {
    return prctl(PR_SET_DUMPABLE, dumpable ? 1 : 0, 0, 0, 0) == 0;
}

bool processDumpable() {
    return prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 1;
}

}  // namespace detail
}  // namespace tessel

// Windows side of the process hardening. The command line that other processes can read is
// the system's own copy (GetCommandLineW of the process's parameters), not main's vector, so
// erasing an argument clears main's copy only. Windows has no dumpable flag: who may read a
// process's memory is decided by the access rights on the process object, which give a
// user's processes to that user (and administrators) alone; a crash dump is written only by a
// debugger or the error reporting service the user or the administrator set up.
#include "base/process_platform.h"

#include <cstring>

namespace tessel {
namespace detail {

void eraseArgument(char* argument) {
    std::memset(argument, 0, std::strlen(argument));
}

bool setProcessDumpable(bool) {
    return true;
}

bool processDumpable() {
    return false;
}

}  // namespace detail
}  // namespace tessel

// What the process hardening needs from the system (implemented by
// unix/process_platform.cpp).
#pragma once

namespace tessel {
namespace detail {

// Overwrites one argument of main's vector in place, so that the process list no longer
// shows it.
void eraseArgument(char* argument);
// Sets whether the process may leave a core file and be inspected by other processes of the
// user. False when the system refuses.
bool setProcessDumpable(bool dumpable);
bool processDumpable();

}  // namespace detail
}  // namespace tessel

// What the log needs from the system (implemented by unix/ and
// windows/console_platform.cpp).
#pragma once

#include <cstdio>

namespace tessel {
namespace detail {

// Opens `path` for the log: created (or narrowed) to mode 0600 and truncated, never through a
// symbolic link, and only when it is a regular file owned by this user with no other name (a FIFO
// or device there is refused without blocking). The stream appends. Returns null when the file
// cannot or must not be used.
FILE* openLogFile(const char* path);
// Hands one log line (no line end) to an attached debugger, where the system has such a
// channel; nothing otherwise.
void debuggerOutput(const char* text);

}  // namespace detail
}  // namespace tessel

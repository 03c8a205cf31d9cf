// What the log needs from the system (implemented by unix/console_platform.cpp).
#pragma once

#include <cstdio>

namespace tessel {
namespace detail {

// Opens `path` for the log: created (or narrowed) to mode 0600 and truncated, never through a
// symbolic link, and only when it is a regular file owned by this user with no other name (a FIFO
// or device there is refused without blocking). The stream appends. Returns null when the file
// cannot or must not be used.
FILE* openLogFile(const char* path);

}  // namespace detail
}  // namespace tessel

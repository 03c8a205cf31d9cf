// Linux side of the log: opening the log file safely.
#include "base/console_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessel {
namespace detail {

FILE* openLogFile(const char* path) {
    // No O_TRUNC here: the file is only emptied once we know it is ours to write. O_NONBLOCK
    // keeps a FIFO planted at the path from blocking the open; it is dropped once the file is
    // known to be a regular one.
    int fd = open(
        path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1 ||
        ftruncate(fd, 0) != 0 || ((st.st_mode & 07777) != 0600 && fchmod(fd, 0600) != 0)) {
        close(fd);
        return nullptr;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags != -1)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FILE* stream = fdopen(fd, "a");
    if (!stream)
        close(fd);
    return stream;
}

void debuggerOutput(const char*) {
    // Linux debuggers have no output channel of the debugged program: the line goes to the
    // log file and standard output only.
}

}  // namespace detail
}  // namespace tessel

// The services that the base library needs from the operating system. Portable code calls
// these; each platform implements them in its own folder (unix/).
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace tessel {
namespace platform {

struct WallClock {
    int64_t seconds;       // since the epoch
    int64_t milliseconds;  // since the epoch
};
WallClock wallClockNow();
void localTime(int64_t seconds, std::tm* out);
// Milliseconds of a monotonic clock, for time-outs.
int64_t monotonicMilliseconds();

// The kernel's identifier of the calling thread.
uint32_t currentThreadId();
// Names the calling thread for debuggers (the system keeps the first 15 bytes).
void setCurrentThreadName(const char* name);
// Runs `routine(argument)` on a new thread with the system's default stack size. The thread
// is detached: nobody joins it, its resources go back to the system when the routine returns.
// `handle` receives the system's handle of the thread. False when the system refuses.
bool startThread(void (*routine)(void*), void* argument, uint64_t* handle);

// Opens `path` for the log: created (or narrowed) to mode 0600 and truncated, never through a symbolic
// link, and only when it is a regular file owned by this user with no other name (a FIFO or
// device there is refused without blocking). The stream appends. Returns null when the file
// cannot or must not be used.
FILE* openLogFile(const char* path);

// Files. Descriptors are plain ints; -1 means failure (see lastError()).
// A file opened for writing is made the user's alone (0600, whatever the umask or its former
// mode) unless `shared`, which creates it readable by others (0644 less the umask) and leaves
// an existing file's mode as it is.
int openFile(const char* path, bool read, bool write, bool create, bool truncate,
             bool shared = false);
int64_t readFile(int fd, void* data, uint64_t count);         // bytes read, -1 on error
int64_t writeFile(int fd, const void* data, uint64_t count);  // bytes written, -1 on error
void closeFile(int fd);
bool syncFile(int fd);
int64_t fileSize(int fd);
// whence: 0 from the start, 1 from the current position, 2 from the end.
int64_t seekFile(int fd, int64_t offset, int whence);
int lastError();

enum class EntryKind { None, File, Directory, Other };
EntryKind entryKind(const char* path);
bool renamePath(const char* from, const char* to);
bool removeFile(const char* path);
// Creates one folder, the user's alone (0700 whatever the umask).
bool makeDirectory(const char* path);
// Narrows a folder that this user owns and others may enter or read to 0700. Returns its
// former permission bits when it was narrowed, -1 otherwise.
int narrowDirectoryToOwner(const char* path);

std::string currentDirectory();
bool changeDirectory(const char* path);
// The arguments of this process, as the system started it.
std::vector<std::string> commandLineArguments();
// The user's home folder ($HOME, else the password database); empty when unknown.
std::string homeDirectory();
// The user's configuration folder ($XDG_CONFIG_HOME, else home + "/.config").
std::string configDirectory();

// Overwrites one argument of main's vector in place, so that the process list no longer
// shows it.
void eraseArgument(char* argument);
// Sets whether the process may leave a core file and be inspected by other processes of the
// user. False when the system refuses.
bool setProcessDumpable(bool dumpable);
bool processDumpable();

struct OsInfo {
    std::string name;  // PRETTY_NAME of os-release, else system name and release
    int major = 0;     // kernel version
    int minor = 0;
};
// `osReleasePath` is the os-release file to read (tests give their own).
OsInfo osSurvey(const char* osReleasePath = "/etc/os-release");

}  // namespace platform
}  // namespace tessel

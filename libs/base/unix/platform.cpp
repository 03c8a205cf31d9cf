// Linux implementation of the base library's platform services.
#include "base/platform.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessel {
namespace platform {

WallClock wallClockNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return {static_cast<int64_t>(ts.tv_sec),
            static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000};
}

void localTime(int64_t seconds, std::tm* out) {
    time_t t = static_cast<time_t>(seconds);
    localtime_r(&t, out);
}

int64_t monotonicMilliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

uint32_t currentThreadId() {
    thread_local uint32_t cached = static_cast<uint32_t>(syscall(SYS_gettid));
    return cached;
}

void setCurrentThreadName(const char* name) {
    char shortName[16];
    std::strncpy(shortName, name, sizeof shortName - 1);
    shortName[sizeof shortName - 1] = 0;
    pthread_setname_np(pthread_self(), shortName);
}

namespace {

struct StartRecord {
    void (*routine)(void*);
    void* argument;
};

void* threadEntry(void* raw) {
    StartRecord record = *static_cast<StartRecord*>(raw);
    delete static_cast<StartRecord*>(raw);
    record.routine(record.argument);
    return nullptr;
}

}  // namespace

bool startThread(void (*routine)(void*), void* argument, uint64_t* handle) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    auto* record = new StartRecord{routine, argument};
    pthread_t thread{};
    int result = pthread_create(&thread, &attributes, &threadEntry, record);
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        delete record;
        return false;
    }
    if (handle) *handle = static_cast<uint64_t>(thread);
    return true;
}

FILE* openLogFile(const char* path) {
    // No O_TRUNC here: the file is only emptied once we know it is ours to write. O_NONBLOCK
    // keeps a FIFO planted at the path from blocking the open; it is dropped once the file is
    // known to be a regular one.
    int fd = open(path,
                  O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                  0600);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
        st.st_nlink != 1 || ftruncate(fd, 0) != 0 ||
        ((st.st_mode & 07777) != 0600 && fchmod(fd, 0600) != 0)) {
        close(fd);
        return nullptr;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FILE* stream = fdopen(fd, "a");
    if (!stream) close(fd);
    return stream;
}

}  // namespace platform
}  // namespace tessel

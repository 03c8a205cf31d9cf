// Linux threads: pthreads, with the kernel's thread ids.
#include "base/thread_platform.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace tessel {
namespace detail {

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
    if (pthread_attr_init(&attributes) != 0)
        return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    auto* record = new StartRecord{routine, argument};
    pthread_t thread{};
    int result = pthread_create(&thread, &attributes, &threadEntry, record);
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        delete record;
        return false;
    }
    if (handle)
        *handle = static_cast<uint64_t>(thread);
    return true;
}

}  // namespace detail
}  // namespace tessel

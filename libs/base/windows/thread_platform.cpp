// Windows threads: CreateThread, the system's thread ids, and the debugger's thread-naming
// exception.
#include "base/thread_platform.h"

#include <windows.h>

#include <cstring>

namespace tessel {
namespace detail {

namespace {

// The exception that debuggers take as "name this thread".
constexpr DWORD kSetThreadNameException = 0x406D1388;

#pragma pack(push, 8)
struct ThreadNameInfo {
    DWORD type;  // 0x1000
    LPCSTR name;
    DWORD threadId;  // -1: the calling thread
    DWORD flags;
};
#pragma pack(pop)

// A debugger that knows the exception takes it on first chance; one that does not passes it
// on, and this handler resumes the thread, so naming never ends the program.
LONG CALLBACK resumeAfterThreadName(EXCEPTION_POINTERS* pointers) {
    if (pointers->ExceptionRecord->ExceptionCode == kSetThreadNameException)
        return EXCEPTION_CONTINUE_EXECUTION;
    return EXCEPTION_CONTINUE_SEARCH;
}

struct StartRecord {
    void (*routine)(void*);
    void* argument;
};

DWORD WINAPI threadEntry(LPVOID raw) {
    StartRecord record = *static_cast<StartRecord*>(raw);
    delete static_cast<StartRecord*>(raw);
    record.routine(record.argument);
    return 0;
}

// MinGW keeps thread_local variables in emulated storage that the thread library frees by a
// thread-end destructor of its own, and runs the C++ runtime's thread_local destructors by
// another one; the two run in the order in which their keys were made. The storage's key is
// made by the first thread_local access, which normally comes before the first destructor is
// registered: the storage was freed first, and destructors read freed memory. Registering a
// first (empty) destructor from an early constructor makes the runtime's key first: thread_local
// destructors then run while every thread_local variable of their thread still exists.
extern "C" int __cxa_thread_atexit(void (*destructor)(void*), void* object, void* dso);
extern "C" void* __dso_handle;

int g_threadEndAnchor;

void leaveAnchor(void*) {}

__attribute__((constructor(101))) void orderThreadEndDestructors() {
    __cxa_thread_atexit(&leaveAnchor, &g_threadEndAnchor, &__dso_handle);
}

}  // namespace

uint32_t currentThreadId() {
    return static_cast<uint32_t>(GetCurrentThreadId());
}

void setCurrentThreadName(const char* name) {
    // Without a debugger nobody reads the name: raising would only cost time.
    if (!IsDebuggerPresent())
        return;
    static PVOID handler = AddVectoredExceptionHandler(0, &resumeAfterThreadName);
    if (!handler)
        return;
    ThreadNameInfo info{0x1000, name, static_cast<DWORD>(-1), 0};
    RaiseException(kSetThreadNameException, 0, sizeof info / sizeof(ULONG_PTR),
                   reinterpret_cast<const ULONG_PTR*>(&info));
}

bool startThread(void (*routine)(void*), void* argument, uint64_t* handle) {
    auto* record = new StartRecord{routine, argument};
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, &threadEntry, record, 0, &id);
    if (!thread) {
        delete record;
        return false;
    }
    // Nobody waits on the thread by its handle: the system frees it when the routine returns.
    CloseHandle(thread);
    if (handle)
        *handle = id;
    return true;
}

}  // namespace detail
}  // namespace tessel

// Named threads and their registries. A Thread runs its `main` on a new system thread; the
// ThreadManager knows which Thread runs on which system thread; MapThread names the live
// synchronized threads for log lines (currentThreadName) and for the exit report of
// SynchroThread (synchrothread.h), which waits a bounded time at process exit for them.
#pragma once

#include <cstdint>

#include "base/condition.h"
#include "base/dict.h"
#include "base/gcobject.h"
#include "base/mutex.h"
#include "base/string.h"

namespace tessel {

class Thread;

// An object owned by one run of a thread: deleted when that thread's `main` returns.
class ThreadObject {
public:
    virtual ~ThreadObject() = default;
};

// The state of a Thread guarded by its Mutex, and the objects the thread owns.
class ThreadPrivateBase : public gc::ObjectDelete {
public:
    ThreadPrivateBase() = default;
    ~ThreadPrivateBase() override;
    ThreadPrivateBase(const ThreadPrivateBase&) = delete;
    ThreadPrivateBase& operator=(const ThreadPrivateBase&) = delete;
    const char* className() const override { return "ThreadPrivateBase"; }

    Mutex& mutex() { return m_mutex; }
    // Free for the users of the thread; nothing in this library signals it.
    Condition& condition() { return m_condition; }

    // Gives `object` to the thread (replacing and deleting any object under `key`).
    void setObject(uint32_t key, ThreadObject* object);
    // The object under `key`, still owned by the thread, or null.
    ThreadObject* object(uint32_t key);
    // Deletes every owned object (done when `main` returns).
    void deleteObjects();

protected:
    Mutex m_mutex;
    bool m_running = false;
    bool m_finished = false;
    Condition m_condition;

private:
    Dict<uint32_t, ThreadObject*, CriticalSection> m_objects;
};

// What a Thread shares with the system thread that runs it. Counted: the start routine holds
// its own reference, so a Thread deleted while its routine still runs (from its own `main`)
// leaves the routine everything it needs to finish.
class ThreadPrivate : public ThreadPrivateBase {
public:
    ThreadPrivate(const String& name, bool synchronized);
    const char* className() const override { return "ThreadPrivate"; }

    const String& name() const { return m_name; }
    bool isSynchronized() const { return m_synchronized; }
    bool isRunning();
    bool isFinished();
    // The kernel identifier of the running thread, 0 when it does not run.
    uint32_t id();
    // As Thread::wait.
    bool wait(int32_t milliseconds);

private:
    friend class Thread;

    String m_name;  // a terminated copy, read by the start routine
    bool m_synchronized;
    uint64_t m_handle = 0;
    uint32_t m_id = 0;
    [[maybe_unused]] uint32_t m_stackSize = 0;  // always the system's default
    bool m_started = false;                     // the current run has marked itself running
    Condition m_startedCondition;
    Condition m_endedCondition;
};

// A named system thread running `main`. Not copyable.
//
// Lifecycle: created (not running) -> running -> finished; `run` may start it again once it
// has finished. `run`, `wait` and `isRunning` may be called from any thread.
//
// Destruction waits for the thread to end (wait(-1)). A class deriving from Thread must make
// its `main` return and call wait(-1) in its own destructor: its members are destroyed before
// ~Thread runs, while `main` may still be using them. A Thread deleted from its own `main`
// cannot be stopped: it is left to finish (and the fact is logged); `main` must then not touch
// the object again.
//
// A synchronized thread is registered by name (log lines carry it) and counted by the exit
// wait of SynchroThread.
class Thread {
public:
    Thread(const String& name, bool synchronized);
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // The body, run on the new thread. An exception that leaves it is reported on standard
    // error and ends the thread normally.
    virtual void main() = 0;

    // Starts the thread unless it is already running (then nothing happens, nothing waits).
    // Unless `noWait`, returns only once the new thread runs. From this call on, isRunning
    // is true and wait waits for the end of this run.
    void run(bool noWait = false);
    // Waits up to `milliseconds` (-1: for ever) for the end of the thread. Returns false at
    // once when called from the thread itself, true at once when the thread does not run or
    // has finished, otherwise whether the end came in time.
    bool wait(int32_t milliseconds);
    bool isRunning();

    const String& name() const { return m_name; }
    bool isSynchronized() const { return m_synchronized; }
    // The kernel identifier of the running thread, 0 when it does not run.
    uint32_t id();
    gc::Pointer<ThreadPrivate> privatePart() const { return m_private; }

    // The Thread running the calling code: the started Thread, the MainThread on the
    // process's initial thread, null on threads this library did not start.
    static Thread* current();

private:
    static void startRoutine(void* argument);

    String m_name;
    bool m_synchronized;
    gc::Pointer<ThreadPrivate> m_private;
};

// Stands for the process's initial thread; it is never run.
class MainThread : public Thread {
public:
    MainThread() : Thread("MainThread", true) {}
    // Must never be called: it only logs the mistake.
    void main() override;
};

// Which Thread runs on which system thread. One per process, created before `main` of the
// program and never destroyed (threads still running at exit may use it).
class ThreadManager {
public:
    static ThreadManager& instance();

    // Records `thread` as the Thread of the calling system thread.
    void addCurrentThread(Thread* thread);
    // Forgets the calling system thread; false when it was not recorded.
    bool removeCurrentThread();
    // The Thread of the calling system thread (see Thread::current).
    Thread* currentThread() const;
    // The Thread running with kernel identifier `id`, or null.
    Thread* find(uint32_t id);
    MainThread& mainThread() { return *m_mainThread; }

private:
    ThreadManager();

    Dict<uint32_t, Thread*, CriticalSection> m_threads;
    MainThread* m_mainThread;
};

// A live synchronized thread, as MapThread knows it.
struct LiveThread {
    String name;
    Thread* thread = nullptr;  // not owned; for identification only
};

// The registry of live synchronized threads, keyed by kernel thread identifier. One per
// process (held by a process-wide gc::Pointer, never released: threads still running at exit
// may use it). Every operation takes its InternalMutex briefly.
class MapThread : public gc::ObjectDelete {
public:
    static MapThread& instance();
    const char* className() const override { return "MapThread"; }

    void add(uint32_t id, const String& name, Thread* thread);
    void remove(uint32_t id);
    // The name registered for `id`; false when there is none.
    bool nameOf(uint32_t id, String& name);
    uint32_t count() { return m_threads.count(); }
    // The registered threads at this moment, in identifier order.
    gc::Pointer<ArrayBlock<DictItem<uint32_t, LiveThread>>> snapshot() {
        return m_threads.snapshot();
    }

private:
    Dict<uint32_t, LiveThread, InternalMutex> m_threads;
};

// The name of the registered synchronized thread running this call, or else its kernel
// thread identifier in decimal. Used by every log line.
String currentThreadName();

// The kernel's identifier of the calling thread (the id under which Thread registers it).
uint32_t currentThreadId();

}  // namespace tessel
